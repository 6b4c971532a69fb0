// 'qmx seal': items another program adds to a container read as damaged (they carry no
// checksum) until the container is sealed, and sealing refuses a file with any other damage.
#include "ToolTestSupport.h"

namespace Quellmar::testing {
namespace {

const std::string kAdditions =
    "    f['results'].create_dataset('extra', data=numpy.array([1.5, -2.0, 4.25]))\n"
    "    f.create_group('annotations').attrs['Author'] = numpy.int32(7)\n";

TEST_F(QmxTool, ItemsAddedByAnotherProgramReadAsDamagedUntilSealed) {
    const std::string file = demo();
    withH5py(file, kAdditions);

    // Read through the vector DAO: no checksum in a file that promises one is damage.
    ToolResult cat = runQmx({"cat", file, "results", "extra"});
    EXPECT_EQ(cat.exitCode, 1) << describe(cat);
    EXPECT_TRUE(contains(cat.err, "(the checksum attribute is missing: the item is damaged)"))
        << cat.err;
    EXPECT_EQ(runQmx({"check", file}).exitCode, 1);

    const ToolResult seal = runQmx({"seal", file});
    ASSERT_EQ(seal.exitCode, 0) << describe(seal);
    EXPECT_EQ(seal.out, file + ": sealed: 2 checksums added to 2 objects; the file checks ok\n");

    cat = runQmx({"cat", file, "results", "extra"});
    ASSERT_EQ(cat.exitCode, 0) << describe(cat);
    EXPECT_EQ(cat.out, "1.5\n-2\n4.25\n");
    const ToolResult check = runQmx({"check", file});
    EXPECT_EQ(check.exitCode, 0) << describe(check);
    // Everything the demo wrote is as it was.
    EXPECT_EQ(runQmx({"get", file, "models", "notes"}).out,
              "Gearbox assembly, revision C.\nHousing cast in EN-GJL-250.\n");

    const ToolResult again = runQmx({"seal", file});
    EXPECT_EQ(again.exitCode, 0) << describe(again);
    EXPECT_EQ(again.out, file + ": nothing to seal (every item carries its checksums)\n");
}

TEST_F(QmxTool, SealRefusesAFileWithOtherDamageAndLeavesItAlone) {
    const std::string file = demo();
    // A change to an item that has a checksum: that is what damage looks like.
    withH5py(file, kAdditions + "    f['results/counts'][0] = 99\n");
    const std::string before = readFile(file);

    const ToolResult seal = runQmx({"seal", file});
    EXPECT_EQ(seal.exitCode, 1) << describe(seal);
    EXPECT_TRUE(contains(seal.out, file + ": /results/counts: ")) << seal.out;
    EXPECT_TRUE(contains(seal.out, "checksum mismatch")) << seal.out;
    EXPECT_TRUE(contains(seal.out, file + ": not sealed: 1 problem besides missing checksums"))
        << seal.out;
    EXPECT_EQ(readFile(file), before);
    EXPECT_EQ(runQmx({"cat", file, "results", "extra"}).exitCode, 1);
}

TEST_F(QmxTool, SealExplainsItselfAndChecksItsOperands) {
    const ToolResult help = runQmx({"seal", "--help"});
    EXPECT_EQ(help.exitCode, 0) << describe(help);
    EXPECT_TRUE(contains(help.out, "seal")) << help.out;
    EXPECT_TRUE(contains(help.out, "never\nrewritten")) << help.out;
    EXPECT_TRUE(contains(runQmx({"--help"}).out, "  seal      ")) << "listed with the commands";
    EXPECT_EQ(runQmx({"seal"}).exitCode, 2);
    const ToolResult missing = runQmx({"seal", dir.file("none.qmz")});
    EXPECT_EQ(missing.exitCode, 1) << describe(missing);
}

}  // namespace
}  // namespace Quellmar::testing
