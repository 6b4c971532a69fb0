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

/** The lists of QMXLlistGroup. */
struct QMXLGroupListing {
    int count = 0;          /**< members listed */
    char** names = nullptr; /**< their names */
    int* kinds = nullptr;   /**< their kinds (QMXL_KIND_...) */

    QMXLGroupListing() = default;
    QMXLGroupListing(const QMXLGroupListing&) = delete;
    QMXLGroupListing& operator=(const QMXLGroupListing&) = delete;
    ~QMXLGroupListing() {
        if (names) {
            QMXLreleaseStrings(count, names);
            QMXLreleaseArray(&names);
        }
        if (kinds)
            QMXLreleaseArray(&kinds);
    }
};

/** The lists of QMXLgetCompoundMembers. */
struct QMXLCompoundMembers {
    int count = 0;               /**< members of the record type */
    char** names = nullptr;      /**< their names */
    int* types = nullptr;        /**< their element type codes */
    long long* counts = nullptr; /**< their element counts */

    QMXLCompoundMembers() = default;
    QMXLCompoundMembers(const QMXLCompoundMembers&) = delete;
    QMXLCompoundMembers& operator=(const QMXLCompoundMembers&) = delete;
    ~QMXLCompoundMembers() {
        if (names) {
            QMXLreleaseStrings(count, names);
            QMXLreleaseArray(&names);
        }
        if (types)
            QMXLreleaseArray(&types);
        if (counts)
            QMXLreleaseArray(&counts);
    }
};

#endif /* __cplusplus */

#endif
