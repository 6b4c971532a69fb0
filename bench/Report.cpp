#include "Report.h"

#include <cmath>
#include <cstdio>
#include <ostream>

namespace Quellmar::bench {

std::optional<bool> ResultRow::met() const {
    if (baseline.empty() || target <= 0 || !ratio)
        return std::nullopt;
    return isSize ? *ratio <= target : *ratio >= target;
}

std::vector<ResultRow> summarize(const WorkloadRun& run) {
    std::vector<ResultRow> rows;
    const Workload& w = *run.workload;
    std::string failed;
    for (const auto& [name, why] : run.failures)
        failed += (failed.empty() ? "" : ", ") + name;
    static const std::vector<Sample> none;
    auto samplesOf = [&](const std::string& c) -> const std::vector<Sample>& {
        const auto it = run.samples.find(c);
        return it == run.samples.end() ? none : it->second;
    };
    for (const Phase& p : w.phases) {
        ResultRow row{w.id, p.name, p.unit, false, false, {}, {}, p.baseline, p.target, {}, failed};
        for (const std::string& c : contenderOrder()) {
            const auto secs = medianSeconds(samplesOf(c), p.name);
            row.seconds[c] = secs;
            if (secs && *secs > 0)
                row.values[c] = p.amount / *secs;
            else
                row.values[c] = std::nullopt;
        }
        if (!p.baseline.empty())
            row.ratio = pairedRatio(samplesOf(kLibrary), samplesOf(p.baseline), p.name);
        rows.push_back(std::move(row));
    }
    const auto amountOf = [&](const std::string& phase) {
        for (const Phase& p : w.phases)
            if (p.name == phase)
                return p.amount;
        return 0.0;
    };
    for (const Speedup& s : w.speedups) {
        ResultRow row{w.id, s.name, "×", false, true, {}, {}, s.versus, s.target, {}, failed};
        for (const std::string& c : contenderOrder()) {
            row.values[c] =
                speedupOf(samplesOf(c), s.phase, amountOf(s.phase), s.versus, amountOf(s.versus));
            row.seconds[c] = std::nullopt;
        }
        row.ratio = row.values[kLibrary];
        rows.push_back(std::move(row));
    }
    for (const SizeRow& s : w.sizes) {
        ResultRow row{w.id, s.name, s.unit, true, false, {}, {}, s.baseline, s.maxRatio, {}, failed};
        for (const std::string& c : contenderOrder())
            row.values[c] = medianSize(samplesOf(c), s.name);
        if (!s.baseline.empty() && row.values[kLibrary] && row.values[s.baseline] &&
            *row.values[s.baseline] > 0)
            row.ratio = *row.values[kLibrary] / *row.values[s.baseline];
        rows.push_back(std::move(row));
    }
    for (const SizeVersus& s : w.sizesVersus) {
        ResultRow row{w.id, s.name, "×", true, true, {}, {}, s.versus, s.maxRatio, {}, failed};
        for (const std::string& c : contenderOrder()) {
            const auto size = medianSize(samplesOf(c), s.size);
            const auto other = medianSize(samplesOf(c), s.versus);
            row.values[c] =
                size && other && *other > 0 ? std::optional<double>(*size / *other) : std::nullopt;
            row.seconds[c] = std::nullopt;
        }
        row.ratio = row.values[kLibrary];
        rows.push_back(std::move(row));
    }
    return rows;
}

void markSecondCoreBusy(std::vector<ResultRow>& rows) {
    std::erase_if(rows, [](const ResultRow& r) { return r.isSize || r.isSpeedup; });
    for (ResultRow& r : rows) {
        r.name += ", second core busy";
        r.target = 0;
    }
}

std::string formatNumber(double value) {
    char buf[64];
    // Below 999.5 three significant digits; from there on whole numbers ("%.3g" of 999.6 is
    // "1e+03").
    if (std::fabs(value) < 999.5) {
        std::snprintf(buf, sizeof buf, "%.3g", value);
        return buf;
    }
    std::snprintf(buf, sizeof buf, "%.0f", std::fabs(value));
    const std::string digits = buf;
    std::string out = value < 0 ? "-" : "";
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            out += ',';
        out += digits[i];
    }
    return out;
}

