// What `ls -l` shows of the library's own attributes, and --json output read back by Python's
// json module: every document parses, awkward text arrives as the same text.
#include "ToolTestSupport.h"

namespace Quellmar::testing {
namespace {

const char* const kBookkeeping[] = {"@QMZ_CRC32C", "@QMZ_ATTR_CRC32C", "@QMZ_CHECKSUMS",
                                    "@QMZ_FORMAT ", "@QMZ_FORMAT_VERSION"};

TEST_F(QmxTool, LongListingLeavesOutTheLibrarysOwnAttributesUnlessAll) {
    const std::string file = demo();
    const ToolResult shown = expectOut({"ls", "-l", file}, 0);
    for (const char* name : kBookkeeping)
        EXPECT_FALSE(contains(shown.out, name)) << name << shown.out;
    // What the host wrote stays, and so does the object-group mark.
    for (const char* kept :
         {"@Version = 3", "@Id = \"MDL-2041\"", "@Rows = 4", "@QMZ_OBJECT_GROUP = 1"})
        EXPECT_TRUE(contains(shown.out, kept)) << kept << shown.out;

    const ToolResult all = expectOut({"ls", "-l", "--all", file}, 0);
    for (const char* expected : {"@QMZ_FORMAT = \"QMZ\"", "@QMZ_FORMAT_VERSION = 1",
                                 "@QMZ_CHECKSUMS = 3", "@QMZ_CRC32C = ", "@QMZ_ATTR_CRC32C = "})
        EXPECT_TRUE(contains(all.out, expected)) << expected << all.out;
    // Only attribute lines are added: every line of the short form is in the long one, in order.
    std::size_t at = 0;
    for (std::size_t start = 0, end; (end = shown.out.find('\n', start)) != std::string::npos;
         start = end + 1) {
        at = all.out.find(shown.out.substr(start, end - start + 1), at);
        ASSERT_NE(at, std::string::npos) << shown.out.substr(start, end - start);
    }
    EXPECT_GT(lineCount(all.out), lineCount(shown.out));
    EXPECT_EQ(runQmx({"ls", "-a", "-l", file}).out, all.out);
    // Without -l there are no attribute lines to show either way.
    EXPECT_EQ(runQmx({"ls", "--all", file}).out, runQmx({"ls", file}).out);
    EXPECT_TRUE(contains(runQmx({"ls", "--help"}).out, "  -a, --all")) << "help names --all";
}

TEST_F(QmxTool, JsonListingHidesTheSameAttributesAndAllBringsThemBack) {
    const std::string file = demo();
    const std::string script = R"(
import json, sys
d = json.load(sys.stdin)
a = {o["path"]: o["attributes"] for o in d["objects"]}
own = sorted({k for attrs in a.values() for k in attrs if k.startswith("QMZ_") and k != "QMZ_OBJECT_GROUP"})
print(own, a["/"].get("QMZ_FORMAT"), a["/"].get("QMZ_FORMAT_VERSION"), a["/models"]["Id"])
)";
    EXPECT_EQ(python(script, runQmx({"ls", "--json", "-l", file}).out), "[] None None MDL-2041\n");
    EXPECT_EQ(
        python(script, runQmx({"ls", "--json", "-l", "--all", file}).out),
        "['QMZ_ATTR_CRC32C', 'QMZ_CHECKSUMS', 'QMZ_CRC32C', 'QMZ_FORMAT', 'QMZ_FORMAT_VERSION'] "
        "QMZ 1 MDL-2041\n");
}

TEST_F(QmxTool, EveryJsonOutputParsesAsOneDocument) {
    const std::string file = demo();
    const std::string damaged = demo("damaged.qmz");
    withH5py(damaged, "    del f['results/temperatures'].attrs['QMZ_CRC32C']");
    const std::string plain = dir.file("plain.h5");
    withH5py(plain, "    f.create_dataset('v', data=numpy.arange(3, dtype='<f8'))", "w");
    struct Case {
        std::vector<std::string> args;
        int exitCode;
    };
    const std::vector<Case> cases = {
        {{"ls", "--json", file}, 0},
        {{"ls", "--json", "-l", file}, 0},
        {{"ls", "--json", "-l", "--all", file}, 0},
        {{"ls", "--json", file, "results/mesh"}, 0},
        {{"ls", "--json", "-l", "--native", plain}, 0},
        {{"check", "--json", file}, 0},
        {{"check", "--json", damaged}, 1},
        {{"check", "--json", "--native", plain}, 0},
    };
    for (const Case& c : cases) {
        const ToolResult r = runQmx(c.args);
        std::string joined;
        for (const std::string& a : c.args)
            joined += a + " ";
        EXPECT_EQ(r.exitCode, c.exitCode) << joined << describe(r);
        // One line, one JSON object.
        EXPECT_EQ(lineCount(r.out), 1u) << joined << r.out;
        EXPECT_EQ(
            python("import json, sys\nprint(type(json.loads(sys.stdin.read())).__name__)\n", r.out),
            "dict\n")
            << joined << r.out;
    }
}

TEST_F(QmxTool, AwkwardNamesArriveInJsonAsTheSameText) {
    const std::string file = demo();
    // Quotes, backslashes, control characters and non-ASCII UTF-8 pass through as themselves;
    // bytes that are no UTF-8 become U+FFFD rather than breaking the document.
    for (const std::string& name : {std::string("q\"uote\\back\ttab\x01"
                                                "ctl"),
                                    std::string("caf\xc3\xa9"),
                                    std::string("bad\xff"
                                                "byte")}) {
        const ToolResult put = runQmx({"put", file, "models", name}, "x");
        ASSERT_EQ(put.exitCode, 0) << describe(put);
    }
    const ToolResult ls = expectOut({"ls", "--json", file, "models"}, 0);
    EXPECT_EQ(
        python(
            "import json, sys\nd = json.load(sys.stdin)\n"
            "names = sorted(o['path'][len('/models/'):] for o in d['objects'] if o['kind'] != "
            "'object group')\n"
            "print(json.dumps([n for n in names if n not in ('gearbox', 'housing', 'notes')]))\n",
            ls.out),
        "[\"bad\\ufffdbyte\", \"caf\\u00e9\", \"q\\\"uote\\\\back\\ttab\\u0001ctl\"]\n");
}

}  // namespace
}  // namespace Quellmar::testing
