// Object headers are checked before HDF5 decodes them: each kind of damaged field fails the
// read with a "damaged" error naming the object, and sound files of every shape read without
// a false alarm, in read-only and read-write sessions.
#include "JournalControl.h"
#include "TestFiles.h"

#include <functional>

using namespace Quellmar::testing;

namespace {

struct Message {
    std::size_t at;    // the message's prefix
    std::size_t body;  // its body
    std::size_t size;
    unsigned type;
};

// The messages of a version-1 header, continuation blocks included.
std::vector<Message> messagesOf(const std::string& bytes, std::uint64_t header) {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> blocks{
        {header + 16, le(bytes, header + 8, 4)}};
    std::vector<Message> found;
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        const std::uint64_t end = blocks[b].first + blocks[b].second;
        for (std::uint64_t at = blocks[b].first; at + 8 <= end;) {
            const Message m{at, at + 8, le(bytes, at + 2, 2),
                            static_cast<unsigned>(le(bytes, at, 2))};
            if (m.type == 0x10)
                blocks.emplace_back(le(bytes, m.body, 8), le(bytes, m.body + 8, 8));
            found.push_back(m);
            at = m.body + m.size;
        }
    }
    return found;
}

std::uint64_t headerAddress(const std::string& path, const std::string& object) {
    H5Id file(H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT));
    H5O_info_t info{};
    EXPECT_GE(H5Oget_info_by_name2(file.id, object.c_str(), &info, H5O_INFO_BASIC, H5P_DEFAULT), 0)
        << object;
    return info.addr;
}

// A container with an object group carrying attributes, a compact blob, a contiguous vector
// and a chunked, compressed one.
class DamagedHeader : public ::testing::Test {
protected:
    void SetUp() override {
        path = dir.file("d.qmz");
        const int file = QMXLcreateFile(path.c_str());
        ASSERT_GT(file, 0) << lastError();
        const int group = QMXLcreateOpaqueDataGroup(file, "/models");
        ASSERT_GT(group, 0) << lastError();
        const int version = 3;
        ASSERT_OK(QMXLcreateAttribute(group, "Version", &version));
        ASSERT_OK(QMXLsetStringAttribute(group, "Id", "model-7"));
        QMXLcloseGroup(group);
        const std::string notes = Quellmar::testing::pattern(100, 1);
        ASSERT_OK(
            QMXLcreateCompressedOpaqueData(file, "/models", "notes", 0, 0, 100, notes.data()));
        std::vector<double> values(5000);
        for (std::size_t i = 0; i < values.size(); ++i)
            values[i] = static_cast<double>(i) / 3;
        ASSERT_OK(QMXLcreateTypedDataset(file, "/results", "big", 0, 0, 0, 3, 5000, values.data()));
        ASSERT_OK(
            QMXLcreateTypedDataset(file, "/results", "packed", 6, 1000, 0, 3, 5000, values.data()));
        ASSERT_OK(QMXLcloseAllFileHandlesForFile(file));
        bytes = Quellmar::testing::readFile(path);
        original = bytes;
        pristine = dir.file("pristine.qmz");
        Quellmar::testing::writeFile(pristine, original);
        for (const std::string name : {"sound read", "sound write"})
            ASSERT_EQ(readAll(name == std::string("sound write")), "") << name;
    }

    // The first message of a type in the object's header.
    Message message(const std::string& object, unsigned type, std::size_t skip = 0) {
        for (const Message& m : messagesOf(original, headerAddress(pristine, object)))
            if (m.type == type && skip-- == 0)
                return m;
        ADD_FAILURE() << "no message of type " << type << " in " << object;
        return {0, 0, 0, 0};
    }
    // The attribute message of the given name.
    Message attribute(const std::string& object, const std::string& name) {
        for (const Message& m : messagesOf(original, headerAddress(pristine, object)))
            if (m.type == 0x0C &&
                original.compare(m.body + 8, name.size() + 1, name.c_str(), name.size() + 1) == 0)
                return m;
        ADD_FAILURE() << "no attribute " << name << " on " << object;
        return {0, 0, 0, 0};
    }

