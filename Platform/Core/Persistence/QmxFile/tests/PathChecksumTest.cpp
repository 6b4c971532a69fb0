// Checksums bound to the object's path: an object that damage shows under another name fails
// its check, and files written with plain checksums (marker 1) read and grow as before.
#include "FailingFileOps.h"
#include "TestFiles.h"

using namespace Quellmar;
using namespace Quellmar::testing;

namespace {

constexpr const char* kItemSum = "QMZ_CRC32C";
constexpr const char* kAttributeSum = "QMZ_ATTR_CRC32C";
constexpr const char* kMarker = "QMZ_CHECKSUMS";

std::uint32_t crcOf(const std::string& bytes) {
    return crc32c::Value(bytes.data(), bytes.size());
}

// What a new file stores: the CRC of the contents continued over the path and a NUL byte.
std::uint32_t named(std::uint32_t contents, const std::string& path) {
    return crc32c::Extend(contents, path.c_str(), path.size() + 1);
}

class PathChecksums : public ContainerTest {
protected:
    std::uint32_t storedMarker() { return storedU32("/", kMarker); }
    // Writes `value` as the checksum of `item` in the closed file.
    void rewriteChecksum(const char* item, std::uint32_t value) {
        withHdf5([&](hid_t f) {
            H5Id object(H5Oopen(f, item, H5P_DEFAULT));
            H5Id a(H5Aopen(object.id, kItemSum, H5P_DEFAULT));
            ASSERT_GE(H5Awrite(a.id, H5T_NATIVE_UINT32, &value), 0);
        });
    }
};

}  // namespace

// HDF5 names an object the same whichever spelling of its path reached it; the checksum
// covers that name, so every spelling and every way of writing stores the same value.
TEST_F(PathChecksums, EverySpellingOfAPathStoresTheSameNamedChecksum) {
    const std::string a = pattern(300, 1), b = pattern(40, 2), c = pattern(5000, 3),
                      grown = pattern(9000, 4);
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "//g//h/", "a", 0, 0, 300, a.data()));
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/g/./h", "b", 0, 0, 40, b.data()));
    const int group = QMXLopenGroup(file, "/g");
    ASSERT_GT(group, 0) << lastError();
    ASSERT_OK(QMXLcreateCompressedOpaqueData(group, "h//", "c", 6, 1000, 5000, c.data()));
    ASSERT_OK(QMXLcreateCompressedOpaqueData(group, "h", "empty", 0, 0, 0, nullptr));
    // Another size lays the item out anew and links it under the old name at the end.
    ASSERT_OK(QMXLupdateOpaqueData(group, "./h", "a", 9000, grown.data()));
    const std::vector<double> values = {1.5, 2.5, 3.5};
    ASSERT_OK(QMXLcreateTypedDataset(file, "g/h", "v", 0, 0, 0, QMXL_FLOAT64, 3, values.data()));
    const std::vector<std::int32_t> ints = {7, 8, 9, 10};
    ASSERT_OK(QMXLupdateTypedDataset(file, "/g/h/", "v", QMXL_INT32, 4, ints.data()));

    EXPECT_EQ(storedMarker(), 3u);
    EXPECT_EQ(storedChecksum("/g/h/a"), itemSum(path, crcOf(grown), "/g/h/a"));
    EXPECT_EQ(storedChecksum("/g/h/b"), itemSum(path, crcOf(b), "/g/h/b"));
    EXPECT_EQ(storedChecksum("/g/h/c"), itemSum(path, crcOf(c), "/g/h/c"));
    EXPECT_EQ(storedChecksum("/g/h/empty"), itemSum(path, 0, "/g/h/empty"));
    const std::vector<double> converted = {7, 8, 9, 10};
    EXPECT_EQ(storedChecksum("/g/h/v"),
              itemSum(path, crc32c::Value(converted.data(), 32), "/g/h/v"));

    reopen(true);
    std::string back(9000, '\0');
    ASSERT_OK(QMXLreadOpaqueData(file, "//g/h//", "a", back.data()));
    EXPECT_EQ(back, grown);
    const int readGroup = QMXLopenGroup(file, "g/h/");
    ASSERT_GT(readGroup, 0) << lastError();
    ASSERT_OK(QMXLreadOpaqueData(readGroup, ".", "c", back.data()));
    EXPECT_EQ(back.substr(0, 5000), c);
    ASSERT_OK(QMXLreadOpaqueData(readGroup, "", "empty", back.data()));
}

