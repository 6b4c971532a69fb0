// Containers changed behind the library's back (here with h5py): shapes that lie about the
// stored elements, names the library cannot address, link cycles, foreign attribute types.
// The tool must report them, never read past a buffer or walk forever.
#include "ToolTestSupport.h"

namespace Quellmar::testing {
namespace {

// Runs h5py code on the file opened read-write as `f`. h5py keeps no checksums, so unless
// `sealed` the file is first made one from before them (no checksum marker, no checksums on
// items or attributes), where such edits are legitimate.
void alter(const std::string& file, const std::string& code, bool sealed = false) {
    const std::string unseal =
        "    def unseal(name, obj):\n"
        "        for key in ('QMZ_CRC32C', 'QMZ_ATTR_CRC32C'):\n"
        "            if key in obj.attrs: del obj.attrs[key]\n"
        "    f.visititems(unseal)\n"
        "    unseal('/', f)\n"
        "    del f.attrs['QMZ_CHECKSUMS']\n";
    withH5py(file, (sealed ? "" : unseal) + code);
}

TEST_F(QmxTool, AttributeEditsInAFileWithChecksumsAreDamage) {
    const std::string file = demo();
    alter(file,
          "    f['results/mesh/nodes'].attrs.modify('Rows', numpy.int32(2))\n"
          "    f['results/mesh/nodes'].attrs.modify('Cols', numpy.int32(6))\n"
          "    f['models'].attrs['Id'] = numpy.bytes_('MDL-2042')",
          true);
    const ToolResult check = expectOut({"check", file}, 1);
    for (const std::string path : {"/results/mesh/nodes", "/models"})
        EXPECT_TRUE(contains(check.out, ": " + path + ": QMXLverifyObject: the attributes of '" +
                                            path + "' in file '" + file +
                                            "' are damaged (attribute checksum mismatch"))
            << check.out;
    EXPECT_TRUE(contains(check.out, "2 problems")) << check.out;
    // A host reading the array gets a failure, not a 2 x 6 array.
    const ToolResult cat = expectOut({"cat", file, "results/mesh", "nodes"}, 1);
    EXPECT_TRUE(cat.out.empty()) << cat.out;
}

// A kind of entry this library never writes is someone else's in a plain file, but damage (a
// datatype message hit) in a file this library wrote.
TEST_F(QmxTool, UnknownKindsAreProblemsOnlyInFilesThisLibraryWrote) {
    const std::string code =
        "    f['results'].create_dataset('odd', data=numpy.zeros(3, dtype='i1'),\n"
        "                                dtype=h5py.enum_dtype({'a': 0, 'b': 1}, basetype='i1'))";
    const std::string sealed = demo("sealed.qmz");
    alter(sealed, code, true);
    expectOut({"check", sealed}, 1,
              {sealed + ": /results/odd: unknown kind of entry in a file this library wrote"});
    const std::string plain = demo("plain.qmz");
    alter(plain, code);
    expectOut({"check", plain}, 0,
              {plain + ": warning: /results/odd: unknown kind of entry; not checked"});
}

TEST_F(QmxTool, ArrayShapeThatPromisesOtherThanTheStoredElements) {
    const std::string file = demo();
    // 5 x 3 claims 15 elements where 12 are stored; 2 x 3 claims fewer than are stored.
    alter(file,
          "    f['results/mesh/nodes'].attrs.modify('Rows', numpy.int32(5))\n"
          "    f['results/mesh/connectivity'].attrs.modify('Rows', numpy.int32(1))");
    expectOut({"check", file}, 1,
              {"/results/mesh/nodes: shape 5 x 3 does not match the 12 stored elements",
               "/results/mesh/connectivity: shape 1 x 3 does not match the 6 stored elements",
               "2 problems"});
    const ToolResult cat =
        expectErr({"cat", file, "results/mesh", "connectivity"}, 1, {"does not match"});
    EXPECT_TRUE(cat.out.empty());
}

TEST_F(QmxTool, InvalidShapeAttributesAreReported) {
    const std::string file = demo();
    alter(file,
          "    f['results/mesh/nodes'].attrs.modify('Cols', numpy.int32(-3))\n"
          "    f['results/counts'].attrs.create('Rows', numpy.int32(6), dtype='<i4')");
    expectOut({"check", file}, 1,
              {"/results/mesh/nodes: invalid array shape: \"Rows\" 4, \"Cols\" -3",
               "/results/counts: invalid array shape: \"Rows\" 6, \"Cols\" missing"});
}

TEST_F(QmxTool, NamesTheLibraryCannotAddressAreNotConfusedWithOthers) {
    const std::string file = demo();
    // "notes." would be trimmed to "notes" by the library: another object.
    alter(file, "    f['models'].copy('notes', 'notes.')");
    expectOut({"check", file}, 1,
              {"/models/notes.: the library cannot address an object of this name"});
    const ToolResult get = expectErr({"get", file, "models", "notes."}, 1, {"cannot address"});
    EXPECT_TRUE(get.out.empty());
}

TEST_F(QmxTool, LinkCycleEndsTheWalk) {
    const std::string file = demo();
    alter(file, "    f['results/mesh']['up'] = f['results']");
    for (const char* command : {"ls", "check"}) {
        const ToolResult r = runQmx({command, file}, "", 120);
        EXPECT_FALSE(r.timedOut) << command;
        EXPECT_EQ(r.signal, 0) << command;
        EXPECT_EQ(r.exitCode, 1) << command << describe(r).substr(0, 2000);
        EXPECT_TRUE(contains(r.out + r.err, "nested too deeply")) << command;
    }
}

TEST_F(QmxTool, ForeignAttributeTypesAreShownAsUnreadableWithoutFailingTheCheck) {
    const std::string file = demo();
    alter(file,
          "    f['models'].attrs['note'] = 'variable length text'\n"
          "    f['models'].attrs['big'] = numpy.uint64(2**63 + 5)\n"
          "    f['models'].attrs['fixed'] = numpy.bytes_('abc\\x01')");
    expectOut({"ls", "-l", file, "models"}, 0,
              {"@note = <unreadable>", "@big = 9223372036854775813", "@fixed = \"abc\\x01\""});
    const ToolResult json = runQmx({"ls", "-l", "--json", file, "models"});
    EXPECT_EQ(python("import json,sys\nd=json.load(sys.stdin)\na=d['objects'][0]['attributes']\n"
                     "print(a['note'], a['big'], repr(a['fixed']))\n",
                     json.out),
              "None 9223372036854775813 'abc\\x01'\n");
    expectOut({"check", file}, 0, {"warning: /models: attribute \"note\""});
}

}  // namespace
}  // namespace Quellmar::testing
