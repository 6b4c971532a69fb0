// 'qmx check' on files damaged on purpose: it passes on what 'qmx demo' writes and names the
// damaged object when one object's metadata is overwritten.
#include "ToolTestSupport.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <tuple>

namespace Quellmar::testing {
namespace {

// File offset of an object's header, as h5ls reports it ("Location: 1:1832").
long long headerAddress(const std::string& file, const std::string& path) {
    const std::string command = "h5ls -v '" + file + path + "' 2>/dev/null";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    if (!pipe)
        return -1;
    char line[512];
    while (std::fgets(line, sizeof line, pipe.get())) {
        const std::string text = line;
        const auto at = text.find("Location:");
        if (at == std::string::npos)
            continue;
        const auto colon = text.find(':', text.find("1:", at));
        return std::stoll(text.substr(colon + 1));
    }
    return -1;
}

void overwrite(const std::string& file, long long offset, const std::string& bytes) {
    std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(offset);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The progress line is drawn on stderr only when stderr is a terminal.
TEST_F(QmxTool, CheckPassesOnEverythingDemoWritesAndShowsProgressOnATerminalOnly) {
    const std::string file = demo();
    const ToolResult r =
        expectOut({"check", file}, 0, {": ok (format version ", "6 groups, 6 objects, 9 vectors"});
    EXPECT_TRUE(r.err.empty()) << r.err;
    EXPECT_EQ(r.out.find('\r'), std::string::npos);
    EXPECT_EQ(python("import json,sys\nd=json.load(sys.stdin)\n"
                     "print(d['ok'], d['objects'], d['vectors'], len(d['problems']))\n",
                     runQmx({"check", "--json", file}).out),
              "True 6 9 0\n");

    // script(1) gives the tool a pseudo-terminal: the bar appears and is cleared before the result.
    if (::access("/usr/bin/script", X_OK) != 0)
        GTEST_SKIP() << "script(1) is not installed";
    const std::string log = dir.file("tty.log");
    const std::string command = "/usr/bin/script -qec \"" + std::string(QMX_BINARY) + " check " +
                                file + "\" " + log + " > /dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::string screen = readFile(log);
    EXPECT_NE(screen.find("checking ["), std::string::npos) << screen;
    EXPECT_NE(screen.find("\r\x1b[K"), std::string::npos) << screen;
    EXPECT_NE(screen.find(": ok (format version"), std::string::npos) << screen;
}

TEST_F(QmxTool, CheckNamesTheObjectWhoseHeaderIsDamaged) {
    for (const std::string path :
         {"/models/gearbox", "/results/temperatures", "/results/samples"}) {
        const std::string file = demo("damaged" + std::to_string(path.size()) + ".qmz");
        const long long address = headerAddress(file, path);
        ASSERT_GT(address, 0) << path;
        overwrite(file, address, std::string(16, '\xff'));

        expectOut({"check", file}, 1, {file + ": " + path + ": ", "1 problem"});
        const std::string json = python(
            "import json,sys\nd=json.load(sys.stdin)\nprint(d['ok'], [p['path'] for p in "
            "d['problems']])\n",
            runQmx({"check", "--json", file}).out);
        EXPECT_EQ(json, "False ['" + path + "']\n");
        // The rest of the file still reads.
        EXPECT_EQ(runQmx({"get", file, "models", "notes"}).exitCode, 0);
    }
}

TEST_F(QmxTool, CheckOfATruncatedFileReportsTheFile) {
    const std::string file = demo();
    const std::string bytes = readFile(file);
    writeFile(file, bytes.substr(0, bytes.size() - 100));
    expectOut({"check", file}, 1, {file + ": /: ", "damaged or truncated"});
}

}  // namespace
// Deletes attributes with h5py: the root's when item is "/", else the item's.
void deleteAttribute(const std::string& file, const std::string& item, const std::string& name) {
    withH5py(file, "    del f['" + item + "'].attrs['" + name + "']");
}

// Lost checksums and a lost mark on the root are damage in files that say their items carry
// checksums; files from before checksums still pass.
TEST_F(QmxTool, CheckReportsLostChecksumsAndALostChecksumMarker) {
    const std::string lostChecksum = demo("lost.qmz");
    const std::string listing = runQmx({"ls", "-l", lostChecksum}).out;
    const std::string fullListing = runQmx({"ls", "-l", "--all", lostChecksum}).out;
    deleteAttribute(lostChecksum, "/results/temperatures", "QMZ_CRC32C");
    // The listing hides the library's own attributes, so reads the same; the full one sees it.
    EXPECT_EQ(runQmx({"ls", "-l", lostChecksum}).out, listing);
    EXPECT_NE(runQmx({"ls", "-l", "--all", lostChecksum}).out, fullListing);
    expectOut(
        {"check", lostChecksum}, 1,
        {lostChecksum + ": /results/temperatures: ", "checksum attribute is missing", "1 problem"});

    // The marker is one of the root's attributes: losing it breaks their checksum.
    const std::string lostMarker = demo("unmarked.qmz");
    deleteAttribute(lostMarker, "/", "QMZ_CHECKSUMS");
    expectOut({"check", lostMarker}, 1, {lostMarker + ": /: ", "attribute checksum mismatch"});

    // Both lost at once: the items still tell.
    const std::string lostBoth = demo("both.qmz");
    deleteAttribute(lostBoth, "/", "QMZ_CHECKSUMS");
    deleteAttribute(lostBoth, "/", "QMZ_ATTR_CRC32C");
    expectOut({"check", lostBoth}, 1,
              {lostBoth + ": /: checksum marker \"QMZ_CHECKSUMS\" missing", "1 problem"});

    // Written before checksums: no marker, no checksums on items or attributes.
    const std::string old = demo("old.qmz");
    withH5py(old,
             "    def strip(name, obj):\n"
             "        for key in ('QMZ_CRC32C', 'QMZ_ATTR_CRC32C', 'QMZ_CHECKSUMS'):\n"
             "            if key in obj.attrs: del obj.attrs[key]\n"
             "    f.visititems(strip)\n"
             "    strip('/', f)");
    expectOut({"check", old}, 0);
}

// A size of 0 where the vector held 8 elements: its header no longer holds together (the
// compact data are 8 bytes), which the check of its stored header finds before any read.
TEST_F(QmxTool, CheckReadsEmptyVectorsToo) {
    const std::string file = demo();
    std::string bytes = readFile(file);
    const std::string eight = std::string("\x08", 1) + std::string(7, '\0');
    const auto at = bytes.find(eight + eight);
    ASSERT_NE(at, std::string::npos);
    ASSERT_EQ(bytes.find(eight + eight, at + 1), std::string::npos);
    bytes.replace(at, 16, std::string(16, '\0'));
    writeFile(file, bytes);
    expectOut(
        {"check", file}, 1,
        {file + ": /results/flags: ", "compact data's size does not match the dataset's shape"});
}

// One byte of a link name: the object reads under another name, so its checksum, and for a
// group those of its attributes and of everything below it, no longer match.
TEST_F(QmxTool, CheckReportsAnObjectShownUnderAnotherName) {
    for (const auto& [name, renamed, reported] :
         {std::tuple<std::string, std::string, std::string>{"gearbox", "gearbpx",
                                                            "/models/gearbpx"},
          {"temperatures", "temperaturez", "/results/temperaturez"},
          {"materials", "materiels", "/materiels"}}) {
        const std::string file = demo(name + ".qmz");
        std::string bytes = readFile(file);
        const std::string find = name + '\0';
        const auto at = bytes.find(find);
        ASSERT_NE(at, std::string::npos) << name;
        ASSERT_EQ(bytes.find(find, at + 1), std::string::npos) << name;
        bytes.replace(at, find.size(), renamed + '\0');
        writeFile(file, bytes);
        expectOut({"check", file}, 1, {file + ": " + reported + ": ", "checksum mismatch"});
    }
}

// A symbol-table node whose member count is zeroed: HDF5 lists its group short without an
// error, so only the check of the stored member index sees it. Every node of the demo in turn.
TEST_F(QmxTool, CheckReportsAGroupThatLostItsMembers) {
    const std::string original = readFile(demo());
    std::size_t nodes = 0;
    for (auto at = original.find("SNOD"); at != std::string::npos;
         at = original.find("SNOD", at + 1)) {
        const std::string file = dir.file("node" + std::to_string(++nodes) + ".qmz");
        std::string bytes = original;
        bytes[at + 6] = bytes[at + 7] = '\0';
        writeFile(file, bytes);
        expectOut({"check", file}, 1, {"is damaged: a symbol-table node lists no members"});
    }
    EXPECT_GE(nodes, 6u);  // the root and every group below it
}

// Files written before checksums covered paths (marker 1) or item types (marker 2) still pass,
// also after compaction, and keep their form.
TEST_F(QmxTool, CheckAcceptsFilesOfEarlierChecksumForms) {
    struct Sample {
        const char* original;
        const char* counts;
        const char* marker;
    };
    for (const Sample& sample :
         {Sample{QMX_PLAIN_CHECKSUMS_FILE, "6 groups, 6 objects, 9 vectors", "1\n"},
          Sample{QMX_NAMED_CHECKSUMS_FILE, "4 groups, 2 objects, 5 vectors", "2\n"}}) {
        const std::string file = dir.file("earlier.qmz");
        writeFile(file, readFile(sample.original));
        expectOut({"check", file}, 0, {sample.counts});
        expectOut({"compact", file}, 0);
        expectOut({"check", file}, 0);
        EXPECT_EQ(python("import "
                         "h5py,sys\nprint(int(h5py.File(sys.stdin.read().strip(),'r').attrs['QMZ_"
                         "CHECKSUMS']))\n",
                         file),
                  sample.marker);
    }
}

}  // namespace Quellmar::testing