// Damage to a link name (or to its offset into the group's name heap) leaves an intact object
// under another name. Its data, its attributes and those of everything below it now fail.
TEST_F(PathChecksums, AnObjectShownUnderAnotherNameFailsItsCheck) {
    const std::string kestrel = pattern(200, 5), heron = pattern(100, 6);
    ASSERT_OK(
        QMXLcreateCompressedOpaqueData(file, "/aviary", "kestrel", 0, 0, 200, kestrel.data()));
    ASSERT_OK(
        QMXLcreateCompressedOpaqueData(file, "/marsh/pond", "heron", 0, 0, 100, heron.data()));
    const int birds = QMXLcreateOpaqueDataGroup(file, "/flock");
    ASSERT_GT(birds, 0) << lastError();
    ASSERT_OK(QMXLsetStringAttribute(birds, "Id", "starlings"));
    const std::vector<double> wings = {0.5, 0.75};
    ASSERT_OK(QMXLcreateTypedDataset(file, "/flock", "wingspans", 0, 0, 0, QMXL_FLOAT64, 2,
                                     wings.data()));

    patch(std::string("kestrel\0", 8), std::string("kestrem\0", 8));  // the item's own name
    patch(std::string("marsh\0", 6), std::string("marsi\0", 6));      // a group above the item
    patch(std::string("flock\0", 6), std::string("flocj\0", 6));      // a group with attributes
    reopen(true);

    std::string buffer(200, '\x55');
    expectDamaged(QMXLreadOpaqueData(file, "/aviary", "kestrem", buffer.data()), "/aviary/kestrem",
                  "checksum mismatch: the stored data is damaged");
    EXPECT_EQ(buffer, std::string(200, '\0'));
    expectDamaged(QMXLreadOpaqueData(file, "/marsi/pond", "heron", buffer.data()),
                  "/marsi/pond/heron", "checksum mismatch");
    expectDamaged(QMXLverifyObject(file, "/flocj"), "/flocj", "attribute checksum mismatch");
    std::vector<double> back(2);
    expectDamaged(QMXLreadTypedDataset(file, "/flocj", "wingspans", QMXL_FLOAT64, back.data()),
                  "/flocj/wingspans", "checksum mismatch");
    EXPECT_EQ(QMXLexistsDataset(file, "/aviary/kestrel"), 0) << "the patch did not take";
}

// Another program that renames or links an object without rewriting its checksums leaves it
// damaged by the same rule; an item whose checksum leaves the path out is damaged too.
TEST_F(PathChecksums, MovedLinkedOrPathlessChecksumsAreDamageInANewFile) {
    const std::string data = pattern(64, 7);
    for (const char* name : {"moved", "linked", "pathless"})
        ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/g", name, 0, 0, 64, data.data()));
    withHdf5([](hid_t f) {
        ASSERT_GE(H5Lmove(f, "/g/moved", f, "/g/elsewhere", H5P_DEFAULT, H5P_DEFAULT), 0);
        ASSERT_GE(H5Lcreate_hard(f, "/g/linked", f, "/g/second", H5P_DEFAULT, H5P_DEFAULT), 0);
    });
    rewriteChecksum("/g/pathless", crcOf(data));
    reopen(true);
    std::string buffer(64, '\0');
    expectDamaged(QMXLreadOpaqueData(file, "/g", "elsewhere", buffer.data()), "/g/elsewhere",
                  "checksum mismatch");
    expectDamaged(QMXLreadOpaqueData(file, "/g", "second", buffer.data()), "/g/second",
                  "checksum mismatch");
    expectDamaged(QMXLreadOpaqueData(file, "/g", "pathless", buffer.data()), "/g/pathless",
                  "checksum mismatch");
    // The original link of the hard-linked item is still its name.
    ASSERT_OK(QMXLreadOpaqueData(file, "/g", "linked", buffer.data()));
    EXPECT_EQ(buffer, data);
}

