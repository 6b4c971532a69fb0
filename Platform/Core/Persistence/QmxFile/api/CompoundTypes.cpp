// Compound datatypes for records; they belong to no file.
#include "Call.h"
#include "QMXL.h"
#include "TypeCodes.h"

using namespace Quellmar::qmxfile;

namespace {

Entry* compound(Call& call, int type) {
    Entry* e = call.entry(type);
    if (e && e->kind != Kind::Datatype) {
        call.fail("handle " + std::to_string(type) + " is not a datatype");
        return nullptr;
    }
    return e;
}

int insert(Call& call, Entry& type, const char* name, unsigned long long offset, hid_t member,
           const std::string& what) {
    const size_t total = H5Tget_size(type.id.get());
    const size_t size = H5Tget_size(member);
    if (offset > total || size > total - offset)
        return call.fail("member " + quoted(name) + " (" + what + ") at offset " +
                         std::to_string(offset) + " does not fit a record of " +
                         std::to_string(total) + " bytes");
    if (H5Tget_member_index(type.id.get(), name) >= 0)
        return call.fail("the record has a member " + quoted(name) + " already");
    if (H5Tinsert(type.id.get(), name, offset, member) < 0)
        return call.failHdf5("cannot add member " + quoted(name) + " (" + what + ") at offset " +
                             std::to_string(offset) + " (does it overlap another?)");
    return 1;
}

}  // namespace

extern "C" int QMXLcreateCompoundType(int reserved, unsigned long long size, int flags) {
    Call call("QMXLcreateCompoundType");
    if (reserved != 0 || flags != 0)
        return call.fail("the first and third arguments are reserved and must be 0");
    if (size == 0)
        return call.fail("a record needs a size above 0");
    Hid type(H5Tcreate(H5T_COMPOUND, size));
    if (!type)
        return call.failHdf5("cannot create a compound type of " + std::to_string(size) + " bytes");
    const int handle = HandleTable::instance().add(std::move(type), Kind::Datatype, 0, nullptr);
    return handle > 0 ? handle : call.fail("no handle values left in this process");
}

extern "C" int QMXLaddField(int type, const char* name, unsigned long long offset, int memberType) {
    Call call("QMXLaddField");
    Entry* e = compound(call, type);
    if (!e || !call.text(name, "member name"))
        return -1;
    const hid_t member = memoryTypeOf(memberType);
    if (member < 0)
        return call.fail("unknown member type code " + std::to_string(memberType) + " for " +
                         quoted(name));
    return insert(call, *e, name, offset, member, nameOfCode(memberType));
}

extern "C" int QMXLaddArray(int type, const char* name, unsigned long long offset, int memberType,
                            unsigned long long count) {
    Call call("QMXLaddArray");
    Entry* e = compound(call, type);
    if (!e || !call.text(name, "member name"))
        return -1;
    const hid_t element = memoryTypeOf(memberType);
    if (element < 0)
        return call.fail("unknown member type code " + std::to_string(memberType) + " for " +
                         quoted(name));
    if (count == 0)
        return call.fail("array member " + quoted(name) + " needs at least one element");
    if (count > (1ull << 32))
        return call.fail("array member " + quoted(name) + " is too long");
    const hsize_t dims = count;
    Hid array(H5Tarray_create2(element, 1, &dims));
    if (!array)
        return call.failHdf5("cannot make the array type of " + quoted(name));
    return insert(call, *e, name, offset, array.get(),
                  std::to_string(count) + " x " + nameOfCode(memberType));
}
