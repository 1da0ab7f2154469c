#include "host/logging/logger.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

namespace Vorn::Zephra::Diagnostics::Log {
namespace {

std::mutex& SinkMutex() {
    static std::mutex m;
    return m;
}

Logger::Sink& CurrentSink() {
    static Logger::Sink sink = &Logger::WriteToStderr;
    return sink;
}

void Emit(const LogRecord& record) {
    Logger::Sink sink;
    {
        std::lock_guard lock(SinkMutex());
        sink = CurrentSink();
    }
    if (sink) sink(record);
}

}  // namespace

void Logger::LogUserError(const std::string& key, const std::string& text,
                          const std::vector<std::string>& arguments) {
    Emit({LogKind::UserError, key, text, arguments, {}, {}});
}

void Logger::Trace(const std::string& text) { Emit({LogKind::Trace, {}, text, {}, {}, {}}); }

void Logger::TraceError(const std::string& text) {
    Emit({LogKind::TraceError, {}, text, {}, {}, {}});
}

void Logger::TraceError(const std::string& text, const System::Exception& error) {
    Emit({LogKind::TraceError, {}, text, {}, error.TypeName(), error.Message()});
}

Logger::Sink Logger::SetSink(Sink sink) {
    std::lock_guard lock(SinkMutex());
    Sink previous = std::move(CurrentSink());
    CurrentSink() = std::move(sink);
    return previous;
}

void Logger::WriteToStderr(const LogRecord& record) {
    switch (record.kind) {
        case LogKind::UserError:
            std::fprintf(stderr, "error %s: %s\n", record.key.c_str(), record.text.c_str());
            break;
        case LogKind::TraceError:
            if (record.exceptionType.empty())
                std::fprintf(stderr, "trace error: %s\n", record.text.c_str());
            else
                std::fprintf(stderr, "trace error: %s (%s: %s)\n", record.text.c_str(),
                             record.exceptionType.c_str(), record.exceptionMessage.c_str());
            break;
        case LogKind::Trace: {
            const char* level = std::getenv("ZRF_LOG");
            if (level && std::strcmp(level, "trace") == 0)
                std::fprintf(stderr, "trace: %s\n", record.text.c_str());
            break;
        }
    }
}

struct LogCapture::State {
    mutable std::mutex mutex;
    std::vector<LogRecord> records;
};

LogCapture::LogCapture() : state_(std::make_shared<State>()) {
    auto state = state_;
    previous_ = Logger::SetSink([state](const LogRecord& record) {
        std::lock_guard lock(state->mutex);
        state->records.push_back(record);
    });
}

LogCapture::~LogCapture() { Logger::SetSink(std::move(previous_)); }

std::vector<LogRecord> LogCapture::Records() const {
    std::lock_guard lock(state_->mutex);
    return state_->records;
}

std::vector<LogRecord> LogCapture::UserErrors() const {
    std::vector<LogRecord> out;
    for (auto& r : Records())
        if (r.kind == LogKind::UserError) out.push_back(r);
    return out;
}

bool LogCapture::HasUserError(const std::string& key) const {
    for (auto& r : UserErrors())
        if (r.key == key) return true;
    return false;
}

}  // namespace Vorn::Zephra::Diagnostics::Log