// A file written before checksums covered paths (marker 1, by the previous build) reads as it
// did, and what this build writes into it stays in its form: readable by both builds.
TEST_F(PathChecksums, FilesWithPlainChecksumsReadAndGrowInTheirOwnForm) {
    path = dir.file("plain.qmz");
    Quellmar::testing::writeFile(path, Quellmar::testing::readFile(QMX_PLAIN_CHECKSUMS_FILE));
    reopen(true);
    for (const char* object :
         {"/", "/models", "/materials", "/Design", "/results/samples", "/results/mesh/cells"})
        EXPECT_EQ(QMXLverifyObject(file, object), 1) << object << ": " << lastError();
    long long size = 0;
    ASSERT_OK(QMXLgetSizeOfOpaqueData(file, "/models", "gearbox", &size));
    std::string gearbox(static_cast<std::size_t>(size), '\0');
    ASSERT_OK(QMXLreadOpaqueData(file, "/models", "gearbox", gearbox.data()));
    std::vector<double> temperatures(24);
    ASSERT_OK(
        QMXLreadTypedDataset(file, "/results", "temperatures", QMXL_FLOAT64, temperatures.data()));
    EXPECT_EQ(storedChecksum("/models/gearbox"), crcOf(gearbox));

    reopen();
    const std::string extra = pattern(700, 10), housing = pattern(3000, 11);
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/models", "extra", 0, 0, 700, extra.data()));
    ASSERT_OK(QMXLupdateOpaqueData(file, "/models", "housing", 3000, housing.data()));
    const int models = QMXLopenOpaqueDataGroup(file, "/models");
    ASSERT_GT(models, 0) << lastError();
    ASSERT_OK(QMXLsetStringAttribute(models, "HashValue", "changed"));
    EXPECT_EQ(storedMarker(), 1u);
    EXPECT_EQ(storedChecksum("/models/extra"), crcOf(extra));
    EXPECT_EQ(storedChecksum("/models/housing"), crcOf(housing));

    reopen(true);
    std::string back(3000, '\0');
    ASSERT_OK(QMXLreadOpaqueData(file, "/models", "housing", back.data()));
    EXPECT_EQ(back, housing);
    EXPECT_OK(QMXLverifyObject(file, "/models"));
    // A value that covers the path is not this file's form.
    rewriteChecksum("/models/extra", named(crcOf(extra), "/models/extra"));
    reopen(true);
    expectDamaged(QMXLreadOpaqueData(file, "/models", "extra", back.data()), "/models/extra",
                  "checksum mismatch");
}

// A file written before item checksums covered types (marker 2, by the build before: a blob
// group with attributes, small typed items, a deflated vector and an appended one with slice
// checksums, records, text) reads as it did, and what this build writes into it keeps that
// form: readable by both builds.
TEST_F(PathChecksums, FilesWithNamedChecksumsReadAndGrowInTheirOwnForm) {
    path = dir.file("named.qmz");
    Quellmar::testing::writeFile(path, Quellmar::testing::readFile(QMX_NAMED_CHECKSUMS_FILE));
    reopen(true);
    for (const char* object :
         {"/", "/models", "/models/gearbox", "/results/counts", "/results/series",
          "/results/appended", "/results/records", "/notes/text"})
        EXPECT_EQ(QMXLverifyObject(file, object), 1) << object << ": " << lastError();
    std::string gearbox(300, '\0');
    ASSERT_OK(QMXLreadOpaqueData(file, "/models", "gearbox", gearbox.data()));
    for (std::size_t i = 0; i < gearbox.size(); ++i)
        ASSERT_EQ(gearbox[i], static_cast<char>(i * 7 + 3)) << i;
    std::vector<std::uint16_t> counts(3);
    ASSERT_OK(QMXLreadTypedDataset(file, "/results", "counts", QMXL_UINT16, counts.data()));
    EXPECT_EQ(counts, (std::vector<std::uint16_t>{1, 40000, 65535}));
    std::vector<double> range(10);
    ASSERT_OK(QMXLreadTypedDatasetRange(file, "/results", "series", QMXL_FLOAT64, 150000, 10,
                                        range.data()));
    for (std::size_t i = 0; i < range.size(); ++i)
        EXPECT_EQ(range[i], static_cast<double>((150000 + i) % 97) * 0.5) << i;

    reopen();
    const std::vector<std::int32_t> more = {1, 2, 3};
    ASSERT_OK(
        QMXLcreateTypedDataset(file, "/results", "more", 0, 0, 0, QMXL_INT32, 3, more.data()));
    std::vector<double> tail(100);
    for (std::size_t i = 0; i < tail.size(); ++i)
        tail[i] = static_cast<double>(1000 + i) / 8;
    ASSERT_OK(QMXLappendTypedDataset(file, "/results", "appended", QMXL_FLOAT64, 100, tail.data()));
    EXPECT_EQ(storedMarker(), 2u);
    EXPECT_EQ(storedChecksum("/results/more"),
              named(crc32c::Value(more.data(), 12), "/results/more"));

    reopen(true);
    std::vector<double> appended(1100);
    ASSERT_OK(QMXLreadTypedDataset(file, "/results", "appended", QMXL_FLOAT64, appended.data()));
    for (std::size_t i = 0; i < appended.size(); ++i)
        ASSERT_EQ(appended[i], static_cast<double>(i) / 8) << i;
    for (const char* object : {"/results/more", "/results/appended"})
        EXPECT_EQ(QMXLverifyObject(file, object), 1) << object << ": " << lastError();
}

