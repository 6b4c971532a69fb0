#ifndef QUELLMAR_QMXLLISTS_H
#define QUELLMAR_QMXLLISTS_H

#include "QMXL.h"

/** @file
 * For C++ callers: owners of the lists the library hands out, each given back to the library
 * however the caller's scope ends. Pass the fields' addresses to the call that fills them.
 * C sources that include this header get nothing from it. */

#ifdef __cplusplus

/** The names of QMXLlistAttributes (and of any call that hands out strings alone). */
struct QMXLNameList {
    int count = 0;          /**< strings in names */
    char** names = nullptr; /**< the strings */

    QMXLNameList() = default;
    QMXLNameList(const QMXLNameList&) = delete;
    QMXLNameList& operator=(const QMXLNameList&) = delete;
    ~QMXLNameList() {
        if (names) {
            QMXLreleaseStrings(count, names);
            QMXLreleaseArray(&names);
        }
    }
};

/** The lists of QMXLlistGroup: names, and a kind for each. */
struct QMXLGroupListing : QMXLNameList {
    int* kinds = nullptr; /**< the members' kinds (QMXL_KIND_...) */

    QMXLGroupListing() = default;
    ~QMXLGroupListing() {
        if (kinds)
            QMXLreleaseArray(&kinds);
    }
};

/** The lists of QMXLgetCompoundMembers: member names, and a type and count for each. */
struct QMXLCompoundMembers : QMXLNameList {
    int* types = nullptr;        /**< the members' element type codes */
    long long* counts = nullptr; /**< the members' element counts */

    QMXLCompoundMembers() = default;
    ~QMXLCompoundMembers() {
        if (types)
            QMXLreleaseArray(&types);
        if (counts)
            QMXLreleaseArray(&counts);
    }
};

#endif /* __cplusplus */

#endif
