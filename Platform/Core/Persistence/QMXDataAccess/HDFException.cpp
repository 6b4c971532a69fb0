#include "HDFException.h"

#include "QMXL.h"

#include <vector>

namespace Quellmar {

namespace {
// Called from the file library: nothing may be thrown back through it.
void collectEntry(const char* text, void* context) noexcept {
    try {
        static_cast<std::vector<std::string>*>(context)->emplace_back(text ? text : "");
    } catch (...) {
        // An entry that cannot be copied is left out of the message.
    }
}
}  // namespace

HDFException::HDFException() : DAOException("HDFException: ") {
    formatStack();
}

HDFException::HDFException(const std::string& message) : DAOException(message) {
    formatStack();
}

void HDFException::formatStack() {
    std::vector<std::string> entries;
    QMXLwalkErrorStack(&entries, &collectEntry);
    if (entries.empty())
        return;
    std::string text = what();
    for (const std::string& entry : entries)
        text += "\n\t" + entry;
    setMessage(text);
}

}  // namespace Quellmar
