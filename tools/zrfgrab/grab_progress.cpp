#include "tools/zrfgrab/grab_progress.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>

namespace zrfgrab {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kTerminalEvery = std::chrono::milliseconds(200);
constexpr auto kLogEvery = std::chrono::seconds(5);

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void OnInterrupt(int) { g_interrupted = 1; }

}  // namespace

GrabProgress::GrabProgress(bool quiet)
    : quiet_(quiet), terminal_(::isatty(STDERR_FILENO) == 1), last_(Clock::now()) {}

void GrabProgress::Show(const std::string& text, bool final) {
    if (quiet_) return;
    const auto now = Clock::now();
    if (terminal_) {
        if (final || now - last_ >= kTerminalEvery) {
            std::fprintf(stderr, "\r%s   %s", text.c_str(), final ? "\n" : "");
            last_ = now;
            shown_ = !final;
        }
    } else if (!final && now - last_ >= kLogEvery) {
        std::fprintf(stderr, "%s\n", text.c_str());
        last_ = now;
    }
}

void GrabProgress::Note(const std::string& line) {
    if (quiet_) return;
    std::fprintf(stderr, "%s%s\n", shown_ ? "\n" : "", line.c_str());
    shown_ = false;
    last_ = Clock::now();
}

InterruptRequest::InterruptRequest() {
    g_interrupted = 0;
#ifdef _WIN32
    // The runtime's signal resets the handler before calling it, as SA_RESETHAND does.
    std::signal(SIGINT, &OnInterrupt);
#else
    struct sigaction action {};
    action.sa_handler = &OnInterrupt;
    action.sa_flags = SA_RESETHAND;  // the second Ctrl-C ends the program
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
#endif
}

InterruptRequest::~InterruptRequest() { std::signal(SIGINT, SIG_DFL); }

bool InterruptRequest::Requested() { return g_interrupted != 0; }

}  // namespace zrfgrab