// The marker is kept from one open of the unchanged file to the next. An open that fails part
// way, or succeeds past a failed read, must leave nothing that changes how the next session
// checks this file's items (marker 2: under marker 3's checks they would read as damaged).
TEST_F(PathChecksums, OpensThatMeetFailedCallsLeaveTheMarkerAsStored) {
    path = dir.file("named.qmz");
    Quellmar::testing::writeFile(path, Quellmar::testing::readFile(QMX_NAMED_CHECKSUMS_FILE));
    close();
    const auto openFailing = [&](FailingFileOps& ops) {
        ScopedFileOps layer(ops);
        const int f = QMXLopenFileReadOnly(path.c_str());
        if (f > 0)
            QMXLcloseFile(f);
        return f > 0;
    };
    FailingFileOps counting(0, 0, false);
    ASSERT_TRUE(openFailing(counting));
    ASSERT_GE(counting.calls(), 3u);
    std::size_t opened = 0;
    for (const bool sticky : {false, true}) {
        for (std::size_t n = 1; n <= counting.calls(); ++n) {
            FailingFileOps failing(n, EIO, sticky);
            opened += openFailing(failing) ? 1 : 0;
            reopen(true);
            std::string gearbox(300, '\0');
            ASSERT_OK(QMXLreadOpaqueData(file, "/models", "gearbox", gearbox.data()))
                << "call " << n << (sticky ? " and on" : "");
            close();
        }
    }
    EXPECT_GT(opened, 0u) << "no open got past its failed call";
}

// The marker is read per open file once; a damaged value must not weaken the checks of a new
// file, nor may a missing one fail every item (the walk names the missing marker instead).
TEST_F(PathChecksums, AGarbledMarkerChecksPathsAndAMissingOneTakesEitherForm) {
    const std::string data = pattern(128, 12);
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/g", "named", 0, 0, 128, data.data()));
    ASSERT_OK(QMXLcreateCompressedOpaqueData(file, "/g", "pathless", 0, 0, 128, data.data()));
    rewriteChecksum("/g/pathless", crcOf(data));
    withHdf5([](hid_t f) {
        H5Id marker(H5Aopen(f, kMarker, H5P_DEFAULT));
        const signed char garbled = 0x42;
        ASSERT_GE(H5Awrite(marker.id, H5T_NATIVE_SCHAR, &garbled), 0);
    });
    reopen(true);
    std::string back(128, '\0');
    ASSERT_OK(QMXLreadOpaqueData(file, "/g", "named", back.data()));
    expectDamaged(QMXLreadOpaqueData(file, "/g", "pathless", back.data()), "/g/pathless",
                  "checksum mismatch");
    withHdf5([](hid_t f) {
        ASSERT_GE(H5Adelete(f, kMarker), 0);
        ASSERT_GE(H5Adelete(f, kAttributeSum), 0);
    });
    reopen(true);
    ASSERT_OK(QMXLreadOpaqueData(file, "/g", "named", back.data()));
    ASSERT_OK(QMXLreadOpaqueData(file, "/g", "pathless", back.data()));
    EXPECT_EQ(back, data);
}
