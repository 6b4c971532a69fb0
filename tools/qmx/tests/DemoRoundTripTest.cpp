// Every command on the container 'qmx demo' writes: what it shows, what it reads back, and
// that what it writes reads back the same.
#include "ToolTestSupport.h"

namespace Quellmar::testing {
namespace {

TEST_F(QmxTool, DemoRefusesToOverwriteUnlessForced) {
    const std::string file = demo();
    const std::string before = readFile(file);
    expectErr({"demo", file}, 1, {"already exists"});
    EXPECT_EQ(readFile(file), before);
    expectOut({"demo", "--force", file}, 0);
    EXPECT_EQ(runQmx({"check", file}).exitCode, 0);
}

TEST_F(QmxTool, LsShowsEveryKindWithSizesShapesAndMembersOfAGroupOrAll) {
    const std::string file = demo();
    const ToolResult r = expectOut({"ls", file}, 0);
    EXPECT_TRUE(r.err.empty()) << r.err;
    for (const char* expected :
         {"models/",
          "object group, version 3",
          "gearbox",
          "opaque, 2048 bytes",
          "housing",
          "opaque, 640 bytes",
          "notes",
          "string, 58 bytes",
          "materials/",
          "object group, version 1",
          "Design/",
          "object group (design), version 1",
          "Layout",
          "opaque, 512 bytes",
          "results/",
          "temperatures",
          "vector, 24 x float64",
          "pressures",
          "vector, 24 x float32",
          "counts",
          "vector, 6 x int32",
          "flags",
          "vector, 8 x uint8",
          "ids",
          "vector, 4 x uint64",
          "samples",
          "compound vector, 4 x {id: int32, position: float64[3], weight: float32, flag: uint8}",
          "mesh/",
          "nodes",
          "array, 4 x 3 float64",
          "connectivity",
          "array, 2 x 3 int32",
          "cells",
          "compound array, 2 x 2 {material: int16, volume: float64}"})
        EXPECT_TRUE(contains(r.out, expected)) << expected << "\n" << r.out;
    // Without -l no attribute lines; with -l the bookkeeping values of the demo.
    EXPECT_FALSE(contains(r.out, "@Version"));
    const ToolResult l = expectOut({"ls", "-l", file}, 0);
    for (const char* expected :
         {"@Version = 3", "@Id = \"MDL-2041\"", "@HashValue = \"5f2c8e1a\"",
          "@MaximumIdentifierValue = 4096", "@MaximumIdentifierValueHigh = 2",
          "@CreationRevisionString = \"2.4.1\"", "@LastModifiedRevisionString = \"2.4.3\"",
          "@Id = \"DSN-0001\"", "@Rows = 4", "@Cols = 3", "@Compound = 1"})
        EXPECT_TRUE(contains(l.out, expected)) << expected << "\n" << l.out;

    // One group only, and a group that is not there.
    const ToolResult mesh = expectOut({"ls", file, "/results/mesh"}, 0, {"nodes"});
    EXPECT_FALSE(contains(mesh.out, "temperatures")) << mesh.out;
    EXPECT_FALSE(contains(mesh.out, "gearbox")) << mesh.out;
    const ToolResult missing = expectErr({"ls", file, "nowhere"}, 1, {"/nowhere: no such group"});
    EXPECT_EQ(lineCount(missing.err), 1u) << missing.err;
}

TEST_F(QmxTool, LsJsonIsValidAndCarriesTheSameFacts) {
    const std::string file = demo();
    const ToolResult r = expectOut({"ls", "--json", "-l", file}, 0);
    const std::string facts = python(R"(
import json, sys
d = json.load(sys.stdin)
o = {x["path"]: x for x in d["objects"]}
print(o["/models"]["kind"], o["/models"]["version"], o["/models"]["attributes"]["Id"])
print(o["/models/gearbox"]["kind"], o["/models/gearbox"]["bytes"])
print(o["/models/notes"]["kind"], o["/models/notes"]["bytes"])
print(o["/results/mesh/nodes"]["kind"], o["/results/mesh/nodes"]["rows"], o["/results/mesh/nodes"]["cols"], o["/results/mesh/nodes"]["elementType"])
print(o["/results/temperatures"]["count"], o["/results/temperatures"]["elementType"])
print(",".join(m["name"] + ":" + m["type"] + ":" + str(m["count"]) for m in o["/results/samples"]["members"]))
print(o["/Design"]["design"], o["/"]["kind"], type(d["formatVersion"]).__name__)
print(o["/models"]["attributes"]["MaximumIdentifierValue"])
)",
                                     r.out);
    EXPECT_EQ(facts,
              "object group 3 MDL-2041\n"
              "opaque 2048\n"
              "string 58\n"
              "array 4 3 float64\n"
              "24 float64\n"
              "id:int32:1,position:float64:3,weight:float32:1,flag:uint8:1\n"
              "True group int\n"
              "4096\n");
}

TEST_F(QmxTool, GetWritesExactBytesAndRefusesWhatIsNoObject) {
    const std::string file = demo();
    const ToolResult notes = expectOut({"get", file, "models", "notes"}, 0);
    EXPECT_EQ(notes.out, "Gearbox assembly, revision C.\nHousing cast in EN-GJL-250.\n");
    const ToolResult design =
        expectOut({"get", file, "/Design", "Layout", "-o", dir.file("layout")}, 0);
    EXPECT_EQ(readFile(dir.file("layout")).size(), 512u);
    EXPECT_TRUE(design.out.empty());
    // Group spelled in any of the ways a user might.
    for (const char* group : {"models", "/models", "//models/", "models/."}) {
        const ToolResult g = expectOut({"get", file, group, "gearbox"}, 0);
        EXPECT_EQ(g.out.size(), 2048u) << group;
    }
    const std::vector<std::vector<std::string>> refused = {
        {"get", file, "models", "missing"},        // no such object
        {"get", file, "results", "temperatures"},  // a vector
        {"get", file, "/", "models"},              // a group
        {"get", file, "nowhere", "x"},             // no such group
    };
    for (const auto& args : refused) {
        const ToolResult r = expectOut(args, 1);
        EXPECT_TRUE(r.out.empty()) << r.out;
        EXPECT_EQ(lineCount(r.err), 1u) << r.err;
    }
    EXPECT_TRUE(contains(runQmx({"get", file, "results", "temperatures"}).err, "use 'qmx cat'"));
}

TEST_F(QmxTool, PutStoresReplacesAndReadsBackBinaryBytes) {
    const std::string file = demo();
    std::string bytes;
    for (int i = 0; i < 3000; ++i)
        bytes += static_cast<char>((i * 37) % 256);  // zeros included
    writeFile(dir.file("in.bin"), bytes);

    // New object in a new object group, from a file.
    const ToolResult created =
        runQmx({"put", file, "parts/bolts", "m8", dir.file("in.bin"), "--group-version", "5"});
    ASSERT_EQ(created.exitCode, 0) << describe(created);
    EXPECT_EQ(created.out, "created /parts/bolts/m8: 3000 bytes (opaque)\n");
    EXPECT_EQ(runQmx({"get", file, "parts/bolts", "m8"}).out, bytes);
    const ToolResult ls = runQmx({"ls", file, "parts/bolts"});
    EXPECT_TRUE(contains(ls.out, "object group, version 5")) << ls.out;

    // Replacing from stdin with a different size keeps the kind (string stays string).
    const ToolResult replaced = expectOut({"put", file, "models", "notes"}, 0, {}, "short\n");
    EXPECT_EQ(replaced.out, "replaced /models/notes: 6 bytes (string)\n");
    EXPECT_EQ(runQmx({"get", file, "models", "notes"}).out, "short\n");

    // A new string object, and the design object replaced through its own DAO.
    ASSERT_EQ(runQmx({"put", "--string", file, "materials", "copper", "-"}, "Cu").exitCode, 0);
    EXPECT_TRUE(contains(runQmx({"ls", file, "materials"}).out, "string, 2 bytes"));
    ASSERT_EQ(runQmx({"put", file, "Design", "Layout"}, bytes).exitCode, 0);
    EXPECT_EQ(runQmx({"get", file, "Design", "Layout"}).out, bytes);

    // Everything else is still there and sound.
    expectOut({"check", file}, 0);
    EXPECT_EQ(runQmx({"get", file, "models", "gearbox"}).out.size(), 2048u);
}

TEST_F(QmxTool, PutRefusesWhatWouldDamageOrMislead) {
    const std::string file = demo();
    const std::string listing = runQmx({"ls", "-l", file}).out;
    struct Case {
        std::vector<std::string> args;
        std::string input;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"put", file, "models", "empty"}, "", "empty object"},
        {{"put", file, "results", "temperatures"}, "data", "not an object group"},
        {{"put", file, "results/mesh", "x"}, "data", "not an object group"},
        {{"put", "--string", file, "models", "gearbox"}, "data", "stays opaque"},
        {{"put", file, "models", "/x/"}, "data", "cannot address"},
        {{"put", file, "models", "a", dir.file("no-such-input")}, "", "No such file"},
    };
    for (const Case& c : cases) {
        const ToolResult r = expectErr(c.args, 1, {c.message}, c.input);
        EXPECT_EQ(lineCount(r.err), 1u) << r.err;
    }
    EXPECT_EQ(runQmx({"ls", "-l", file}).out, listing);
    EXPECT_EQ(runQmx({"check", file}).exitCode, 0);
}

