#include "Progress.h"

#include <unistd.h>

#include <cstdio>

namespace Quellmar::qmx {
namespace {

constexpr int kBarWidth = 30;
constexpr std::size_t kLineWidth = 78;

void drawLine(const std::string& text) {
    std::string line = text.size() > kLineWidth ? text.substr(0, kLineWidth) : text;
    std::fprintf(stderr, "\r%s\x1b[K", line.c_str());
    std::fflush(stderr);
}

}  // namespace

bool stderrIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

ProgressBar::ProgressBar(std::string label, std::size_t total)
    : m_label(std::move(label)), m_total(total), m_enabled(stderrIsTerminal()) {}

ProgressBar::~ProgressBar() {
    clear();
}

void ProgressBar::update(std::size_t done, const std::string& what) {
    if (!m_enabled)
        return;
    // Redrawing costs more than the work for small objects: at most ten times a second.
    const auto now = std::chrono::steady_clock::now();
    if (m_drawn && now - m_last < std::chrono::milliseconds(100) && done < m_total)
        return;
    m_last = now;
    const std::size_t filled = m_total ? done * kBarWidth / m_total : kBarWidth;
    std::string bar(filled, '#');
    bar.resize(kBarWidth, '-');
    drawLine(m_label + " [" + bar + "] " + std::to_string(done) + "/" + std::to_string(m_total) +
             " " + what);
    m_drawn = true;
}

void ProgressBar::clear() {
    if (!m_drawn)
        return;
    std::fprintf(stderr, "\r\x1b[K");
    std::fflush(stderr);
    m_drawn = false;
}

Spinner::Spinner(std::string label) : m_label(std::move(label)) {
    if (!stderrIsTerminal())
        return;
    m_thread = std::thread([this] {
        const auto start = std::chrono::steady_clock::now();
        static const char frames[] = "|/-\\";
        for (int i = 0; !m_stop.load(); ++i) {
            const auto seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            char text[128];
            std::snprintf(text, sizeof text, "%s %c %.1f s", m_label.c_str(), frames[i % 4],
                          seconds);
            drawLine(text);
            for (int k = 0; k < 10 && !m_stop.load(); ++k)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        std::fprintf(stderr, "\r\x1b[K");
        std::fflush(stderr);
    });
}

Spinner::~Spinner() {
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
}

}  // namespace Quellmar::qmx
