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
    ToolResult cat = expectErr({"cat", file, "results", "extra"}, 1,
                               {"(the checksum attribute is missing: the item is damaged)"});
    EXPECT_EQ(runQmx({"check", file}).exitCode, 1);

    const ToolResult seal = expectOut({"seal", file}, 0);
    EXPECT_EQ(seal.out, file + ": sealed: 2 checksums added to 2 objects; the file checks ok\n");

    cat = expectOut({"cat", file, "results", "extra"}, 0);
    EXPECT_EQ(cat.out, "1.5\n-2\n4.25\n");
    expectOut({"check", file}, 0);
    // Everything the demo wrote is as it was.
    EXPECT_EQ(runQmx({"get", file, "models", "notes"}).out,
              "Gearbox assembly, revision C.\nHousing cast in EN-GJL-250.\n");

    const ToolResult again = expectOut({"seal", file}, 0);
    EXPECT_EQ(again.out, file + ": nothing to seal (every item carries its checksums)\n");
}

TEST_F(QmxTool, SealRefusesAFileWithOtherDamageAndLeavesItAlone) {
    const std::string file = demo();
    // A change to an item that has a checksum: that is what damage looks like.
    withH5py(file, kAdditions + "    f['results/counts'][0] = 99\n");
    const std::string before = readFile(file);

    expectOut({"seal", file}, 1,
              {file + ": /results/counts: ", "checksum mismatch",
               file + ": not sealed: 1 problem besides missing checksums"});
    EXPECT_EQ(readFile(file), before);
    EXPECT_EQ(runQmx({"cat", file, "results", "extra"}).exitCode, 1);
}

TEST_F(QmxTool, SealExplainsItselfAndChecksItsOperands) {
    expectOut({"seal", "--help"}, 0, {"seal", "never\nrewritten"});
    EXPECT_TRUE(contains(runQmx({"--help"}).out, "  seal      ")) << "listed with the commands";
    EXPECT_EQ(runQmx({"seal"}).exitCode, 2);
    expectOut({"seal", dir.file("none.qmz")}, 1);
}

}  // namespace
}  // namespace Quellmar::testing
