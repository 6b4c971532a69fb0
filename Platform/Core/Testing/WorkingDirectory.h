// Runs a test in another working directory, restoring the old one afterwards.
#ifndef QUELLMAR_TESTING_WORKINGDIRECTORY_H
#define QUELLMAR_TESTING_WORKINGDIRECTORY_H

#include <climits>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace Quellmar::testing {

class WorkingDirectory {
public:
    explicit WorkingDirectory(const std::string& path) {
        char buffer[PATH_MAX];
        if (::getcwd(buffer, sizeof buffer))
            m_old = buffer;
        m_ok = ::chdir(path.c_str()) == 0;
    }
    // A test left in the wrong directory would break every later one: better to stop.
    ~WorkingDirectory() {
        if (!m_old.empty() && ::chdir(m_old.c_str()) != 0)
            std::abort();
    }
    WorkingDirectory(const WorkingDirectory&) = delete;
    WorkingDirectory& operator=(const WorkingDirectory&) = delete;
    bool ok() const { return m_ok; }

private:
    std::string m_old;
    bool m_ok = false;
};

}  // namespace Quellmar::testing

#endif
