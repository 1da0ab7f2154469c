#pragma once
// Outcome of a picture operation: success, or one line saying what failed and where. The
// picture functions report through this and throw nothing, so a frame loop can go on.
#include <string>
#include <utility>

namespace Vorn::Picture {

class [[nodiscard]] PictureStatus {
  public:
    static PictureStatus Ok() { return PictureStatus(); }
    static PictureStatus Error(std::string message) { return PictureStatus(std::move(message)); }

    bool IsOk() const { return message_.empty(); }
    explicit operator bool() const { return IsOk(); }
    const std::string& Message() const { return message_; }

  private:
    PictureStatus() = default;
    explicit PictureStatus(std::string message)
        : message_(message.empty() ? std::string("unknown picture error") : std::move(message)) {}

    std::string message_;  // empty means success
};

}  // namespace Vorn::Picture
