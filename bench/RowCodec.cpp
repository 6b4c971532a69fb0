#include "RowCodec.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace Quellmar::bench {

namespace {

// Strings go as their length and bytes, so tabs, newlines and anything else survive.
void putText(std::ostringstream& out, const std::string& s) {
    out << s.size() << ':' << s << '\n';
}

void putNumber(std::ostringstream& out, const std::optional<double>& v) {
    if (!v) {
        out << "-\n";
        return;
    }
    char buf[64];
    std::snprintf(buf, sizeof buf, "%a", *v);
    out << buf << '\n';
}

void putMap(std::ostringstream& out, const std::map<std::string, std::optional<double>>& m) {
    out << m.size() << '\n';
    for (const auto& [key, value] : m) {
        putText(out, key);
        putNumber(out, value);
    }
}

class Reader {
public:
    explicit Reader(const std::string& text) : m_text(text) {}

    std::string line() {
        const size_t end = m_text.find('\n', m_pos);
        if (end == std::string::npos)
            fail("a line is cut off");
        std::string s = m_text.substr(m_pos, end - m_pos);
        m_pos = end + 1;
        return s;
    }
    size_t count() {
        const std::string s = line();
        char* end = nullptr;
        const unsigned long long n = std::strtoull(s.c_str(), &end, 10);
        if (s.empty() || *end != '\0')
            fail("'" + s + "' is not a count");
        return static_cast<size_t>(n);
    }
    std::string text() {
        const size_t colon = m_text.find(':', m_pos);
        if (colon == std::string::npos)
            fail("a string has no length");
        const std::string digits = m_text.substr(m_pos, colon - m_pos);
        char* end = nullptr;
        const unsigned long long n = std::strtoull(digits.c_str(), &end, 10);
        if (digits.empty() || *end != '\0' || n > m_text.size() - colon - 1 ||
            colon + 1 + n >= m_text.size() || m_text[colon + 1 + n] != '\n')
            fail("a string's length is wrong");
        std::string s = m_text.substr(colon + 1, n);
        m_pos = colon + 2 + n;
        return s;
    }
    std::optional<double> number() {
        const std::string s = line();
        if (s == "-")
            return std::nullopt;
        char* end = nullptr;
        const double v = std::strtod(s.c_str(), &end);
        if (s.empty() || *end != '\0')
            fail("'" + s + "' is not a number");
        return v;
    }
    std::map<std::string, std::optional<double>> map() {
        std::map<std::string, std::optional<double>> m;
        for (size_t n = count(); n > 0; --n) {
            std::string key = text();
            m[key] = number();
        }
        return m;
    }
    bool done() const { return m_pos == m_text.size(); }
    [[noreturn]] void fail(const std::string& why) const {
        throw BenchFailure("result rows from a workload's process are unreadable: " + why);
    }

private:
    const std::string& m_text;
    size_t m_pos = 0;
};

void putRows(std::ostringstream& out, const std::vector<ResultRow>& rows) {
    out << rows.size() << '\n';
    for (const ResultRow& r : rows) {
        putText(out, r.workload);
        putText(out, r.name);
        putText(out, r.unit);
        out << (r.isSize ? 1 : 0) << (r.isSpeedup ? 1 : 0) << '\n';
        putMap(out, r.values);
        putMap(out, r.seconds);
        putText(out, r.baseline);
        putNumber(out, r.target);
        putNumber(out, r.ratio);
        putText(out, r.failed);
    }
}

std::vector<ResultRow> readRows(Reader& in) {
    std::vector<ResultRow> rows(in.count());
    for (ResultRow& r : rows) {
        r.workload = in.text();
        r.name = in.text();
        r.unit = in.text();
        const std::string flags = in.line();
        if (flags.size() != 2 || (flags[0] != '0' && flags[0] != '1') ||
            (flags[1] != '0' && flags[1] != '1'))
            in.fail("'" + flags + "' are not a row's flags");
        r.isSize = flags[0] == '1';
        r.isSpeedup = flags[1] == '1';
        r.values = in.map();
        r.seconds = in.map();
        r.baseline = in.text();
        const std::optional<double> target = in.number();
        if (!target)
            in.fail("a row has no target");
        r.target = *target;
        r.ratio = in.number();
        r.failed = in.text();
    }
    return rows;
}

}  // namespace

std::string encodeRows(const std::vector<ResultRow>& rows) {
    std::ostringstream out;
    putRows(out, rows);
    return out.str();
}

std::vector<ResultRow> decodeRows(const std::string& text) {
    Reader in(text);
    std::vector<ResultRow> rows = readRows(in);
    if (!in.done())
        in.fail("text follows the last row");
    return rows;
}

std::string encodeMeasured(const Measured& measured) {
    std::ostringstream out;
    out << (measured.ok ? 1 : 0) << '\n';
    putText(out, measured.title);
    putRows(out, measured.rows);
    return out.str();
}

Measured decodeMeasured(const std::string& text) {
    Reader in(text);
    Measured m;
    const std::string ok = in.line();
    if (ok != "0" && ok != "1")
        in.fail("'" + ok + "' is not a workload's outcome");
    m.ok = ok == "1";
    m.title = in.text();
    m.rows = readRows(in);
    if (!in.done())
        in.fail("text follows the last row");
    return m;
}

}  // namespace Quellmar::bench
