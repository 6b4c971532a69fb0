#include "ReleaseReport.h"

namespace Quellmar {

namespace {
thread_local ReleaseReport* t_current = nullptr;
}  // namespace

ReleaseReport::ReleaseReport() : m_previous(t_current) {
    t_current = this;
}

ReleaseReport::~ReleaseReport() {
    t_current = m_previous;
}

ReleaseReport* ReleaseReport::current() {
    return t_current;
}

void ReleaseReport::failed(const std::string& source, const std::string& cause) {
    m_failures.push_back("Could not commit " + source + (cause.empty() ? "" : ": " + cause));
}

void ReleaseReport::deferred(const std::string&) {
    m_deferred = true;
}

std::string ReleaseReport::message() const {
    std::string text;
    for (const std::string& failure : m_failures) {
        if (!text.empty())
            text += "; ";
        text += failure;
    }
    return text;
}

}  // namespace Quellmar
