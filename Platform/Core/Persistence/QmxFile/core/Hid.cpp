#include "Hid.h"

#include "JournalDriver.h"

namespace Quellmar::qmxfile {

herr_t closeId(hid_t id) {
    if (id < 0)
        return 0;
    switch (H5Iget_type(id)) {
        case H5I_FILE: {
            const KeepFailures keep;  // the driver must not fail this close (JournalDriver.h)
            return H5Fclose(id);
        }
        case H5I_GROUP:
            return H5Gclose(id);
        case H5I_DATASET:
            return H5Dclose(id);
        case H5I_DATATYPE:
            return H5Tclose(id);
        case H5I_DATASPACE:
            return H5Sclose(id);
        case H5I_ATTR:
            return H5Aclose(id);
        case H5I_GENPROP_LST:
            return H5Pclose(id);
        default:
            return H5Idec_ref(id) < 0 ? -1 : 0;
    }
}

herr_t Hid::close() {
    if (m_id < 0)
        return 0;
    return closeId(std::exchange(m_id, H5I_INVALID_HID));
}

long long elementCount(hid_t dataset) {
    Hid space(H5Dget_space(dataset));
    if (!space)
        return -1;
    const hssize_t points = H5Sget_simple_extent_npoints(space.get());
    return points < 0 ? -1 : static_cast<long long>(points);
}

}  // namespace Quellmar::qmxfile
