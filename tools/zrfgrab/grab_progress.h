#pragma once
// What the long commands show while they work, on stderr: a line rewritten in place on a
// terminal, otherwise a plain line every few seconds (a log stays readable); nothing when quiet.
// Every write is checked: output that cannot be written ends the work as an interruption does.
// And the signals that ask a run to end (Ctrl-C, SIGTERM, SIGHUP), which end it cleanly.
#include <chrono>
#include <cstdio>
#include <string>

namespace zrfgrab {

class GrabProgress {
  public:
    explicit GrabProgress(bool quiet);

    // The current state; shown when it is time, and always when final.
    void Show(const std::string& text, bool final);
    // A one-off line, such as a wait about to begin.
    void Note(const std::string& line);

  private:
    bool quiet_;
    bool terminal_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point last_{};
};

// Writes text to a stream and flushes it; a failure is remembered (OutputError) rather than
// lost. Returns whether it was written.
bool Say(std::FILE* stream, const std::string& text);
// The errno of the first write to stdout or stderr that failed (EPIPE: the reader went away),
// or 0.
int OutputError();

// While one lives, Ctrl-C, SIGTERM and SIGHUP ask the work to end (Requested()) instead of
// ending the program; a second one asks again. One that was ignored when it began stays
// ignored (nohup, a shell's background job). A closed pipe never ends the program by a
// signal: its write fails, and OutputError says so.
class InterruptRequest {
  public:
    InterruptRequest();
    ~InterruptRequest();
    InterruptRequest(const InterruptRequest&) = delete;
    InterruptRequest& operator=(const InterruptRequest&) = delete;

    // Whether the work should end: a signal came, or output can no longer be written.
    static bool Requested();
    // The signal that asked (0: none).
    static int Signal();
    // "Ctrl-C", "SIGTERM", "SIGHUP", or "a closed output" when a write failed.
    static std::string Reason();
    // The exit status for work ended this way: 128 + the signal, as a shell reports it.
    static int ExitStatus();
};

// Called once at program start: SIGPIPE must never end the program (its writes fail instead).
void IgnoreBrokenPipes();

// The exit status of a command that returned `status`, once what it printed is flushed: a
// command that did its work but whose output was lost (a full disk, a reader gone) fails, with
// 141 for a closed pipe as for a run it ended. `prefix` names the command in the message.
int StatusAfterOutput(const std::string& prefix, int status);

}  // namespace zrfgrab
