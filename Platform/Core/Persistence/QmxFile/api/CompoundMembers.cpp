// Describing a stored compound type, so that tools can list and read records without the
// writer's record layout.
#include "Call.h"
#include "ItemAccess.h"
#include "Memory.h"
#include "QMXL.h"
#include "TypeCodes.h"

#include <string>
#include <vector>

using namespace Quellmar::qmxfile;

namespace {

struct Member {
    std::string name;
    int code = -1;
    long long count = 1;
};

// A member's element type code and element count; arrays of any rank count all elements.
bool describeMember(hid_t memberType, Member& m) {
    if (H5Tget_class(memberType) != H5T_ARRAY) {
        m.code = codeOfType(memberType);
        return true;
    }
    const int rank = H5Tget_array_ndims(memberType);
    if (rank < 1 || rank > H5S_MAX_RANK)
        return false;
    hsize_t dims[H5S_MAX_RANK];
    if (H5Tget_array_dims2(memberType, dims) < 0)
        return false;
    long long n = 1;
    for (int d = 0; d < rank; ++d) {
        if (dims[d] == 0 || dims[d] > (1ull << 32) || n > (1ll << 40))
            return false;
        n *= static_cast<long long>(dims[d]);
    }
    Hid base(H5Tget_super(memberType));
    if (!base)
        return false;
    m.code = codeOfType(base.get());
    m.count = n;
    return true;
}

}  // namespace

extern "C" int QMXLgetCompoundMembers(int file, const char* group, const char* name, int* count,
                                      char*** names, int** types, long long** counts) {
    Call call("QMXLgetCompoundMembers");
    if (!call.out(count, "count") || !call.out(names, "names") || !call.out(types, "types") ||
        !call.out(counts, "counts"))
        return -1;
    *count = 0;
    *names = nullptr;
    *types = nullptr;
    *counts = nullptr;
    auto item = itemRef(call, file, group, name);
    if (!item)
        return -1;
    Hid dataset = openItem(call, *item, ItemKind::Compound);
    if (!dataset)
        return -1;
    Hid type(H5Dget_type(dataset.get()));
    if (!type)
        return call.failHdf5("cannot read the type of " + item->where());
    const int n = H5Tget_nmembers(type.get());
    if (n < 0)
        return call.failHdf5("cannot count the members of " + item->where());

    std::vector<Member> members(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        char* text = H5Tget_member_name(type.get(), static_cast<unsigned>(i));
        Hid memberType(H5Tget_member_type(type.get(), static_cast<unsigned>(i)));
        if (!text || !memberType) {
            if (text)
                H5free_memory(text);
            return call.failHdf5("cannot read member " + std::to_string(i) + " of " +
                                 item->where());
        }
        members[static_cast<size_t>(i)].name = text;
        H5free_memory(text);
        if (!describeMember(memberType.get(), members[static_cast<size_t>(i)]))
            return call.fail("member " + quoted(members[static_cast<size_t>(i)].name) + " of " +
                             item->where() + " has an array shape this library cannot describe");
    }

    std::vector<std::string> texts;
    for (const Member& m : members)
        texts.push_back(m.name);
    char** list = allocateStrings(texts);
    int* codes = static_cast<int*>(allocateArray(members.size() * sizeof(int)));
    long long* lengths = static_cast<long long*>(allocateArray(members.size() * sizeof(long long)));
    if (!list || !codes || !lengths) {
        if (list)
            QMXLreleaseStrings(static_cast<int>(texts.size()), list);
        releaseTracked(list);
        releaseTracked(codes);
        releaseTracked(lengths);
        return call.fail("out of memory");
    }
    for (size_t i = 0; i < members.size(); ++i) {
        codes[i] = members[i].code;
        lengths[i] = members[i].count;
    }
    *count = n;
    *names = list;
    *types = codes;
    *counts = lengths;
    return 1;
}