TEST_F(QmxTool, CatPrintsVectorsArraysAndRecords) {
    const std::string file = demo();
    const ToolResult counts = expectOut({"cat", file, "results", "counts"}, 0);
    EXPECT_EQ(counts.out, "12\n7\n0\n3\n41\n5\n");
    EXPECT_EQ(runQmx({"cat", file, "results", "ids"}).out,
              "1000001\n1000002\n1000017\n18446744073709551615\n");
    const ToolResult temperatures = runQmx({"cat", file, "/results/", "temperatures"});
    EXPECT_EQ(lineCount(temperatures.out), 24u);
    EXPECT_EQ(temperatures.out.substr(0, 15), "20\n20.25\n20.5\n2");
    EXPECT_EQ(runQmx({"cat", file, "results/mesh", "connectivity"}).out, "0 1 2\n0 2 3\n");
    EXPECT_EQ(runQmx({"cat", "--csv", file, "results/mesh", "nodes"}).out,
              "0,0,0\n1,0,0\n1,1,0\n0,1,0.5\n");
    EXPECT_EQ(runQmx({"cat", file, "results", "samples"}).out,
              "1\t0 0 0\t1.5\t1\n2\t1 0 0.5\t2.25\t0\n3\t1 1 0.5\t0.75\t1\n4\t0 1 1\t3\t0\n");
    EXPECT_EQ(runQmx({"cat", "--csv", file, "results", "samples"}).out,
              "id,position[0],position[1],position[2],weight,flag\n"
              "1,0,0,0,1.5,1\n2,1,0,0.5,2.25,0\n3,1,1,0.5,0.75,1\n4,0,1,1,3,0\n");
    EXPECT_EQ(runQmx({"cat", "--csv", file, "results/mesh", "cells"}).out,
              "row,col,material,volume\n0,0,1,0.5\n0,1,1,0.25\n1,0,2,0.125\n1,1,3,1\n");
    expectErr({"cat", file, "models", "gearbox"}, 1, {"use 'qmx get'"});
    EXPECT_EQ(runQmx({"cat", file, "results", "nothing"}).exitCode, 1);
}