    // Reads every object through the library; the first error, or "" when all read.
    std::string readAll(bool writable) {
        Quellmar::testing::writeFile(path, bytes);
        const int file = writable ? QMXLopenFile(path.c_str()) : QMXLopenFileReadOnly(path.c_str());
        if (file <= 0)
            return "open: " + lastError();
        std::string error;
        auto step = [&](bool ok) {
            if (!ok && error.empty())
                error = lastError();
        };
        const int group = QMXLopenOpaqueDataGroup(file, "/models");
        step(group > 0);
        if (group > 0) {
            int version = 0;
            char* id = nullptr;
            step(QMXLreadAttribute(group, "Version", &version) == 1);
            step(QMXLgetStringAttribute(group, "Id", &id) == 1);
            std::free(id);
            QMXLcloseGroup(group);
        }
        long long size = 0;
        step(QMXLgetSizeOfOpaqueData(file, "/models", "notes", &size) == 1);
        std::vector<char> notes(100);
        step(QMXLreadOpaqueData(file, "/models", "notes", notes.data()) == 1);
        std::vector<double> values(5000);
        step(QMXLreadTypedDataset(file, "/results", "big", 3, values.data()) == 1);
        step(QMXLreadTypedDataset(file, "/results", "packed", 3, values.data()) == 1);
        QMXLcloseAllFileHandlesForFile(file);
        return error;
    }

    // The damage is reported, naming the object, read-only and read-write.
    void expectDamaged(const std::string& object, const std::string& reason) {
        for (const bool writable : {false, true}) {
            const std::string error = readAll(writable);
            EXPECT_NE(error.find("'" + object + "' is damaged: "), std::string::npos)
                << (writable ? "read-write: " : "read-only: ") << error;
            EXPECT_NE(error.find(reason), std::string::npos) << error;
        }
        bytes = original;
    }

    TempDir dir;
    std::string path;
    std::string pristine;  // the sound file, where tests look up header addresses
    std::string bytes;
    std::string original;
};

TEST_F(DamagedHeader, AttributeFieldsThatRunPastTheirMessage) {
    const Message version = attribute("/models", "Version");
    putLe(bytes, version.body + 2, 2, 200);  // name size
    expectDamaged("/models", "an attribute message runs past the end of its message");
    putLe(bytes, version.body + 2, 2, 4);  // "Ver" and no terminator
    expectDamaged("/models", "name does not end where its size says");

    bytes[version.body + 8 + 7] = 'x';  // "Version" has no terminator left
    expectDamaged("/models", "name does not end where its size says");

    // The type claims 4096-byte values: the value would be read far past the message.
    putLe(bytes, version.body + 8 + 8 + 4, 4, 4096);
    expectDamaged("/models", "value runs past the end of its message");

    putLe(bytes, version.body + 4, 2, 2);  // datatype size: too short for an integer type
    expectDamaged("/models", "an attribute's datatype runs past the end of its message");

    const Message id = attribute("/models", "Id");
    bytes[id.body + 8 + 8] = 0x1f;  // version 1, class 15: no such class
    expectDamaged("/models", "unknown class 15");
}

// HDF5 skips the reserved byte of a version-1 attribute message: damage there changes nothing
// HDF5 reads, so the check must neither refuse the object nor take the byte for flags.
TEST_F(DamagedHeader, ADamagedReservedByteOfAnAttributeIsNoDamage) {
    for (const char* name : {"Version", "Id"}) {
        const Message m = attribute("/models", name);
        ASSERT_EQ(bytes[m.body], 1) << name;  // version 1
        bytes[m.body + 1] = static_cast<char>(0xDF);
    }
    EXPECT_EQ(readAll(false), "");
    EXPECT_EQ(readAll(true), "");
}

