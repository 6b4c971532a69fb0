#ifndef QUELLMAR_QMXHANDLES_H
#define QUELLMAR_QMXHANDLES_H

#include "QMXDataAccessExport.h"

#include <memory>

namespace Quellmar {

/// Owns one reference on a file-library object handle and gives it back when it goes. The file
/// library counts references per handle value: copying a wrapper adds one (QMXLcopyHandle),
/// releasing drops one (QMXLcloseObject). A positive value is owned; -1 means empty.
class QMX_DATAACCESS_API QMXHandle {
public:
    QMXHandle() : handle(-1) {}
    /// Adopts the reference an opening call returned; 0 and negative values give -1.
    QMXHandle(int value)
        : handle(value > 0 ? value : -1) {}  // implicit: open calls assign straight in
    /// Takes a reference of its own; throws DataSourceException
    /// "Could not increase reference to handle" when the library refuses.
    QMXHandle(const QMXHandle& other);
    ~QMXHandle() { closeHandle(); }

    /// Releases the current reference and takes one of its own on `other`'s handle (nothing
    /// changes when both hold the same value). Throws as the copy constructor does.
    QMXHandle& operator=(const QMXHandle& other);
    /// Releases the current reference and adopts `value` (no new reference); 0 and negative
    /// values give -1.
    QMXHandle& operator=(int value);

    /// Releases the current reference and takes a new one on `value`.
    void copyHandle(int value);
    /// Gives the reference back to the file library; the wrapper is empty (-1) afterwards.
    void closeHandle();

    /// The handle value; -1 when empty.
    int getHandle() const { return handle; }
    /// Whether the wrapper holds a handle (value > 0); the library is not asked.
    bool isValid() const { return handle > 0; }
    /// True for an empty wrapper; otherwise whether the library still knows the object.
    bool verify() const { return verify(handle); }
    /// True for 0 or a negative value; otherwise whether the library still knows `value`.
    static bool verify(int value);
    /// Like verify(), and the object must be a group.
    bool verifyGroup() const { return verifyGroup(handle); }
    /// True for 0 or a negative value; otherwise whether `value` is a live group handle.
    static bool verifyGroup(int value);

    ///@{
    /// Compares the handle value with a plain value.
    bool operator==(int value) const { return handle == value; }
    bool operator!=(int value) const { return handle != value; }
    bool operator<(int value) const { return handle < value; }
    bool operator>(int value) const { return handle > value; }
    ///@}

protected:
    /// Stores `value` with a new reference; overwrites without release, so callers release first.
    void CopyHandle(int value);
    /// Stores `value` as is: no release, no new reference.
    void assignHandle(int value);

private:
    int handle;
};

// Typed handles: the same ownership as QMXHandle, named for the kind of object they hold.
#define QUELLMAR_TYPED_HANDLE(Name)                                                           \
    class QMX_DATAACCESS_API Name : public QMXHandle {                                        \
    public:                                                                                   \
        Name() = default;                                                                     \
        Name(int value) : QMXHandle(value) {}                                                 \
        Name(const Name& other) = default;                                                    \
        ~Name() = default;                                                                    \
        Name& operator=(const Name& other) {                                                  \
            QMXHandle::operator=(other);                                                      \
            return *this;                                                                     \
        }                                                                                     \
        Name& operator=(int value) {                                                          \
            QMXHandle::operator=(value);                                                      \
            return *this;                                                                     \
        }                                                                                     \
        bool operator==(const Name& other) const { return getHandle() == other.getHandle(); } \
        bool operator!=(const Name& other) const { return getHandle() != other.getHandle(); } \
        using QMXHandle::operator==;                                                          \
        using QMXHandle::operator!=;                                                          \
    };

QUELLMAR_TYPED_HANDLE(GroupHandle)
QUELLMAR_TYPED_HANDLE(DatasetHandle)
QUELLMAR_TYPED_HANDLE(DatatypeHandle)

#undef QUELLMAR_TYPED_HANDLE

/// A buffer the file library allocated and must get back exactly once.
///
/// Ownership: copies share one cell that holds the pointer (and, for lists, the count). The
/// buffer goes back to the library when release() is called on any copy (every copy then sees
/// it empty) or when the last copy is destroyed. So no buffer is ever given back twice, and no
/// copy is left pointing at freed memory.
template <class T>
class QMX_DATAACCESS_API QMXpointer {
public:
    QMXpointer() : cell(std::make_shared<Cell>()) {}
    ///@{
    /// Special members: a defaulted one copies, moves or destroys member by member; a deleted
    /// one does not exist.
    QMXpointer(const QMXpointer&) = default;
    ///@}
    /// Shares `other`'s cell; the buffer held so far goes back to the library when this was
    /// its last holder.
    QMXpointer& operator=(const QMXpointer& other) {
        if (cell != other.cell) {
            if (lastOwner())
                release();
            cell = other.cell;
        }
        return *this;
    }
    ///@{
    /// Special members: a defaulted one copies, moves or destroys member by member; a deleted
    /// one does not exist.
    virtual ~QMXpointer() = default;
    ///@}

    /// The buffer; null when none was received or it was released.
    T* cptr() { return cell->pointer; }
    /// The buffer; null when none was received or it was released.
    const T* cptr() const { return cell->pointer; }
    /// The out-parameter that receives a buffer from a library call.
    T** caddr() { return &cell->pointer; }

    /// Gives the buffer back to the library.
    virtual void release() = 0;

protected:
    /// The shared state of all copies.
    struct Cell {
        T* pointer = nullptr;  ///< the buffer, null when none
        int count = 0;         ///< strings in a list; unused for single strings
    };
    /// Whether this copy is the only holder of the cell.
    bool lastOwner() const { return cell.use_count() == 1; }

    /// The cell shared by all copies.
    std::shared_ptr<Cell> cell;
};

/// A NUL-terminated string owned by the file library.
class QMX_DATAACCESS_API QMXstring : public QMXpointer<char> {
public:
    ///@{
    /// Special members: a defaulted one copies, moves or destroys member by member; a deleted
    /// one does not exist.
    QMXstring() = default;
    QMXstring(const QMXstring&) = default;
    QMXstring& operator=(const QMXstring&) = default;
    ///@}
    ~QMXstring() override;

    void release() override;
};

/// An array of library strings and its length.
class QMX_DATAACCESS_API QMXstringList : public QMXpointer<char*> {
public:
    ///@{
    /// Special members: a defaulted one copies, moves or destroys member by member; a deleted
    /// one does not exist.
    QMXstringList() = default;
    QMXstringList(const QMXstringList&) = default;
    QMXstringList& operator=(const QMXstringList&) = default;
    ///@}
    ~QMXstringList() override;

    /// The out-parameter that receives the number of strings.
    int* els() { return &cell->count; }
    /// Number of strings received.
    int count() const { return cell->count; }

    void release() override;
};

}  // namespace Quellmar

#endif
