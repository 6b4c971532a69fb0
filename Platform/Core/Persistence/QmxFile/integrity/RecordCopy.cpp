#include "RecordCopy.h"

#include <H5public.h>
#include <algorithm>
#include <cstring>
#include <memory>

namespace Quellmar::qmxfile {
namespace {

struct FreeName {
    void operator()(char* name) const { H5free_memory(name); }
};

// Copies a run of `size` bytes per record, N < size <= 2N, as two fixed-size moves that
// overlap in the middle: plain vector loads and stores instead of a call per record.
template <std::size_t N>
void copyRuns(const unsigned char* from, unsigned char* to, std::size_t count, std::size_t fromSize,
              std::size_t toSize, std::size_t size) {
    const std::size_t tail = size - N;
    for (std::size_t i = 0; i < count; ++i, from += fromSize, to += toSize) {
        std::memcpy(to, from, N);
        std::memcpy(to + tail, from + tail, N);
    }
}

}  // namespace

std::optional<RecordCopy> RecordCopy::plan(hid_t from, hid_t to) {
    if (H5Tget_class(from) != H5T_COMPOUND || H5Tget_class(to) != H5T_COMPOUND)
        return std::nullopt;
    const int members = H5Tget_nmembers(to);
    if (members < 0)
        return std::nullopt;
    RecordCopy copy;
    copy.m_fromSize = H5Tget_size(from);
    copy.m_toSize = H5Tget_size(to);
    if (copy.m_fromSize == 0 || copy.m_toSize == 0)
        return std::nullopt;
    std::size_t covered = 0;
    for (int m = 0; m < members; ++m) {
        std::unique_ptr<char, FreeName> name(H5Tget_member_name(to, static_cast<unsigned>(m)));
        if (!name)
            return std::nullopt;
        const int index = H5Tget_member_index(from, name.get());
        if (index < 0) {
            H5Eclear2(H5E_DEFAULT);
            continue;
        }
        Hid toMember(H5Tget_member_type(to, static_cast<unsigned>(m)));
        Hid fromMember(H5Tget_member_type(from, static_cast<unsigned>(index)));
        if (!toMember || !fromMember || H5Tequal(toMember.get(), fromMember.get()) <= 0 ||
            H5Tdetect_class(toMember.get(), H5T_VLEN) != 0 ||
            H5Tis_variable_str(toMember.get()) != 0 ||
            H5Tdetect_class(toMember.get(), H5T_REFERENCE) != 0)
            return std::nullopt;
        const std::size_t size = H5Tget_size(toMember.get());
        copy.m_runs.push_back({H5Tget_member_offset(from, static_cast<unsigned>(index)),
                               H5Tget_member_offset(to, static_cast<unsigned>(m)), size});
        covered += size;
    }
    // Members next to each other in both layouts move as one run.
    std::sort(copy.m_runs.begin(), copy.m_runs.end(),
              [](const Run& a, const Run& b) { return a.to < b.to; });
    std::vector<Run> merged;
    for (const Run& r : copy.m_runs) {
        if (!merged.empty() && merged.back().from + merged.back().size == r.from &&
            merged.back().to + merged.back().size == r.to)
            merged.back().size += r.size;
        else
            merged.push_back(r);
    }
    copy.m_runs = std::move(merged);
    copy.m_covers = covered == copy.m_toSize;
    return copy;
}

void RecordCopy::run(const unsigned char* from, unsigned char* to, std::size_t count) const {
    for (const Run& r : m_runs) {
        const unsigned char* f = from + r.from;
        unsigned char* t = to + r.to;
        if (r.size == 1) {
            for (std::size_t i = 0; i < count; ++i, f += m_fromSize, t += m_toSize)
                *t = *f;
        } else if (r.size <= 2) {
            copyRuns<1>(f, t, count, m_fromSize, m_toSize, r.size);
        } else if (r.size <= 4) {
            copyRuns<2>(f, t, count, m_fromSize, m_toSize, r.size);
        } else if (r.size <= 8) {
            copyRuns<4>(f, t, count, m_fromSize, m_toSize, r.size);
        } else if (r.size <= 16) {
            copyRuns<8>(f, t, count, m_fromSize, m_toSize, r.size);
        } else if (r.size <= 32) {
            copyRuns<16>(f, t, count, m_fromSize, m_toSize, r.size);
        } else if (r.size <= 64) {
            copyRuns<32>(f, t, count, m_fromSize, m_toSize, r.size);
        } else {
            for (std::size_t i = 0; i < count; ++i, f += m_fromSize, t += m_toSize)
                std::memcpy(t, f, r.size);
        }
    }
}

}  // namespace Quellmar::qmxfile
