#ifndef QUELLMAR_QMXFILE_HID_H
#define QUELLMAR_QMXFILE_HID_H

#include <hdf5.h>

#include <utility>

namespace Quellmar::qmxfile {

// Owns one HDF5 identifier and closes it with the close call of its kind. Predefined
// identifiers (H5T_NATIVE_INT and friends) must never be handed to it.
class Hid {
public:
    Hid() = default;
    explicit Hid(hid_t id) : m_id(id) {}
    ~Hid() { close(); }
    Hid(const Hid&) = delete;
    Hid& operator=(const Hid&) = delete;
    Hid(Hid&& other) noexcept : m_id(std::exchange(other.m_id, H5I_INVALID_HID)) {}
    Hid& operator=(Hid&& other) noexcept {
        if (this != &other) {
            close();
            m_id = std::exchange(other.m_id, H5I_INVALID_HID);
        }
        return *this;
    }

    hid_t get() const { return m_id; }
    bool valid() const { return m_id >= 0; }
    explicit operator bool() const { return valid(); }
    hid_t release() { return std::exchange(m_id, H5I_INVALID_HID); }

    // Closes now; a negative result means HDF5 refused (a file that failed to flush).
    herr_t close();

private:
    hid_t m_id = H5I_INVALID_HID;
};

// HDF5 clears its error stack on every call, closing identifiers included. A helper that
// fails and then closes its locals declares a keeper before them and captures the stack
// at the failure; the keeper puts it back after the locals are gone.
class ErrorKeeper {
public:
    ErrorKeeper() = default;
    ~ErrorKeeper() {
        if (m_saved >= 0)
            H5Eset_current_stack(m_saved);
    }
    ErrorKeeper(const ErrorKeeper&) = delete;
    ErrorKeeper& operator=(const ErrorKeeper&) = delete;
    void capture() {
        if (m_saved < 0)
            m_saved = H5Eget_current_stack();
    }

private:
    hid_t m_saved = H5I_INVALID_HID;
};

// Closes any identifier by its kind; negative when HDF5 refuses.
herr_t closeId(hid_t id);

// Number of elements of a dataset, negative on failure.
long long elementCount(hid_t dataset);

}  // namespace Quellmar::qmxfile

#endif
