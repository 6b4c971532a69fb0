#include "QMXClassComposer.h"
#include "QMXComposerOf.h"

#include "QMXL.h"
#include "QmException.h"

namespace Quellmar {

// The size lives only in the file library's datatype, so the base keeps 0.
QMXClassComposer::QMXClassComposer(unsigned long long totalSize) : ClassComposer(0) {
    if (totalSize == 0)
        throw QminvalidArgument("Class composition requires total size.");
    typeHandle = QMXLcreateCompoundType(0, totalSize, 0);
}

QMXClassComposer::QMXClassComposer(const QMXClassComposer& other)
    : ClassComposer(other), typeHandle(other.typeHandle) {}

QMXClassComposer& QMXClassComposer::operator=(const QMXClassComposer& other) {
    ClassComposer::operator=(other);
    typeHandle = other.typeHandle;
    return *this;
}

QMXClassComposer::~QMXClassComposer() {
    typeHandle.closeHandle();
}

void QMXClassComposer::registerMember(const char* name, unsigned long long offset,
                                      ClassMemberTypes::tag type, unsigned long long count) {
    QMXLaddArray(typeHandle.getHandle(), name, offset, static_cast<int>(type), count);
}

void QMXClassComposer::registerMember(const char* name, unsigned long long offset,
                                      ClassMemberTypes::tag type) {
    QMXLaddField(typeHandle.getHandle(), name, offset, static_cast<int>(type));
}

QMXHandle QMXClassComposer::getDataTypeHandle() const {
    return typeHandle;
}

QMXClassComposer& composerOf(ClassComposer& type) {
    auto* composer = dynamic_cast<QMXClassComposer*>(&type);
    if (composer == nullptr)
        throw QminvalidArgument("Invalid class definition.");
    return *composer;
}

}  // namespace Quellmar
