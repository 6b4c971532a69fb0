// The host reader: manifests, guarded buffers, what it reads from intact and damaged
// containers, and the reader program's contract with the campaign (lines, END, exit status).
#include "CrashReport.h"
#include "Digest.h"
#include "Discover.h"
#include "GuardedBuffer.h"
#include "HostRead.h"
#include "Manifest.h"
#include "QMXL.h"
#include "StoredRanges.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>
#include <string>

namespace Quellmar::hostread {
namespace {

using testing::TempDir;

std::string run(const std::string& command, int* status) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return out;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;)
        out.append(buf, n);
    const int raw = ::pclose(pipe);
    *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return out;
}

std::map<std::string, ReadLine> byKey(const std::vector<ReadLine>& lines) {
    std::map<std::string, ReadLine> map;
    for (const ReadLine& line : lines)
        map[line.key] = line;
    return map;
}

std::string writeDemo(const TempDir& dir) {
    const std::string path = dir.file("demo.qmz");
    int status = -1;
    run(std::string(QMX_TOOL) + " demo " + path + " 2>&1", &status);
    EXPECT_EQ(status, 0);
    return path;
}

TEST(Manifest, EveryKindParsesAndFormatsBack) {
    const std::string text =
        "group opaque models\n"
        "blob string models notes 58\n"
        "design Layout 512\n"
        "vector results pressures float32 24\n"
        "cvector results samples 4 id:int32 position:float64[3] flag:uint8\n"
        "array results/mesh nodes float64 4 3\n"
        "carray results/mesh cells 2 2 material:int16 volume:float64\n";
    const auto entries = parseManifest("# a comment\n\n" + text);
    ASSERT_EQ(entries.size(), 7u);
    EXPECT_EQ(formatManifest(entries), text);
    EXPECT_TRUE(entries[1].stringData);
    EXPECT_EQ(entries[3].type->size, 4u);
    EXPECT_EQ(entries[4].members[1].count, 3u);
    EXPECT_EQ(packedRecordSize(entries[4].members), 4u + 24u + 1u);
    EXPECT_EQ(entries[5].key(), "array results/mesh/nodes");
    EXPECT_EQ(entries[0].key(), "group models");
}

TEST(Manifest, BrokenLinesAreRefusedWithTheirNumber) {
    const char* broken[] = {
        "shelf a b",                      // unknown kind
        "vector results v float16 3",     // unknown type
        "vector results v int32",         // missing count
        "vector results v int32 -1",      // negative count
        "blob opaque models x 12 extra",  // trailing word
        "blob binary models x 12",        // storage kind
        "cvector r s 4",                  // compound without members
        "cvector r s 4 id:int32[0]",      // empty array member
        "cvector r s 4 id",               // member without type
    };
    for (const char* line : broken) {
        try {
            parseManifest(std::string("group opaque ok\n") + line + "\n");
            ADD_FAILURE() << "accepted: " << line;
        } catch (const ParseError& e) {
            EXPECT_NE(std::string(e.what()).find("line 2"), std::string::npos) << e.what();
        }
    }
    EXPECT_THROW(readManifest("/nonexistent/manifest"), ParseError);
}

TEST(Digest, HashesAndEscapes) {
    EXPECT_EQ(bytesDigest("", 0), "0 bytes cbf29ce484222325");  // the FNV-1a offset basis
    EXPECT_NE(bytesDigest("ab", 2), bytesDigest("ba", 2));
    EXPECT_EQ(quoted(std::string("a\"b\\\n\xff", 6)), "\"a\\x22b\\x5c\\x0a\\xff\"");
}

