// The stored member index of version-1 groups: sound after any history of creations, removals
// and renames, damage that HDF5 reads without complaint is reported, also after a session
// whose checks were remembered.
#include "JournalControl.h"
#include "TestFiles.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>
#include <set>

using namespace Quellmar::testing;

namespace {

// Names with shared prefixes, dots, and a byte above 127 (HDF5 orders names as unsigned bytes).
std::string randomName(std::mt19937& random) {
    static const std::string letters = "aAbz0_.-~\xe9";
    std::uniform_int_distribution<std::size_t> length(1, 24);
    std::uniform_int_distribution<std::size_t> letter(0, letters.size() - 1);
    std::string name;
    for (std::size_t n = length(random); name.size() < n;)
        name += letters[letter(random)];
    return name == "." ? "dot" : name;
}

hid_t createFile(const std::string& path, unsigned internalK, unsigned leafK) {
    H5Id creation(H5Pcreate(H5P_FILE_CREATE));
    H5Pset_sym_k(creation.id, internalK, leafK);
    return H5Fcreate(path.c_str(), H5F_ACC_TRUNC, creation.id, H5P_DEFAULT);
}

// Opens the file read-only through the library and asks it to verify the group.
::testing::AssertionResult indexSound(const std::string& path, const std::string& group) {
    const int file = QMXLopenFileReadOnly(path.c_str());
    if (file <= 0)
        return ::testing::AssertionFailure() << "cannot open: " << lastError();
    const int verified = QMXLverifyObject(file, group.c_str());
    const std::string error = lastError();
    QMXLcloseAllFileHandlesForFile(file);
    if (verified == 1)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << error;
}

std::string verifyError(const std::string& path, const std::string& group) {
    const ::testing::AssertionResult result = indexSound(path, group);
    return result ? std::string() : result.message();
}

std::vector<std::size_t> offsetsOf(const std::string& bytes, const std::string& signature) {
    std::vector<std::size_t> found;
    for (auto at = bytes.find(signature); at != std::string::npos;
         at = bytes.find(signature, at + 1))
        found.push_back(at);
    return found;
}

// Random creations, removals and renames in one group, checked after every batch; then every
// member removed. Small node sizes give a deep tree with few members.
void churn(const std::string& path, unsigned internalK, unsigned leafK, unsigned seed) {
    std::mt19937 random(seed);
    std::set<std::string> members;
    {
        H5Id file(createFile(path, internalK, leafK));
        ASSERT_GE(file.id, 0);
        H5Id group(H5Gcreate2(file.id, "g", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
        ASSERT_GE(group.id, 0);
    }
    auto batch = [&](std::size_t operations, bool removeOnly) {
        H5Id file(H5Fopen(path.c_str(), H5F_ACC_RDWR, H5P_DEFAULT));
        H5Id group(H5Gopen2(file.id, "g", H5P_DEFAULT));
        for (std::size_t i = 0; i < operations; ++i) {
            const unsigned roll = random() % 100;
            if (!removeOnly && (roll < 55 || members.empty())) {
                const std::string name = randomName(random);
                if (members.insert(name).second) {
                    ASSERT_GE(H5Gclose(H5Gcreate2(group.id, name.c_str(), H5P_DEFAULT, H5P_DEFAULT,
                                                  H5P_DEFAULT)),
                              0)
                        << name;
                }
                continue;
            }
            if (members.empty())
                return;
            auto victim = members.begin();
            std::advance(victim, random() % members.size());
            if (!removeOnly && roll >= 90) {
                const std::string to = randomName(random);
                if (members.count(to))
                    continue;
                ASSERT_GE(H5Lmove(group.id, victim->c_str(), group.id, to.c_str(), H5P_DEFAULT,
                                  H5P_DEFAULT),
                          0);
                members.insert(to);
            } else {
                ASSERT_GE(H5Ldelete(group.id, victim->c_str(), H5P_DEFAULT), 0);
            }
            members.erase(victim);
        }
    };
    std::size_t most = 0;
    for (int round = 0; round < 10; ++round) {
        batch(300, false);
        ASSERT_TRUE(indexSound(path, "/g"))
            << "round " << round << ", " << members.size() << " members";
        most = std::max(most, members.size());
    }
    EXPECT_GT(most, 300u);  // more than one tree node holds with HDF5's node sizes
    while (!members.empty()) {
        batch(members.size() / 2 + 1, true);
        ASSERT_TRUE(indexSound(path, "/g")) << members.size() << " members left";
    }
    ASSERT_TRUE(indexSound(path, "/"));
}

TEST(GroupIndex, SoundAfterCreationsRemovalsAndRenames) {
    TempDir dir;
    churn(dir.file("default.h5"), 16, 4, 7);  // HDF5's node sizes, as containers use them
    churn(dir.file("small.h5"), 2, 2, 11);    // four children per node: trees four levels deep
    churn(dir.file("mixed.h5"), 3, 5, 13);
}

// A group of 20 members ("m00".."m19", created in order) beside nothing else but the root.
class DamagedIndex : public ::testing::Test {
protected:
    void SetUp() override {
        path = dir.file("d.h5");
        {
            H5Id file(createFile(path, 16, 4));
            H5Id group(H5Gcreate2(file.id, "g", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
            for (int i = 0; i < 20; ++i) {
                char name[8];
                std::snprintf(name, sizeof name, "m%02d", i);
                H5Gclose(H5Gcreate2(group.id, name, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT));
            }
        }
        bytes = Quellmar::testing::readFile(path);
        // The root's node holds one member; the group's hold several each.
        for (std::size_t at : offsetsOf(bytes, "SNOD"))
            if (le(bytes, at + 6, 2) > 1)
                nodes.push_back(at);
        for (std::size_t at : offsetsOf(bytes, "TREE"))
            if (le(bytes, at + 6, 2) > 1)
                tree = at;
        ASSERT_GE(nodes.size(), 3u);
        ASSERT_NE(tree, 0u);
        ASSERT_TRUE(indexSound(path, "/g"));
    }
    void write() { Quellmar::testing::writeFile(path, bytes); }
    // What HDF5 itself makes of the damaged group: its member count, without an error.
    hsize_t membersSeenByHdf5() {
        H5Id file(H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT));
        H5G_info_t info{};
        EXPECT_GE(H5Gget_info_by_name(file.id, "g", &info, H5P_DEFAULT), 0);
        return info.nlinks;
    }

    TempDir dir;
    std::string path;
    std::string bytes;
    std::vector<std::size_t> nodes;  // symbol-table nodes of /g
    std::size_t tree = 0;            // the B-tree node of /g
};

TEST_F(DamagedIndex, ZeroedOrShortenedMemberCountsAreReported) {
    const std::string original = bytes;
    for (std::size_t node : nodes) {
        for (std::uint64_t count : {std::uint64_t{0}, le(original, node + 6, 2) - 1}) {
            bytes = original;
            putLe(bytes, node + 6, 2, count);
            write();
            EXPECT_LT(membersSeenByHdf5(), 20u) << "HDF5 lists the lost members after all";
            const std::string error = verifyError(path, "/g");
            // Found when the group is first looked up, before HDF5 reads its index.
            EXPECT_NE(error.find("'/g' is damaged"), std::string::npos) << error;
            EXPECT_NE(error.find(count == 0 ? "lists no members" : "but the index says"),
                      std::string::npos)
                << "node at " << node << " count " << count << ": " << error;
        }
    }
}

TEST_F(DamagedIndex, OrderAndSharedNodesAreReported) {
    const std::string original = bytes;
    // The first two entries of a node swap their names.
    const std::size_t entry = 8 + 8 + 24;
    const std::size_t first = nodes[0] + 8;
    const std::uint64_t a = le(bytes, first, 8);
    putLe(bytes, first, 8, le(bytes, first + entry, 8));
    putLe(bytes, first + entry, 8, a);
    write();
    EXPECT_EQ(membersSeenByHdf5(), 20u);
    std::string error = verifyError(path, "/g");
    EXPECT_NE(error.find("is listed after"), std::string::npos) << error;

    // Two children of the tree point at the same node: HDF5 lists its members twice.
    bytes = original;
    const std::size_t children = tree + 8 + 2 * 8;  // after the two sibling addresses
    putLe(bytes, children + 8 + 16, 8, le(bytes, children + 8, 8));
    write();
    error = verifyError(path, "/g");
    EXPECT_NE(error.find("reaches one node twice"), std::string::npos) << error;

    // The second entry of a node names the first one's name again: HDF5 lists it twice.
    bytes = original;
    putLe(bytes, first + entry, 8, le(bytes, first, 8));
    write();
    EXPECT_EQ(membersSeenByHdf5(), 20u);
    error = verifyError(path, "/g");
    EXPECT_NE(error.find("is listed twice"), std::string::npos) << error;
}

// A member lost from the index does not read as absent: every lookup through the group, in
// read-only and read-write sessions, reports the damage.
TEST_F(DamagedIndex, LostMembersAreDamageNotAbsence) {
    putLe(bytes, nodes.back() + 6, 2, 0);
    write();
    EXPECT_LT(membersSeenByHdf5(), 20u);
    for (const bool writable : {false, true}) {
        const int file = writable ? QMXLopenFile(path.c_str()) : QMXLopenFileReadOnly(path.c_str());
        ASSERT_GT(file, 0) << lastError();
        EXPECT_LT(QMXLexistsDataset(file, "/g/m19"), 0);
        EXPECT_ERROR("'/g' is damaged: a symbol-table node lists no members");
        EXPECT_LT(QMXLopenGroup(file, "/g/m19"), 0);
        EXPECT_ERROR("'/g' is damaged");
        int count = 0;
        char** names = nullptr;
        int* kinds = nullptr;
        EXPECT_LT(QMXLlistGroup(file, "/g", &count, &names, &kinds), 0);
        EXPECT_EQ(count, 0);
        // The rest of the file is not affected.
        EXPECT_EQ(QMXLexistsDataset(file, "/other"), 0) << lastError();
        QMXLcloseAllFileHandlesForFile(file);
    }
}

// The checks of stored objects are remembered from one open of a file to the next while the
// file stays as the last session left it; damage done in between is still found.
class RememberedChecks : public ::testing::Test {
protected:
    void SetUp() override {
        path = dir.file("c.qmz");
        const int file = QMXLcreateFile(path.c_str());
        ASSERT_GT(file, 0) << lastError();
        for (int i = 0; i < 20; ++i) {
            char name[16];
            std::snprintf(name, sizeof name, "/g/m%02d", i);
            ASSERT_OK(QMXLcreatePathToGroup(file, name));
        }
        ASSERT_OK(QMXLcloseAllFileHandlesForFile(file));
    }
    // Zeroes the member count of every symbol-table node holding more than one member, in
    // place: same size, same inode.
    void zeroMemberCounts() {
        const std::string bytes = Quellmar::testing::readFile(path);
        std::fstream out(path, std::ios::in | std::ios::out | std::ios::binary);
        int zeroed = 0;
        for (std::size_t at : offsetsOf(bytes, "SNOD")) {
            if (le(bytes, at + 6, 2) > 1) {
                out.seekp(static_cast<std::streamoff>(at + 6));
                out.put('\0');
                out.put('\0');
                ++zeroed;
            }
        }
        ASSERT_GT(zeroed, 0);
    }

    TempDir dir;
    std::string path;
};

TEST_F(RememberedChecks, DamageAfterAReadOnlySessionIsFound) {
    ASSERT_EQ(verifyError(path, "/g"), "");
    ASSERT_EQ(verifyError(path, "/g"), "") << "a second read of the unchanged file";
    zeroMemberCounts();
    const std::string error = verifyError(path, "/g");
    EXPECT_NE(error.find("'/g' is damaged"), std::string::npos) << error;
    EXPECT_NE(error.find("lists no members"), std::string::npos) << error;
}

TEST_F(RememberedChecks, DamageAfterAWritingSessionIsFound) {
    {
        const int file = QMXLopenFile(path.c_str());
        ASSERT_GT(file, 0) << lastError();
        ASSERT_OK(QMXLcreatePathToGroup(file, "/g/m20"));
        ASSERT_OK(QMXLcloseAllFileHandlesForFile(file));
    }
    ASSERT_EQ(verifyError(path, "/g"), "") << "what the writer committed reads back sound";
    zeroMemberCounts();
    for (bool readOnly : {true, false}) {
        const int file = readOnly ? QMXLopenFileReadOnly(path.c_str()) : QMXLopenFile(path.c_str());
        ASSERT_GT(file, 0) << lastError();
        // Looked up by a new member's creation as by a read: the damaged index is found first.
        EXPECT_LT(readOnly ? QMXLverifyObject(file, "/g") : QMXLcreatePathToGroup(file, "/g/m21"),
                  1);
        EXPECT_ERROR("'/g' is damaged");
        QMXLcloseAllFileHandlesForFile(file);
    }
}

}  // namespace
