#include "Harness.h"

#include <algorithm>
#include <exception>
#include <iostream>

namespace Quellmar::bench {

const std::vector<std::string>& contenderOrder() {
    static const std::vector<std::string> order{kLibrary, kRawHdf5, kSqlite, kPlainFile};
    return order;
}

WorkloadRun runWorkload(const Workload& workload, int reps, int warmup) {
    WorkloadRun run;
    run.workload = &workload;
    const std::size_t n = workload.contenders.size();
    for (int rep = -warmup; rep < reps; ++rep) {
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t shift = static_cast<std::size_t>(rep + warmup);
            const Contender& c = workload.contenders[(i + shift) % n];
            if (run.failures.count(c.name))
                continue;
            Sample sample;
            try {
                c.run(sample);
            } catch (const std::exception& e) {
                run.failures[c.name] = e.what();
            } catch (...) {
                run.failures[c.name] = "an exception of unknown type";
            }
            if (run.failures.count(c.name)) {
                std::cerr << workload.id << " " << c.name << ": " << run.failures[c.name] << "\n";
                continue;
            }
            if (rep >= 0)
                run.samples[c.name].push_back(std::move(sample));
        }
    }
    return run;
}

double median(std::vector<double> values) {
    if (values.empty())
        throw std::invalid_argument("median of nothing");
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

std::optional<double> speedupOf(const std::vector<Sample>& samples, const std::string& phase,
                                double amount, const std::string& versus, double versusAmount) {
    std::vector<double> ratios;
    for (const Sample& s : samples) {
        const auto p = s.seconds.find(phase);
        const auto v = s.seconds.find(versus);
        if (p == s.seconds.end() || v == s.seconds.end() || p->second <= 0 || v->second <= 0 ||
            versusAmount <= 0)
            continue;
        ratios.push_back((amount / p->second) / (versusAmount / v->second));
    }
    if (ratios.empty())
        return std::nullopt;
    return median(ratios);
}

std::optional<double> pairedRatio(const std::vector<Sample>& contender,
                                  const std::vector<Sample>& baseline, const std::string& phase) {
    std::vector<double> ratios;
    const std::size_t n = std::min(contender.size(), baseline.size());
    for (std::size_t i = 0; i < n; ++i) {
        const auto c = contender[i].seconds.find(phase);
        const auto b = baseline[i].seconds.find(phase);
        if (c == contender[i].seconds.end() || b == baseline[i].seconds.end())
            continue;
        if (c->second <= 0)
            continue;
        ratios.push_back(b->second / c->second);
    }
    if (ratios.empty())
        return std::nullopt;
    return median(std::move(ratios));
}

namespace {

std::optional<double> medianOf(const std::vector<Sample>& samples, const std::string& key,
                               std::map<std::string, double> Sample::*field) {
    std::vector<double> values;
    for (const Sample& s : samples) {
        const auto it = (s.*field).find(key);
        if (it != (s.*field).end())
            values.push_back(it->second);
    }
    if (values.empty())
        return std::nullopt;
    return median(std::move(values));
}

}  // namespace

std::optional<double> medianSeconds(const std::vector<Sample>& samples, const std::string& phase) {
    return medianOf(samples, phase, &Sample::seconds);
}

std::optional<double> medianSize(const std::vector<Sample>& samples, const std::string& size) {
    return medianOf(samples, size, &Sample::sizes);
}

}  // namespace Quellmar::bench
