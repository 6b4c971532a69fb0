// A host reading a large item read-only through the DAO, whole or a range of it, which takes the
// item's bytes straight from the file: a damaged slice reaches the host as an exception naming
// the item, and the file reads right again afterwards. (Failing reads of the file: the read-side
// I/O-error loop.)
#include "DAOExceptions.h"
#include "SessionFixture.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace Quellmar;
namespace qt = Quellmar::testing;
using qt::Session;

namespace {

// Whether `read` throws DataAccessViolationException naming the item.
template <class Read>
bool throwsNaming(Read read, const std::string& item) {
    try {
        read();
    } catch (const DataAccessViolationException& e) {
        return std::string(e.what()).find(item) != std::string::npos;
    }
    return false;
}

}  // namespace

TEST(LargeReadFaults, DamageReachesTheHost) {
    qt::TempDir dir;
    const std::string file = dir.file("large.qmz");
    std::vector<double> values(400000);  // 3.2 MB: read in slices of 1 MiB
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = static_cast<double>(i) + 0.25;
    {
        Session s(file);
        s.vectors.create("results", "series", VT_DOUBLE, static_cast<int>(values.size()),
                         values.data());
    }
    std::vector<double> back(values.size());
    std::vector<float> floats(values.size());
    const auto asStored = [&](Session& s) {
        return [&] { s.vectors.read("results", "series", VT_DOUBLE, back.data()); };
    };
    // The last 5,000 elements: the range ends where the damage below is.
    const long long rangeFirst = static_cast<long long>(values.size()) - 5000;
    const auto lastRange = [&](Session& s) {
        return [&] {
            s.vectors.readRange("results", "series", VT_DOUBLE, rangeFirst, 5000, back.data());
        };
    };

    // A byte of the last slice, which the caller sums itself.
    const std::string original = qt::readFile(file);
    std::string damaged = original;
    const std::string last(reinterpret_cast<const char*>(&values[values.size() - 2]), 8);
    const std::size_t at = damaged.find(last);
    ASSERT_NE(at, std::string::npos);
    ASSERT_EQ(damaged.find(last, at + 1), std::string::npos);
    damaged[at + 3] = static_cast<char>(damaged[at + 3] ^ 0x10);
    qt::writeFile(file, damaged);
    {
        Session s(file, UserContext::ReadOnly);
        EXPECT_TRUE(throwsNaming(asStored(s), "/results/series"));
        EXPECT_TRUE(throwsNaming(
            [&] { s.vectors.read("results", "series", VT_FLOAT, floats.data()); },
            "/results/series"));
        EXPECT_TRUE(throwsNaming(lastRange(s), "/results/series"));
    }
    qt::writeFile(file, original);
    Session s(file, UserContext::ReadOnly);
    s.vectors.read("results", "series", VT_DOUBLE, back.data());
    EXPECT_EQ(back, values);
    std::vector<double> range(5000);
    s.vectors.readRange("results", "series", VT_DOUBLE, rangeFirst, 5000, range.data());
    EXPECT_TRUE(std::equal(range.begin(), range.end(), values.begin() + rangeFirst));
}
