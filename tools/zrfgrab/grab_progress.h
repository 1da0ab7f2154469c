#pragma once
// What the grab shows while it streams, on stderr: a line rewritten in place on a terminal,
// otherwise a plain line every few seconds (a log stays readable); nothing when quiet. And
// Ctrl-C, which asks the grab to end cleanly.
#include <chrono>
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

// While one lives, Ctrl-C sets Requested() instead of ending the program; a second Ctrl-C
// ends it as usual.
class InterruptRequest {
  public:
    InterruptRequest();
    ~InterruptRequest();
    InterruptRequest(const InterruptRequest&) = delete;
    InterruptRequest& operator=(const InterruptRequest&) = delete;

    static bool Requested();
};

}  // namespace zrfgrab
