// Moves records between two compound layouts that differ only in where members sit: the
// packed layout items are stored in and the host's padded structure. HDF5 converts such
// records member by member through its general conversion path at about a tenth of memory
// speed; moving runs of bytes is what the conversion amounts to.
#ifndef QUELLMAR_QMXFILE_RECORDCOPY_H
#define QUELLMAR_QMXFILE_RECORDCOPY_H

#include "Hid.h"

#include <cstddef>
#include <optional>
#include <vector>

namespace Quellmar::qmxfile {

class RecordCopy {
public:
    // The copy from records of type `from` to records of type `to`, when every member of `to`
    // that `from` also has is of the same type in both; members `to` has alone are left as
    // they are, as HDF5 leaves them. Empty when a member needs a real conversion.
    static std::optional<RecordCopy> plan(hid_t from, hid_t to);

    // Copies `count` records.
    void run(const unsigned char* from, unsigned char* to, std::size_t count) const;

    // Whether every byte of a destination record is written (else the caller must supply it).
    bool coversDestination() const { return m_covers; }

private:
    struct Run {
        std::size_t from, to, size;
    };
    std::vector<Run> m_runs;
    std::size_t m_fromSize = 0, m_toSize = 0;
    bool m_covers = false;
};

}  // namespace Quellmar::qmxfile

#endif
