// A small streaming JSON writer for --json output. Strings from files may hold any bytes:
// valid UTF-8 passes through, every other byte is written as \u00XX.
#ifndef QMX_TOOL_JSON_H
#define QMX_TOOL_JSON_H

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace Quellmar::qmx {

std::string jsonQuote(const std::string& text);

class JsonWriter {
public:
    explicit JsonWriter(std::ostream& out) : m_out(out) {}

    JsonWriter& beginObject();
    JsonWriter& endObject();
    JsonWriter& beginArray();
    JsonWriter& endArray();
    JsonWriter& key(const std::string& name);
    JsonWriter& value(const std::string& text);
    JsonWriter& value(const char* text) { return value(std::string(text)); }
    JsonWriter& value(long long number);
    JsonWriter& value(unsigned long long number);
    JsonWriter& value(int number) { return value(static_cast<long long>(number)); }
    JsonWriter& value(bool flag);
    JsonWriter& null();
    // A number already formatted as JSON (e.g. a double written for round trips).
    JsonWriter& raw(const std::string& json);

private:
    void separate();

    std::ostream& m_out;
    std::vector<bool> m_first;  // per open container: nothing written yet
    bool m_afterKey = false;
};

}  // namespace Quellmar::qmx

#endif
