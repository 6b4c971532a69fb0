// A progress line on stderr, drawn only when stderr is a terminal so that pipes and logs stay
// clean.
#ifndef QMX_TOOL_PROGRESS_H
#define QMX_TOOL_PROGRESS_H

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>
#include <thread>

namespace Quellmar::qmx {

bool stderrIsTerminal();

// Counts steps towards a known total: "checking [#####-----] 512/1024 /results/grid".
class ProgressBar {
public:
    ProgressBar(std::string label, std::size_t total);
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    void update(std::size_t done, const std::string& what);
    // Clears the line so that a message can be printed.
    void clear();

private:
    std::string m_label;
    std::size_t m_total;
    bool m_enabled;
    bool m_drawn = false;
    std::chrono::steady_clock::time_point m_last{};
};

// For work without steps (compaction): a ticking timer while it runs.
class Spinner {
public:
    explicit Spinner(std::string label);
    ~Spinner();
    Spinner(const Spinner&) = delete;
    Spinner& operator=(const Spinner&) = delete;

private:
    std::string m_label;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

}  // namespace Quellmar::qmx

#endif