// HDF5 decodes link messages only in groups of the newer kind: in a dataset's header one is
// never read (here the fill value message became one), so the dataset reads as before.
TEST_F(DamagedHeader, ALinkMessageInADatasetIsNoDamage) {
    const Message fill = message("/models/notes", 0x05);
    putLe(bytes, fill.at, 2, 0x06);
    EXPECT_EQ(readAll(false), "");
    EXPECT_EQ(readAll(true), "");
    Quellmar::testing::writeFile(path, bytes);
    const int file = QMXLopenFileReadOnly(path.c_str());
    ASSERT_GT(file, 0) << lastError();
    EXPECT_EQ(QMXLverifyObject(file, "/models/notes"), 1) << lastError();
    QMXLcloseAllFileHandlesForFile(file);
}

TEST_F(DamagedHeader, DataspacesOfImpossibleShape) {
    const Message space = message("/models/notes", 0x01);
    bytes[space.body + 1] = 40;  // rank
    expectDamaged("/models/notes", "rank 40");

    putLe(bytes, space.body + 8, 8, 101);  // one element more than its maximum
    expectDamaged("/models/notes", "larger than its maximum");

    // Shape and maximum both halved: the compact data no longer match.
    putLe(bytes, space.body + 8, 8, 50);
    putLe(bytes, space.body + 16, 8, 50);
    expectDamaged("/models/notes", "compact data's size does not match");
}

TEST_F(DamagedHeader, LayoutsThatReachOutsideTheirStorage) {
    const Message compact = message("/models/notes", 0x08);
    ASSERT_EQ(static_cast<unsigned char>(bytes[compact.body]), 3u);
    ASSERT_EQ(bytes[compact.body + 1], 0);  // compact
    putLe(bytes, compact.body + 2, 2, 0xffff);
    expectDamaged("/models/notes", "a layout message runs past the end of its message");

    const Message contiguous = message("/results/big", 0x08);
    ASSERT_EQ(bytes[contiguous.body + 1], 1);
    putLe(bytes, contiguous.body + 2, 8, bytes.size() + 4096);
    expectDamaged("/results/big", "contiguous data lies outside the file");
    putLe(bytes, contiguous.body + 10, 8, bytes.size());  // size, from its own address
    expectDamaged("/results/big", "contiguous data lies outside the file");

    const Message chunked = message("/results/packed", 0x08);
    ASSERT_EQ(bytes[chunked.body + 1], 2);
    const unsigned rank = static_cast<unsigned char>(bytes[chunked.body + 2]);
    const std::uint64_t tree = le(bytes, chunked.body + 3, 8);
    ASSERT_EQ(bytes.substr(tree, 4), "TREE");
    const std::size_t firstChild = tree + 24 + 8 + 8 * rank;
    putLe(bytes, firstChild, 8, bytes.size() + 100);
    expectDamaged("/results/packed", "a chunk lies outside the file");
    bytes[tree + 5] = 9;  // a leaf claiming level 9: its chunks would be read as nodes
    expectDamaged("/results/packed", "chunk B-tree node");
}

TEST_F(DamagedHeader, MessagesAndBlocksOutsideTheirBounds) {
    const Message layout = message("/results/big", 0x08);
    putLe(bytes, layout.at + 2, 2, 0xfff8);
    expectDamaged("/results/big", "runs past its block");

    // A message turned into a continuation that leads out of the file.
    putLe(bytes, layout.at, 2, 0x10);
    putLe(bytes, layout.body, 8, bytes.size() + 64);
    putLe(bytes, layout.body + 8, 8, 64);
    expectDamaged("/results/big", "continues outside the file");

    const std::uint64_t header = headerAddress(pristine, "/results/big");
    bytes[header] = 7;  // header version
    expectDamaged("/results/big", "unknown version 7");

    // Two blocks of one header leading into each other.
    putLe(bytes, layout.at, 2, 0x10);
    putLe(bytes, layout.body, 8, header + 16);
    putLe(bytes, layout.body + 8, 8, le(bytes, header + 8, 4));
    expectDamaged("/results/big", "continues into one block twice");

    const Message type = message("/results/big", 0x03);
    bytes[type.body + 8 + 5] = 60;  // a float's exponent of 60 bits from bit 52: beyond 64 bits
    expectDamaged("/results/big", "exponent lies outside its size");
}

