// --json output: documents built with nlohmann::json, keys in the order they are set, written
// on one line. Text from files may hold any bytes; what is not UTF-8 is written as U+FFFD, so
// the output always parses.
#ifndef QMX_TOOL_JSON_H
#define QMX_TOOL_JSON_H

#include <nlohmann/json.hpp>

#include <optional>
#include <ostream>

namespace Quellmar::qmx {

using Json = nlohmann::ordered_json;

inline void writeJson(std::ostream& out, const Json& document) {
    out << document.dump(-1, ' ', false, Json::error_handler_t::replace) << '\n';
}

// A value, or null when there is none.
template <typename T>
Json orNull(const std::optional<T>& value) {
    return value ? Json(*value) : Json(nullptr);
}

}  // namespace Quellmar::qmx

#endif
