#ifndef QUELLMAR_FILENAME_H
#define QUELLMAR_FILENAME_H

#include "FileHandlingExport.h"

#include <string>

namespace Quellmar {

/// A file's path as the host named it. No normalisation: the text is what goes to the system.
class QMX_FILEHANDLING_API FileName {
public:
    ///@{
    /// Special members: a defaulted one copies, moves or destroys member by member; a deleted
    /// one does not exist.
    FileName() = default;
    ///@}
    /// The path as given.
    explicit FileName(std::string path) : m_path(std::move(path)) {}

    /// The path as given.
    const std::string& toString() const { return m_path; }
    /// Whether the path is empty.
    bool empty() const { return m_path.empty(); }
    /// The part after the last '/', or the whole path.
    std::string baseName() const;
    /// The last extension without its dot ("qmz" for "a/b.qmz"), or empty.
    std::string extension() const;

    /// Same text; two spellings of one file differ.
    bool operator==(const FileName& other) const { return m_path == other.m_path; }

private:
    std::string m_path;
};

}  // namespace Quellmar

#endif