TEST(GuardedBuffer, SlackIsCheckedAndThePageBeyondIsKnown) {
    if (!GuardedBuffer::pageGuarded())
        GTEST_SKIP() << "AddressSanitizer guards the buffers itself";
    const void* guard = nullptr;
    {
        GuardedBuffer buffer(13);
        std::fill_n(buffer.data(), 13, 0x11);
        EXPECT_TRUE(buffer.intact());
        buffer.data()[13] = 0;  // inside the alignment slack
        EXPECT_FALSE(buffer.intact());
        guard = buffer.data() + 16;
        EXPECT_TRUE(GuardedBuffer::isGuardAddress(guard));
        EXPECT_FALSE(GuardedBuffer::isGuardAddress(buffer.data() + 15));
        GuardedBuffer empty(0);
        EXPECT_TRUE(empty.intact());
        EXPECT_TRUE(GuardedBuffer::isGuardAddress(empty.data()));
    }
    EXPECT_FALSE(GuardedBuffer::isGuardAddress(guard));
}

TEST(GuardedBuffer, AWritePastTheEndEndsTheProcessAndIsNamed) {
    const char* expected =
        GuardedBuffer::pageGuarded() ? "host buffer overrun" : "heap-buffer-overflow";
    EXPECT_DEATH(
        {
            installCrashReport();
            GuardedBuffer exact(4096);
            volatile unsigned char* p = exact.data();
            p[4096] = 1;
        },
        expected);
}

