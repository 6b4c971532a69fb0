#ifndef QUELLMAR_QMXFILE_JOURNALCONTROL_H
#define QUELLMAR_QMXFILE_JOURNALCONTROL_H

#include <string>

namespace Quellmar::qmxfile {

// Switches the journal off for files opened afterwards. Only for tools that measure what the
// journal prevents and costs; the library never does.
void setJournalEnabled(bool on);
bool journalEnabled();

// Why the last journaled open or commit on this thread failed; empty when none did. The file
// driver records it (an empty message clears it).
std::string lastJournalError();
void setLastJournalError(const std::string& message);

// Whether commits sync the journal before overwriting and the container before clearing the
// journal (power-loss safe) or skip the syncs (process-crash safe only): QMXLsetflush decides.
bool journalSync();
void setJournalSync(bool on);

}  // namespace Quellmar::qmxfile

#endif
