#include "QMXHandles.h"

#include "DAOExceptions.h"
#include "QMXL.h"

namespace Quellmar {

QMXHandle::QMXHandle(const QMXHandle& other) : handle(-1) {
    if (other.handle > 0)
        CopyHandle(other.handle);
}

QMXHandle& QMXHandle::operator=(const QMXHandle& other) {
    if (handle == other.handle)
        return *this;  // one reference already covers both
    closeHandle();
    CopyHandle(other.handle);
    return *this;
}

QMXHandle& QMXHandle::operator=(int value) {
    if (handle == value)
        return *this;
    closeHandle();
    handle = value > 0 ? value : -1;
    return *this;
}

void QMXHandle::copyHandle(int value) {
    if (handle == value)
        return;
    closeHandle();
    CopyHandle(value);
}

void QMXHandle::closeHandle() {
    if (handle > 0) {
        QMXLcloseObject(handle);
        handle = -1;
    }
}

void QMXHandle::CopyHandle(int value) {
    if (value <= 0) {
        closeHandle();
        return;
    }
    if (QMXLcopyHandle(value) < 1) {
        handle = -1;  // the caller released the old value already
        throw DataSourceException("Could not increase reference to handle");
    }
    handle = value;
}

void QMXHandle::assignHandle(int value) {
    if (value >= 1)
        handle = value;
    else
        closeHandle();
}

bool QMXHandle::verify(int value) {
    return value < 1 || QMXLisValid(value) > 0;
}

bool QMXHandle::verifyGroup(int value) {
    return value < 1 || QMXLisValidGroup(value) > 0;
}

QMXstring::~QMXstring() {
    if (lastOwner())
        release();
}

void QMXstring::release() {
    if (cell->pointer != nullptr)
        QMXLreleaseString(&cell->pointer);
    cell->pointer = nullptr;
}

QMXstringList::~QMXstringList() {
    if (lastOwner())
        release();
}

void QMXstringList::release() {
    if (cell->count != 0 && cell->pointer != nullptr) {
        QMXLreleaseStrings(cell->count, cell->pointer);
        cell->count = 0;
    }
    QMXLreleaseArray(&cell->pointer);
    cell->pointer = nullptr;
}

}  // namespace Quellmar