TEST(StoredRanges, PiecesAreFoundOnceAcrossSplitStorage) {
    std::string data(1500, '\0');
    std::uint32_t state = 12345;  // no piece of it repeats
    for (char& c : data) {
        state = state * 1664525u + 1013904223u;
        c = static_cast<char>(state >> 24);
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
    // The first 1024 bytes in one place, the rest (a second chunk) elsewhere, behind filler.
    const std::string file = std::string(100, 'x') + data.substr(0, 1024) + std::string(300, 'y') +
                             data.substr(1024) + std::string(50, 'z');
    StoredRanges found(file);
    found.locate(bytes, data.size());
    const std::vector<ByteRange> expected = {{100, 1124}, {1424, 1900}};
    EXPECT_EQ(found.ranges(), expected);

    // A piece that occurs twice is not placed, nor is a tail shorter than 16 bytes.
    StoredRanges twice(data.substr(0, 512) + data.substr(0, 512) + data.substr(512, 20));
    twice.locate(bytes, 532);
    const std::vector<ByteRange> tail = {{1024, 1044}};
    EXPECT_EQ(twice.ranges(), tail);
    StoredRanges tiny(data);
    tiny.locate(bytes, 15);
    EXPECT_TRUE(tiny.ranges().empty());
}

TEST(HostRead, IntactDemoReadsEverythingWithKnownValues) {
    TempDir dir;
    const std::string path = writeDemo(dir);
    const auto lines = readContainer(path, readManifest(QMX_DEMO_MANIFEST));
    for (const ReadLine& line : lines)
        EXPECT_TRUE(line.ok) << line.key << ": " << line.text;
    auto map = byKey(lines);
    const std::string notes = "Gearbox assembly, revision C.\nHousing cast in EN-GJL-250.\n";
    EXPECT_EQ(map["blob models/notes read"].text, bytesDigest(notes.data(), notes.size()));
    float pressures[24];
    for (int i = 0; i < 24; ++i)
        pressures[i] = 1.0f + 0.125f * static_cast<float>(i % 8);
    EXPECT_EQ(map["vector results/pressures read-by-manifest"].text,
              bytesDigest(pressures, sizeof pressures));
    EXPECT_EQ(map["vector results/pressures read-by-shape"].text,
              map["vector results/pressures read-by-manifest"].text);
    EXPECT_EQ(map["vector results/pressures shape"].text, "24 x 1 type 2");
    EXPECT_EQ(map["array results/mesh/nodes shape"].text, "4 x 3 type 3");
    EXPECT_EQ(map["group models version"].text, "3");
    EXPECT_EQ(map["group models id"].text, "\"MDL-2041\"");
    EXPECT_EQ(map["group models max-identifier"].text, "4096 2");
    EXPECT_EQ(map["group materials modified-by"].text, "\"Software_Revision_Unknown\"");
    EXPECT_EQ(map["design Layout read"].text.substr(0, 10), "512 bytes ");
    EXPECT_EQ(map["cvector results/samples read-by-shape"].text.substr(0, 9),
              "132 bytes");  // 4 x 33
    EXPECT_EQ(map["carray results/mesh/cells read-by-manifest"].text.substr(0, 8),
              "40 bytes");  // 4 x 10
}

TEST(HostRead, AbsentObjectsAndAMissingFileAreAnswersNotCrashes) {
    TempDir dir;
    const std::string path = writeDemo(dir);
    const auto lines =
        byKey(readContainer(path, parseManifest("blob opaque models missing 10\n"
                                                "vector results missing int32 5\n")));
    EXPECT_EQ(lines.at("blob models/missing exists").text, "false");
    EXPECT_FALSE(lines.at("blob models/missing read").ok);
    EXPECT_EQ(lines.at("vector results/missing exists").text, "false");
    EXPECT_EQ(lines.at("vector results/missing shape").text,
              "0 x 1 type -1");  // the DAO's "missing"
    EXPECT_FALSE(lines.at("vector results/missing read-by-shape").ok);
    EXPECT_FALSE(lines.at("vector results/missing read-by-manifest").ok);

    const auto missing = readContainer(dir.file("absent.qmz"), parseManifest("design Layout 1\n"));
    ASSERT_EQ(missing.size(), 1u);
    EXPECT_EQ(missing[0].key, "open");
    EXPECT_FALSE(missing[0].ok);
}

TEST(HostRead, AFileVersionThatCannotBeReadIsAnErrorNotAnAnswer) {
    TempDir dir;
    const std::string path = writeDemo(dir);
    std::string bytes = testing::readFile(path);
    const auto at = bytes.find("QMZ_FORMAT_VERSION");
    ASSERT_NE(at, std::string::npos);
    bytes[at + 17] ^= 0x20;  // the attribute now goes by another name
    testing::writeFile(path, bytes);
    const auto lines = readContainer(path, parseManifest("design Layout 512\n"));
    ASSERT_FALSE(lines.empty());
    // Either the library refuses the file outright or the version query reports its failure.
    const bool refused = lines[0].key == "open" && !lines[0].ok;
    const auto map = byKey(lines);
    EXPECT_TRUE(refused || (map.count("file version") && !map.at("file version").ok))
        << formatLines(lines);
}

TEST(HostRead, AShapeBeyondTheHostsBoundIsRefusedByTheHost) {
    TempDir dir;
    const std::string path = writeDemo(dir);
    ReadOptions options;
    options.maxBufferBytes = 100;  // temperatures: 24 doubles = 192 bytes
    const auto lines = byKey(
        readContainer(path, parseManifest("vector results temperatures float64 24\n"), options));
    EXPECT_FALSE(lines.at("vector results/temperatures read-by-shape").ok);
    EXPECT_EQ(lines.at("vector results/temperatures read-by-shape").text.rfind("host refused", 0),
              0u);
}

TEST(HostRead, DiscoveryFindsWhatTheDemoStored) {
    TempDir dir;
    const std::string path = writeDemo(dir);
    const int file = QMXLopenFileReadOnly(path.c_str());
    ASSERT_GT(file, 0);
    const auto found = discoverEntries(file);
    QMXLcloseFile(file);
    std::set<std::string> foundNames, storedNames;
    for (const Entry& e : found)
        foundNames.insert(e.group + "|" + e.name);
    for (const Entry& e : readManifest(QMX_DEMO_MANIFEST))
        storedNames.insert(e.group + "|" + e.name);
    EXPECT_EQ(foundNames, storedNames);
    // Read back through the DAOs, everything discovered answers.
    for (const ReadLine& line : readContainer(path, found))
        EXPECT_TRUE(line.ok) << line.key << ": " << line.text;
}

TEST(HostRead, GeneratedContainerHasWhatTheCampaignNeedsAndReadsBack) {
    TempDir dir;
    int status = -1;
    run(std::string(QMX_HOSTREAD_GENERATE) + " " + dir.file("large.qmz") + " " +
            dir.file("large.manifest") + " 2>&1",
        &status);
    ASSERT_EQ(status, 0);
    const auto entries = readManifest(dir.file("large.manifest"));
    int objects = 0, compoundVectors = 0, compoundArrays = 0, arrays = 0;
    long long largest = 0;
    for (const Entry& e : entries) {
        if (e.kind != EntryKind::Group)
            ++objects;
        compoundVectors += e.kind == EntryKind::CompoundVector;
        compoundArrays += e.kind == EntryKind::CompoundArray;
        arrays += e.kind == EntryKind::Array;
        const long long bytes = e.kind == EntryKind::Blob ? e.rows
                                : e.type ? e.rows * e.cols * (long long)e.type->size
                                         : 0;
        largest = std::max(largest, bytes);
    }
    EXPECT_GE(objects, 200);
    EXPECT_GT(compoundVectors, 0);
    EXPECT_GT(compoundArrays, 0);
    EXPECT_GT(arrays, 0);
    EXPECT_GE(largest, 2LL << 20);
    const auto lines = readContainer(dir.file("large.qmz"), entries);
    for (const ReadLine& line : lines)
        EXPECT_TRUE(line.ok) << line.key << ": " << line.text;
    EXPECT_EQ(byKey(lines)["blob large/field read"].text.substr(0, 14), "3145728 bytes ");
}

TEST(HostReaderProgram, PrintsLinesThenEndAndSurvivesATruncatedCopy) {
    TempDir dir;
    const std::string path = writeDemo(dir);
    const std::string reader = std::string(QMX_HOST_READER) + " ";
    int status = -1;
    const std::string intact =
        run(reader + path + " " + QMX_DEMO_MANIFEST + " 2>/dev/null", &status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(intact.find("blob models/gearbox read\tok\t2048 bytes "), std::string::npos);
    EXPECT_EQ(intact.substr(intact.size() - 4), "END\n");
    EXPECT_EQ(intact.find("\terror\t"), std::string::npos);

    const std::string bytes = testing::readFile(path);
    testing::writeFile(dir.file("cut.qmz"), bytes.substr(0, bytes.size() / 2));
    const std::string cut =
        run(reader + dir.file("cut.qmz") + " " + QMX_DEMO_MANIFEST + " 2>/dev/null", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(cut.substr(cut.size() - 4), "END\n");
    EXPECT_NE(cut.find("\terror\t"), std::string::npos);

    const std::string found = run(reader + "--discover " + path + " 2>/dev/null", &status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(found.find("array results/mesh/cells read-by-shape\tok\t"), std::string::npos);

    // Where the objects lie: inside the file, and the 2048 bytes of gearbox among them.
    const std::string ranges = run(reader + "--ranges " + path + " " + QMX_DEMO_MANIFEST, &status);
    EXPECT_EQ(status, 0);
    std::istringstream in(ranges);
    std::size_t first = 0, end = 0, covered = 0, widest = 0;
    while (in >> first >> end) {
        EXPECT_LT(first, end);
        EXPECT_LE(end, bytes.size());
        covered += end - first;
        widest = std::max(widest, end - first);
    }
    EXPECT_GE(widest, 2048u);
    EXPECT_LT(covered, bytes.size());

    run(reader + path + " " + dir.file("no.manifest") + " 2>/dev/null", &status);
    EXPECT_EQ(status, 2);
    run(reader + "--bogus 2>/dev/null", &status);
    EXPECT_EQ(status, 2);
}

}  // namespace
}  // namespace Quellmar::hostread
