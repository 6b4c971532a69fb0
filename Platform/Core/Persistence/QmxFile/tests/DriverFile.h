// Files opened through the container driver alone, below HDF5's file layer: the journal's tests
// write, read, flush and cut them there, and crash writers in children.
#ifndef QUELLMAR_QMXFILE_DRIVERFILE_H
#define QUELLMAR_QMXFILE_DRIVERFILE_H

#include "ChildProcess.h"
#include "JournalDriver.h"

#include <hdf5.h>

#include <functional>
#include <string>

namespace Quellmar::testing {

// File access properties that lead through the container driver.
class Fapl {
public:
    Fapl() : m_id(H5Pcreate(H5P_FILE_ACCESS)) { qmxfile::setContainerDriver(m_id); }
    ~Fapl() { H5Pclose(m_id); }
    hid_t id() const { return m_id; }

private:
    hid_t m_id;
};

constexpr haddr_t kMaxAddress = haddr_t(1) << 40;

// A driver-level file: H5FDopen through the container driver, closed (committed) on scope exit.
class DriverFile {
public:
    DriverFile(const std::string& name, unsigned flags) {
        Fapl fapl;
        H5E_BEGIN_TRY {
            m_file = H5FDopen(name.c_str(), flags, fapl.id(), kMaxAddress);
        }
        H5E_END_TRY;
        if (m_file)
            H5FDset_eoa(m_file, H5FD_MEM_DEFAULT, kMaxAddress / 2);
    }
    ~DriverFile() { close(); }
    DriverFile(const DriverFile&) = delete;
    DriverFile& operator=(const DriverFile&) = delete;
    bool ok() const { return m_file != nullptr; }
    bool write(haddr_t at, const std::string& bytes) {
        return H5FDwrite(m_file, H5FD_MEM_DRAW, H5P_DEFAULT, at, bytes.size(), bytes.data()) >= 0;
    }
    std::string read(haddr_t at, size_t size) {
        std::string s(size, '\0');
        if (H5FDread(m_file, H5FD_MEM_DRAW, H5P_DEFAULT, at, size, s.data()) < 0)
            return "<failed>";
        return s;
    }
    // Overwrites stay held back in memory through a flush; only the commit, a shrink or
    // their volume write them out.
    bool flush() { return H5FDflush(m_file, H5P_DEFAULT, 0) >= 0; }
    bool truncateTo(haddr_t size) {
        H5FDset_eoa(m_file, H5FD_MEM_DEFAULT, size);
        const bool ok = H5FDtruncate(m_file, H5P_DEFAULT, 0) >= 0;
        H5FDset_eoa(m_file, H5FD_MEM_DEFAULT, kMaxAddress / 2);
        return ok;
    }
    bool close() {
        if (!m_file)
            return true;
        herr_t rc;
        H5E_BEGIN_TRY {
            rc = H5FDclose(m_file);
        }
        H5E_END_TRY;
        m_file = nullptr;
        return rc >= 0;
    }

private:
    H5FD_t* m_file = nullptr;
};

// Runs work in a child that then dies without closing anything, like a killed writer.
// Returns the child's exit code (work's result: 0 when it did everything it meant to).
inline int crashAfter(const std::function<int()>& work) {
    return runInChild(work, ChildEnd::QuickExit);
}

}  // namespace Quellmar::testing

#endif
