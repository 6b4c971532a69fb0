#ifndef QUELLMAR_CLASSCOMPOSER_H
#define QUELLMAR_CLASSCOMPOSER_H

#include "DataAccessInterfaceExport.h"

#include "VectorTypes.h"

namespace Quellmar {

/// Describes the memory layout of a host record member by member:
///   composer & triad{"id", offsetof(R, id), ClassMemberTypes::MT_INT32}
///            & quartet{"xyz", offsetof(R, xyz), ClassMemberTypes::MT_DOUBLE, 3};
class QMX_INTERFACE_API ClassComposer {
public:
    /// A layout of records `totalSize` bytes long.
    explicit ClassComposer(unsigned long long totalSize) : m_totalSize(totalSize) {}
    ///@{
    /// Special members: a defaulted one copies, moves or destroys member by member; a deleted
    /// one does not exist.
    ClassComposer(const ClassComposer&) = default;
    ClassComposer& operator=(const ClassComposer&) = default;
    virtual ~ClassComposer() = default;
    ///@}

    /// An array member of `count` elements.
    virtual void registerMember(const char* name, unsigned long long offset,
                                ClassMemberTypes::tag type, unsigned long long count) = 0;
    /// A single member.
    virtual void registerMember(const char* name, unsigned long long offset,
                                ClassMemberTypes::tag type) = 0;

    /// Registers an array member; returns this composer, so registrations chain.
    virtual ClassComposer& operator&(const quartet& member) {
        registerMember(member.name, member.offset, member.type, member.count);
        return *this;
    }
    /// Registers a single member; returns this composer, so registrations chain.
    virtual ClassComposer& operator&(const triad& member) {
        registerMember(member.name, member.offset, member.type);
        return *this;
    }

    /// The record size given at construction, in bytes.
    unsigned long long getTotalSize() const { return m_totalSize; }

private:
    unsigned long long m_totalSize;
};

}  // namespace Quellmar

#endif
