#pragma once
// The framework's logger. Every record goes to the installed sinks; tests install a
// LogCapture to read what was logged.
#include <functional>
#include <string>
#include <vector>

#include "host/system/exceptions.h"

namespace Vorn::Zephra::Diagnostics::Log {

enum class LogKind { UserError, Trace, TraceError };

struct LogRecord {
    LogKind kind;
    std::string key;   // user errors only
    std::string text;
    std::vector<std::string> arguments;  // user errors only
    std::string exceptionType;           // TraceError with an exception
    std::string exceptionMessage;
};

class Logger {
  public:
    using Sink = std::function<void(const LogRecord&)>;

    static void LogUserError(const std::string& key, const std::string& text,
                             const std::vector<std::string>& arguments = {});
    static void Trace(const std::string& text);
    static void TraceError(const std::string& text);
    static void TraceError(const std::string& text, const System::Exception& error);

    // Replaces the sink; returns the one it replaced. A null sink drops every record.
    static Sink SetSink(Sink sink);
    // The default sink: user errors and trace errors as one line each on stderr; plain
    // traces only when the environment variable ZRF_LOG is "trace".
    static void WriteToStderr(const LogRecord& record);
};

// Captures every record while it lives (and forwards nothing); restores the old sink after.
class LogCapture {
  public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<LogRecord> Records() const;
    std::vector<LogRecord> UserErrors() const;
    bool HasUserError(const std::string& key) const;

  private:
    struct State;
    std::shared_ptr<State> state_;
    Logger::Sink previous_;
};

}  // namespace Vorn::Zephra::Diagnostics::Log