// A damaged root fails the open: the container's marker and version live in its header.
TEST_F(DamagedHeader, RootDamageFailsTheOpen) {
    const Message marker = attribute("/", "QMZ_FORMAT");
    putLe(bytes, marker.body + 2, 2, 0x7fff);
    Quellmar::testing::writeFile(path, bytes);
    for (const bool writable : {false, true}) {
        EXPECT_LT(writable ? QMXLopenFile(path.c_str()) : QMXLopenFileReadOnly(path.c_str()), 0);
        EXPECT_ERROR("'/' is damaged: an attribute message runs past the end");
    }
}

// Without the journal HDF5's own POSIX driver reads the file; so does the check.
TEST_F(DamagedHeader, ReportedThroughEitherDriver) {
    const Message layout = message("/models/notes", 0x08);
    putLe(bytes, layout.body + 2, 2, 0xffff);
    Quellmar::qmxfile::setJournalEnabled(false);
    const std::string error = readAll(true);
    Quellmar::qmxfile::setJournalEnabled(true);
    EXPECT_NE(error.find("'/models/notes' is damaged"), std::string::npos) << error;
}

// Many sessions of creations, updates that change layouts, attribute changes and removals:
// every object reads, in the writing session and after it.
TEST(HeaderCheck, NoFalseAlarmAfterChurn) {
    TempDir dir;
    const std::string path = dir.file("churn.qmz");
    int file = QMXLcreateFile(path.c_str());
    ASSERT_GT(file, 0) << lastError();
    QMXLcloseAllFileHandlesForFile(file);
    std::vector<long long> sizes;
    for (int session = 0; session < 6; ++session) {
        file = QMXLopenFile(path.c_str());
        ASSERT_GT(file, 0) << lastError();
        for (int i = 0; i < 40; ++i) {
            const int n = session * 40 + i;
            const std::string group = "/g" + std::to_string(n % 7);
            const std::string name = "item" + std::to_string(n);
            // Compact, contiguous and chunked in turn (up to 40 KB).
            const long long size = (n % 3 == 0) ? 40000 : 1 + (n * 37) % 3000;
            const std::string data = Quellmar::testing::pattern(static_cast<std::size_t>(size), n);
            ASSERT_OK(QMXLcreateCompressedOpaqueData(file, group.c_str(), name.c_str(),
                                                     n % 2 ? 5 : 0, 0, size, data.data()));
            sizes.push_back(size);
            const int g = QMXLcreateOpaqueDataGroup(file, group.c_str());
            ASSERT_GT(g, 0) << lastError();
            const std::string attribute = "a" + std::to_string(n % 5);
            ASSERT_OK(QMXLsetAttribute(g, attribute.c_str(), &n));
            ASSERT_OK(QMXLsetStringAttribute(g, attribute.c_str(), name.c_str()));
            QMXLcloseGroup(g);
        }
        // Older items change size (and layout), some go away; everything is read back in the
        // same session, old and new.
        for (std::size_t k = session; k < sizes.size(); k += 9) {
            const std::string group = "/g" + std::to_string(k % 7);
            const std::string name = "item" + std::to_string(k);
            if (sizes[k] < 0)
                continue;
            if (k % 4 == 0) {
                ASSERT_OK(QMXLremoveDataset(file, (group + "/" + name).c_str()));
                sizes[k] = -1;
                continue;
            }
            sizes[k] = sizes[k] > 20000 ? 10 : 30000;
            const std::string data =
                Quellmar::testing::pattern(static_cast<std::size_t>(sizes[k]), 99);
            ASSERT_OK(
                QMXLupdateOpaqueData(file, group.c_str(), name.c_str(), sizes[k], data.data()));
        }
        for (const bool reopenReadOnly : {false, true}) {
            if (reopenReadOnly) {
                ASSERT_OK(QMXLcloseAllFileHandlesForFile(file));
                file = QMXLopenFileReadOnly(path.c_str());
                ASSERT_GT(file, 0) << lastError();
            }
            for (std::size_t k = 0; k < sizes.size(); ++k) {
                const std::string group = "/g" + std::to_string(k % 7);
                const std::string name = "item" + std::to_string(k);
                if (sizes[k] < 0) {
                    EXPECT_EQ(QMXLexistsDataset(file, (group + "/" + name).c_str()), 0)
                        << lastError();
                    continue;
                }
                std::vector<char> buffer(static_cast<std::size_t>(sizes[k]) + 1);
                ASSERT_EQ(QMXLreadOpaqueData(file, group.c_str(), name.c_str(), buffer.data()), 1)
                    << "session " << session << ": " << lastError();
            }
            for (int g = 0; g < 7; ++g)
                EXPECT_OK(QMXLverifyObject(file, ("/g" + std::to_string(g)).c_str()));
        }
        ASSERT_OK(QMXLcloseAllFileHandlesForFile(file));
    }
}

