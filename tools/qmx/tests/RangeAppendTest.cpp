// cat --range, append and the storage line of ls -l, on the demo container.
#include "ToolTestSupport.h"

#include <fstream>

namespace Quellmar::testing {
namespace {

TEST_F(QmxTool, CatRangePrintsOnlyThoseElementsOrRows) {
    const std::string file = demo();
    // counts = {12, 7, 0, 3, 41, 5}
    ToolResult r = expectOut({"cat", "--range", "2:3", file, "results", "counts"}, 0);
    EXPECT_EQ(r.out, "0\n3\n41\n");
    r = runQmx({"cat", "--range", "5:1", file, "results", "counts"});
    EXPECT_EQ(r.out, "5\n");
    r = expectOut({"cat", "--range", "6:0", file, "results", "counts"}, 0);
    EXPECT_EQ(r.out, "");
    // Arrays by rows: nodes is 4 x 3.
    r = expectOut({"cat", "--range", "1:2", "--csv", file, "results/mesh", "nodes"}, 0);
    EXPECT_EQ(r.out, "1,0,0\n1,1,0\n");
    // Compound array records keep their stored row number.
    r = expectOut({"cat", "--range", "1:1", file, "results/mesh", "cells"}, 0);
    EXPECT_EQ(lineCount(r.out), 2u) << r.out;
    EXPECT_EQ(r.out.rfind("1\t0\t", 0), 0u) << r.out;
    EXPECT_TRUE(contains(r.out, "\n1\t1\t")) << r.out;
    // The whole range prints what cat without it prints.
    EXPECT_EQ(runQmx({"cat", "--range", "0:24", file, "results", "temperatures"}).out,
              runQmx({"cat", file, "results", "temperatures"}).out);
}

TEST_F(QmxTool, CatRangeRefusesBadAndPastTheEndRanges) {
    const std::string file = demo();
    for (const char* bad :
         {"3", ":2", "2:", "-1:2", "1:-2", "a:b", "1:2:3", " 1:2", "1:99999999999"}) {
        const ToolResult r = runQmx({"cat", "--range", bad, file, "results", "counts"});
        EXPECT_EQ(r.exitCode, 2) << bad << "\n" << describe(r);
        EXPECT_TRUE(contains(r.err, "--range")) << bad << r.err;
        EXPECT_TRUE(r.out.empty()) << bad;
    }
    for (const char* past : {"5:2", "7:0", "0:7"}) {
        const ToolResult r = expectErr({"cat", "--range", past, file, "results", "counts"}, 1,
                                       {"past the end of its 6 elements"});
        EXPECT_EQ(lineCount(r.err), 1u) << r.err;
        EXPECT_TRUE(r.out.empty()) << past;
    }
    expectErr({"cat", "--range", "3:2", file, "results/mesh", "nodes"}, 1,
              {"past the end of its 4 rows"});
}

TEST_F(QmxTool, AppendAddsElementsAndRowsThatCatShows) {
    const std::string file = demo();
    ToolResult r = expectOut({"append", file, "results", "counts"}, 0, {}, "8 9\n10\n");
    EXPECT_EQ(r.out, "appended 3 elements to /results/counts: 6 -> 9 elements\n");
    EXPECT_EQ(runQmx({"cat", file, "results", "counts"}).out, "12\n7\n0\n3\n41\n5\n8\n9\n10\n");

    // From a file, and as cat prints an array: one row a line.
    const std::string rows = dir.file("rows.txt");
    {
        std::ofstream out(rows);
        out << "2 2 2\n3.5 -1 0.25\n";
    }
    r = expectOut({"append", file, "results/mesh", "nodes", rows}, 0);
    EXPECT_EQ(r.out, "appended 2 rows to /results/mesh/nodes: 4 -> 6 rows\n");
    EXPECT_EQ(runQmx({"cat", "--range", "4:2", file, "results/mesh", "nodes"}).out,
              "2 2 2\n3.5 -1 0.25\n");
    EXPECT_TRUE(contains(runQmx({"ls", file, "results/mesh"}).out, "array, 6 x 3 float64"));

    // The file stays sound, and an appended item is listed as extendible.
    const ToolResult check = expectOut({"check", file}, 0);
    EXPECT_FALSE(contains(check.out + check.err, "warning")) << describe(check);
    const ToolResult listing = expectOut({"ls", "-l", file, "results"}, 0, {"layout: extendible"});
    // The slice checksums are the library's own: shown with --all, by what they are.
    EXPECT_FALSE(contains(listing.out, "QMZ_SLICE_CRC32C")) << listing.out;
    const ToolResult all = runQmx({"ls", "-l", "--all", file, "results"});
    EXPECT_TRUE(contains(all.out, "@QMZ_SLICE_CRC32C = <a checksum per slice>")) << all.out;
}

TEST_F(QmxTool, RefusedAppendsLeaveTheItemAsItWas) {
    const std::string file = demo();
    const std::string before = runQmx({"cat", file, "results", "counts"}).out;
    const std::string nodes = runQmx({"cat", file, "results/mesh", "nodes"}).out;
    const struct {
        std::vector<std::string> args;
        std::string input;
        std::string message;
    } cases[] = {
        {{"results", "counts"}, "1 x 3", "element 2: 'x' is not an integer"},
        {{"results", "counts"}, "1 2.5", "'2.5' is not an integer"},
        {{"results", "counts"}, "2147483648", "does not fit int32"},
        {{"results", "flags"}, "256", "does not fit uint8"},
        {{"results", "ids"}, "-1", "does not fit uint64"},
        {{"results", "pressures"}, "1e39", "does not fit float32"},
        {{"results", "counts"}, " \n", "nothing to append"},
        {{"results/mesh", "nodes"}, "1 2 3 4", "4 numbers do not make whole rows of 3"},
        {{"results", "samples"}, "1", "is a compound vector"},
        {{"models", "notes"}, "1", "not a vector"},
        {{"results", "missing"}, "1", "no such vector or array"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"append", file};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ToolResult r = expectErr(args, 1, {c.message}, c.input);
        EXPECT_EQ(lineCount(r.err), 1u) << r.err;
    }
    EXPECT_EQ(runQmx({"cat", file, "results", "counts"}).out, before);
    EXPECT_EQ(runQmx({"cat", file, "results/mesh", "nodes"}).out, nodes);
    expectOut({"append", file, "results", "counts", dir.file("no")}, 1);
    EXPECT_EQ(runQmx({"append", file, "results"}).exitCode, 2);
}

TEST_F(QmxTool, LongListingShowsLayoutAndCompressor) {
    const std::string file = demo();
    const ToolResult r = expectOut({"ls", "-l", file, "results"}, 0);
    // One storage line under every vector and array, none under groups.
    std::size_t layouts = 0;
    for (std::size_t at = 0; (at = r.out.find("layout: ", at)) != std::string::npos; ++at)
        ++layouts;
    EXPECT_EQ(layouts, 9u) << r.out;
    EXPECT_TRUE(contains(r.out, "|         layout: ")) << r.out;
    EXPECT_FALSE(contains(runQmx({"ls", file, "results"}).out, "layout:"));

    const std::string facts = python(R"(
import json, sys
doc = json.load(sys.stdin)
for o in doc["objects"]:
    if o["kind"] in ("vector", "array"):
        print(o["path"], o["layout"], o["compressor"], o["chunk"] >= 0, o["level"] >= 0)
)",
                                     runQmx({"ls", "-l", "--json", file, "results/mesh"}).out);
    EXPECT_TRUE(contains(facts, "/results/mesh/nodes ")) << facts;
    EXPECT_EQ(lineCount(facts), 2u) << facts;
    EXPECT_FALSE(contains(facts, "unknown")) << facts;
}

}  // namespace
}  // namespace Quellmar::testing
