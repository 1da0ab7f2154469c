#include "tools/zrfgrab/grab_progress.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <iterator>
#include <cstring>

namespace zrfgrab {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kTerminalEvery = std::chrono::milliseconds(200);
constexpr auto kLogEvery = std::chrono::seconds(5);
constexpr int kBrokenPipe = 13;  // SIGPIPE's number, which the platform without it lacks

volatile std::sig_atomic_t g_signal = 0;
std::atomic<int> g_outputError{0};

const int kEndingSignals[] = {
    SIGINT, SIGTERM,
#ifdef SIGHUP
    SIGHUP,
#endif
};

extern "C" void OnEndingSignal(int signal) {
    g_signal = signal;
#ifdef _WIN32
    std::signal(signal, &OnEndingSignal);  // the runtime resets the handler before calling it
#endif
}

}  // namespace

bool Say(std::FILE* stream, const std::string& text) {
    errno = 0;
    const bool ok = std::fputs(text.c_str(), stream) >= 0 && std::fflush(stream) == 0;
    if (!ok) {
        int expected = 0;
        g_outputError.compare_exchange_strong(expected, errno != 0 ? errno : EIO);
    }
    return ok;
}

int OutputError() { return g_outputError.load(); }

GrabProgress::GrabProgress(bool quiet)
    : quiet_(quiet), terminal_(::isatty(STDERR_FILENO) == 1), last_(Clock::now()) {}

void GrabProgress::Show(const std::string& text, bool final) {
    if (quiet_) return;
    const auto now = Clock::now();
    if (terminal_) {
        if (final || now - last_ >= kTerminalEvery) {
            Say(stderr, "\r" + text + "   " + (final ? "\n" : ""));
            last_ = now;
            shown_ = !final;
        }
    } else if (!final && now - last_ >= kLogEvery) {
        Say(stderr, text + "\n");
        last_ = now;
    }
}

void GrabProgress::Note(const std::string& line) {
    if (quiet_) return;
    Say(stderr, (shown_ ? "\n" : "") + line + "\n");
    shown_ = false;
    last_ = Clock::now();
}

// A signal ignored when the request began (nohup, a background job of a shell without job
// control) stays ignored: whoever started the program chose that. The rest get back what they had.
namespace {
#ifdef _WIN32
using Disposition = void (*)(int);
#else
using Disposition = struct sigaction;
#endif
Disposition g_previous[std::size(kEndingSignals)];
}  // namespace

InterruptRequest::InterruptRequest() {
    g_signal = 0;
    for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
        const int s = kEndingSignals[i];
#ifdef _WIN32
        g_previous[i] = std::signal(s, &OnEndingSignal);
        if (g_previous[i] == SIG_IGN) std::signal(s, SIG_IGN);
#else
        struct sigaction action {};
        action.sa_handler = &OnEndingSignal;
        sigemptyset(&action.sa_mask);
        ::sigaction(s, nullptr, &g_previous[i]);
        if (g_previous[i].sa_handler != SIG_IGN) ::sigaction(s, &action, nullptr);
#endif
    }
}

InterruptRequest::~InterruptRequest() {
    for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
#ifdef _WIN32
        std::signal(kEndingSignals[i], g_previous[i]);
#else
        ::sigaction(kEndingSignals[i], &g_previous[i], nullptr);
#endif
    }
}

bool InterruptRequest::Requested() { return g_signal != 0 || OutputError() != 0; }

int InterruptRequest::Signal() { return g_signal; }

std::string InterruptRequest::Reason() {
    switch (g_signal) {
        case 0: return "a closed output";
        case SIGINT: return "Ctrl-C";
        case SIGTERM: return "SIGTERM";
#ifdef SIGHUP
        case SIGHUP: return "SIGHUP";
#endif
        default: return "signal " + std::to_string(g_signal);
    }
}

int InterruptRequest::ExitStatus() {
    if (g_signal != 0) return 128 + g_signal;
    return OutputError() == EPIPE ? 128 + kBrokenPipe : 1;
}

int StatusAfterOutput(const std::string& prefix, int status) {
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        int expected = 0;
        g_outputError.compare_exchange_strong(expected, errno != 0 ? errno : EIO);
    }
    const int error = OutputError();
    if (status != 0 || error == 0) return status;
    std::fprintf(stderr, "%s: cannot write the output: %s\n", prefix.c_str(), std::strerror(error));
    return error == EPIPE ? 128 + kBrokenPipe : 1;
}

void IgnoreBrokenPipes() {
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);
#endif
}

}  // namespace zrfgrab