namespace {

std::string cell(const std::optional<double>& v) {
    return v ? formatNumber(*v) : "n/a";
}

std::string ratioCell(const std::optional<double>& v) {
    if (!v)
        return "n/a";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", *v);
    return buf;
}

std::string targetCell(const ResultRow& r) {
    if (r.baseline.empty())
        return "";
    if (r.target <= 0)
        return "(vs " + r.baseline + ")";
    char buf[160];
    std::snprintf(buf, sizeof buf, "%s %.2f× %s", r.isSize ? "≤" : "≥", r.target,
                  r.baseline.c_str());
    return buf;
}

std::string metCell(const ResultRow& r) {
    const auto m = r.met();
    if (!m)
        return r.baseline.empty() || r.target <= 0 ? "" : "n/a";
    return *m ? "yes" : "**no**";
}

}  // namespace

void writeMarkdown(std::ostream& out, const std::vector<ResultRow>& rows) {
    const auto& order = contenderOrder();
    for (int sizes = 0; sizes < 2; ++sizes) {
        out << (sizes ? "\n| Workload | Size | Unit" : "| Workload | Phase | Unit");
        for (const auto& c : order)
            out << " | " << c;
        out << " | library ÷ baseline | Target | Met |\n|---|---|---";
        for (std::size_t i = 0; i < order.size(); ++i)
            out << "|--:";
        out << "|--:|---|---|\n";
        for (const ResultRow& r : rows) {
            if (r.isSize != static_cast<bool>(sizes))
                continue;
            out << "| " << r.workload << " | " << r.name << " | " << r.unit;
            for (const auto& c : order)
                out << " | " << cell(r.values.at(c));
            out << " | " << ratioCell(r.ratio) << " | " << targetCell(r) << " | " << metCell(r)
                << " |\n";
        }
    }
    std::string failed;
    for (const ResultRow& r : rows)
        if (!r.failed.empty() && failed.find(r.workload + ":") == std::string::npos)
            failed += " " + r.workload + ": " + r.failed + ";";
    if (!failed.empty())
        out << "\nFailed contenders (see stderr):" << failed << "\n";
}

void writeCsv(std::ostream& out, const std::vector<ResultRow>& rows, int reps) {
    out << "workload,kind,name,unit,contender,value,median_seconds,reps,baseline,"
           "ratio_vs_baseline,target,met\n";
    for (const ResultRow& r : rows) {
        for (const auto& c : contenderOrder()) {
            const auto& v = r.values.at(c);
            if (!v)
                continue;
            out << r.workload << ','
                << (r.isSize ? "size" : r.isSpeedup ? "speedup" : "throughput") << ",\"" << r.name
                << "\",\"" << r.unit << "\",\"" << c << "\"," << *v << ',';
            if (!r.isSize && r.seconds.at(c))
                out << *r.seconds.at(c);
            out << ',' << reps << ",\"" << r.baseline << "\",";
            const bool lib = c == kLibrary;
            if (lib && r.ratio)
                out << *r.ratio;
            out << ',';
            if (lib && !r.baseline.empty())
                out << r.target;
            out << ',';
            if (lib && r.met())
                out << (*r.met() ? "yes" : "no");
            out << '\n';
        }
    }
}

void writePlotData(std::ostream& out, const std::vector<ResultRow>& rows) {
    out << "label";
    for (const auto& c : contenderOrder())
        out << "\t\"" << c << '"';
    out << '\n';
    for (const ResultRow& r : rows) {
        if (r.isSize || r.isSpeedup)
            continue;
        out << '"' << r.workload << ' ' << r.name << "\\n(" << r.unit << ")\"";
        for (const auto& c : contenderOrder()) {
            const auto& v = r.values.at(c);
            if (v)
                out << '\t' << *v;
            else
                out << "\t-";
        }
        out << '\n';
    }
}

}  // namespace Quellmar::bench
