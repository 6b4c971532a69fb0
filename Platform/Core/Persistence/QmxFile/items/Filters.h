#ifndef QUELLMAR_QMXFILE_FILTERS_H
#define QUELLMAR_QMXFILE_FILTERS_H

#include "Hid.h"

#include <string>

namespace Quellmar::qmxfile {

// The compressors of datasets created with a level of 1 to 9. The values are those of
// QMXLCompressor. Deflate is HDF5's own; the others come from HDF5 filter plugins.
enum class Compressor : int { Deflate = 0, BloscLz4 = 1, BloscZstd = 2, Lz4 = 3 };
// Not a compressor: "follow the wider choice" (the process's).
inline constexpr int kFollowChoice = -1;

// Filter identifiers registered with The HDF Group for the plugins.
inline constexpr H5Z_filter_t kBloscFilter = 32001;
inline constexpr H5Z_filter_t kLz4Filter = 32004;

bool knownCompressor(int code);
const char* compressorName(Compressor compressor);

// The compressor of the calling thread's creations: its own choice when it made one, else
// the process's (deflate unless the host chose another).
Compressor chosenCompressor();
Compressor processCompressor();
void setProcessCompressor(Compressor compressor);
// kFollowChoice when the thread made no choice of its own.
int threadCompressor();
void setThreadCompressor(int code);

// Whether the filters `compressor` needs can be used in this process. When not, HDF5's
// error stack holds only a reason naming the missing plugin.
bool compressorUsable(Compressor compressor);

// Adds the filters of `compressor` at `level` (1..9) to a chunked creation property list.
// Negative, with the reason naming the plugin, when the plugin is not installed.
herr_t addCompressor(hid_t dcpl, Compressor compressor, int level, size_t elementSize);

// The compressor and level of a chunked dataset's pipeline; false when it carries none of
// the compressors above.
bool pipelineCompressor(hid_t dcpl, Compressor& compressor, int& level);

// After a failed read or write of `dataset`: when one of its filters cannot be used in this
// process, replaces HDF5's error stack by a reason naming the plugin and answers true.
bool explainMissingFilter(hid_t dataset);

// "needs the HDF5 filter plugin Blosc (id 32001), which is not installed"; filters other than
// this library's are named by `storedName`, the name the file keeps for them.
std::string missingPluginText(H5Z_filter_t filter, const std::string& storedName = {});

}  // namespace Quellmar::qmxfile

#endif
