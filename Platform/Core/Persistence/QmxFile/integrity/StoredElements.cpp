#include "StoredElements.h"

#include "HeaderCheck.h"

#include <string>

namespace Quellmar::qmxfile {

StoredElements::StoredElements(hid_t dataset, size_t elementSize, hsize_t count)
    : m_dataset(dataset), m_elementSize(elementSize) {
    const haddr_t offset = H5Dget_offset(dataset);
    if (offset == HADDR_UNDEF) {  // chunked, compact or external: HDF5 knows where
        H5Eclear2(H5E_DEFAULT);
        return;
    }
    m_offset = offset;
    m_file = readOnlyFileOf(dataset);
    if (m_file && !m_file->inside(m_offset, static_cast<std::uint64_t>(count) * elementSize))
        m_file.reset();
}

bool StoredElements::read(hid_t memorySpace, hid_t fileSpace, hsize_t start, hsize_t n,
                          hid_t type, unsigned char* to) const {
    if (!m_file)
        return H5Dread(m_dataset, type, memorySpace, fileSpace, H5P_DEFAULT, to) >= 0;
    return readDirect(start, n, to);
}

bool StoredElements::readDirect(hsize_t start, hsize_t n, unsigned char* to) const {
    std::string why;
    if (m_file && m_file->readInto(m_offset + start * m_elementSize,
                                   static_cast<size_t>(n) * m_elementSize, to, &why))
        return true;
    H5Epush2(H5E_DEFAULT, __FILE__, __func__, __LINE__, H5E_ERR_CLS, H5E_DATASET, H5E_READERROR,
             "%s", why.empty() ? "no file to read from" : why.c_str());
    return false;
}

}  // namespace Quellmar::qmxfile