// Files in HDF5's newest formats (version-2 headers, attributes in dense storage, compound
// and variable-length attributes, shared committed types), as other tools write them.
TEST(HeaderCheck, NoFalseAlarmOnNewestFormats) {
    TempDir dir;
    const std::string path = dir.file("latest.h5");
    {
        H5Id fapl(H5Pcreate(H5P_FILE_ACCESS));
        H5Pset_libver_bounds(fapl.id, H5F_LIBVER_LATEST, H5F_LIBVER_LATEST);
        H5Id file(H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, fapl.id));
        ASSERT_GE(file.id, 0);
        H5Id group(H5Gcreate2(file.id, "g", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
        H5Id scalar(H5Screate(H5S_SCALAR));
        for (int i = 0; i < 30; ++i) {  // past the compact maximum: dense storage
            H5Id a(H5Acreate2(group.id, ("attribute" + std::to_string(i)).c_str(), H5T_STD_I32LE,
                              scalar.id, H5P_DEFAULT, H5P_DEFAULT));
            H5Awrite(a.id, H5T_NATIVE_INT, &i);
        }
        H5Id text(H5Tcopy(H5T_C_S1));
        H5Tset_size(text.id, H5T_VARIABLE);
        H5Id record(H5Tcreate(H5T_COMPOUND, 16));
        H5Tinsert(record.id, "x", 0, H5T_IEEE_F64LE);
        H5Tinsert(record.id, "n", 8, H5T_STD_I32LE);
        H5Tcommit2(file.id, "record", record.id, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
        hsize_t dims[1] = {1000};
        H5Id space(H5Screate_simple(1, dims, nullptr));
        H5Id dcpl(H5Pcreate(H5P_DATASET_CREATE));
        hsize_t chunk[1] = {100};
        H5Pset_chunk(dcpl.id, 1, chunk);
        H5Pset_shuffle(dcpl.id);
        H5Pset_deflate(dcpl.id, 4);
        std::vector<double> values(1000, 2.5);
        for (const char* name : {"chunked", "contiguous"}) {
            H5Id d(H5Dcreate2(file.id, name, H5T_IEEE_F64LE, space.id, H5P_DEFAULT,
                              std::string(name) == "chunked" ? dcpl.id : H5P_DEFAULT, H5P_DEFAULT));
            H5Dwrite(d.id, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, values.data());
            const char* words = "variable";
            H5Id a(H5Acreate2(d.id, "note", text.id, scalar.id, H5P_DEFAULT, H5P_DEFAULT));
            H5Awrite(a.id, text.id, &words);
            H5Id r(H5Acreate2(d.id, "record", record.id, scalar.id, H5P_DEFAULT, H5P_DEFAULT));
            const char raw[16] = {};
            H5Awrite(r.id, record.id, raw);
        }
    }
    const int file = QMXLopenNativeHDF5ReadOnly(path.c_str());
    ASSERT_GT(file, 0) << lastError();
    for (const char* object : {"/", "/g", "/chunked", "/contiguous", "/record"})
        EXPECT_EQ(QMXLverifyObject(file, object), 1) << object << ": " << lastError();
    EXPECT_EQ(memberCount(file, "/"), 4) << lastError();
    std::vector<double> values(1000);
    EXPECT_OK(QMXLreadTypedDataset(file, "/", "chunked", 3, values.data()));
    EXPECT_OK(QMXLreadTypedDataset(file, "/", "contiguous", 3, values.data()));
    EXPECT_EQ(values[999], 2.5);
    QMXLcloseAllFileHandlesForFile(file);

    // A version-2 message that claims more than its block is found before HDF5's checksum.
    std::string bytes = Quellmar::testing::readFile(path);
    const std::uint64_t header = headerAddress(path, "/contiguous");
    ASSERT_EQ(bytes.substr(header, 4), "OHDR");
    const unsigned flags = static_cast<unsigned char>(bytes[header + 5]);
    const std::size_t first = header + 6 + ((flags & 0x20) ? 16 : 0) + ((flags & 0x10) ? 4 : 0) +
                              (std::size_t{1} << (flags & 3));
    putLe(bytes, first + 1, 2, 0xfff0);
    Quellmar::testing::writeFile(path, bytes);
    const int damaged = QMXLopenNativeHDF5ReadOnly(path.c_str());
    ASSERT_GT(damaged, 0) << lastError();
    EXPECT_LT(QMXLreadTypedDataset(damaged, "/", "contiguous", 3, values.data()), 0);
    EXPECT_ERROR("'/contiguous' is damaged: a message of the header runs past its block");
    QMXLcloseAllFileHandlesForFile(damaged);
}

// A group that tracks link creation order is of the newer kind: its links are link messages,
// which HDF5 follows, so a damaged one is damage.
TEST(HeaderCheck, ADamagedLinkOfANewerGroupIsDamage) {
    TempDir dir;
    const std::string path = dir.file("links.h5");
    {
        H5Id file(H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT));
        ASSERT_GE(file.id, 0);
        H5Id gcpl(H5Pcreate(H5P_GROUP_CREATE));
        H5Pset_link_creation_order(gcpl.id, H5P_CRT_ORDER_TRACKED);
        H5Id group(H5Gcreate2(file.id, "g", H5P_DEFAULT, gcpl.id, H5P_DEFAULT));
        H5Id inner(H5Gcreate2(group.id, "inner", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
    }
    const int sound = QMXLopenNativeHDF5ReadOnly(path.c_str());
    ASSERT_GT(sound, 0) << lastError();
    EXPECT_EQ(QMXLverifyObject(sound, "/g"), 1) << lastError();
    QMXLcloseAllFileHandlesForFile(sound);

    std::string bytes = Quellmar::testing::readFile(path);
    const std::uint64_t header = headerAddress(path, "/g");
    ASSERT_EQ(bytes[header], 1) << "a version-1 header";
    bool damaged = false;
    for (const Message& m : messagesOf(bytes, header))
        if (m.type == 0x06) {
            bytes[m.body] = 7;  // link version
            damaged = true;
        }
    ASSERT_TRUE(damaged) << "no link message in the group's header";
    Quellmar::testing::writeFile(path, bytes);
    const int file = QMXLopenNativeHDF5ReadOnly(path.c_str());
    ASSERT_GT(file, 0) << lastError();
    EXPECT_LT(QMXLverifyObject(file, "/g"), 1);
    EXPECT_ERROR("a link has an unknown version");
    QMXLcloseAllFileHandlesForFile(file);
}

}  // namespace