TEST_F(QmxTool, VersionShowsUpgradeIsIdempotentAndCompactShrinksAfterRemovals) {
    const std::string file = demo();
    expectOut({"version", file}, 0, {": format version ", "(this library writes "});
    expectOut({"version", "--upgrade", file}, 0, {"already current"});

    // Replacing a large object with a small one leaves space behind.
    std::string big(200000, 'x');
    ASSERT_EQ(runQmx({"put", file, "scratch", "big"}, big).exitCode, 0);
    ASSERT_EQ(runQmx({"put", file, "scratch", "big"}, "y").exitCode, 0);
    const long long before = fileSize(file);
    const ToolResult r = expectOut({"compact", file}, 0);
    const long long after = fileSize(file);
    EXPECT_TRUE(contains(r.out, std::to_string(before) + " -> " + std::to_string(after) + " bytes"))
        << r.out;
    EXPECT_LT(after, before);
    EXPECT_TRUE(r.err.empty()) << r.err;  // no progress drawn when stderr is not a terminal
    EXPECT_EQ(runQmx({"check", file}).exitCode, 0);
    EXPECT_EQ(runQmx({"get", file, "scratch", "big"}).out, "y");
    EXPECT_EQ(runQmx({"get", file, "models", "gearbox"}).out.size(), 2048u);
}

}  // namespace
}  // namespace Quellmar::testing
