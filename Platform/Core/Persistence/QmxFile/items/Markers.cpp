#include "Markers.h"

#include "AttributeIO.h"
#include "Format.h"

namespace Quellmar::qmxfile {

herr_t writeMarker(hid_t file, int version) {
    if (setStringAttribute(file, kMarkerAttribute, kMarkerText) < 0)
        return -1;
    return setScalarAttribute(file, kVersionAttribute, H5T_STD_I32LE, H5T_NATIVE_INT, &version);
}

herr_t writeChecksumsMarker(hid_t file) {
    const signed char value = kTypedChecksumsMarker;
    return setScalarAttribute(file, kChecksumsMarkerAttribute, H5T_STD_I8LE, H5T_NATIVE_SCHAR,
                              &value);
}

int hasMarker(hid_t file) {
    const htri_t exists = attributeExists(file, kMarkerAttribute);
    if (exists <= 0)
        return exists < 0 ? -1 : 0;
    const auto text = readStringAttribute(file, kMarkerAttribute);
    return text && *text == kMarkerText ? 1 : 0;
}

}  // namespace Quellmar::qmxfile
