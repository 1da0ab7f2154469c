#pragma once
// An image sink a test holds or fails: appends wait at its gate while it is held, the nth
// append fails, and what went through stays in a log that outlives the sink.
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/recorder/image_sink.h"
#include "host/recorder/recording_file.h"

struct SinkLog {
    std::mutex mutex;
    std::condition_variable changed;
    bool held = false;
    bool open = true;          // false once the sink is gone (its file closed)
    int waiting = 0;           // appends at the gate
    std::uint64_t appends = 0;
    std::uint64_t failAt = 0;  // this append fails (counted from 1); 0: none
    int badChecksums = 0;      // records whose checksum does not match their image
    std::vector<std::uint64_t> numbers;
    std::vector<std::vector<std::uint8_t>> images;

    void Hold() {
        std::lock_guard lock(mutex);
        held = true;
    }
    void Release() {
        {
            std::lock_guard lock(mutex);
            held = false;
        }
        changed.notify_all();
    }
    // Until an append waits at the gate.
    void AwaitWaiter() {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return waiting > 0; });
    }
    std::vector<std::uint64_t> Numbers() {
        std::lock_guard lock(mutex);
        return numbers;
    }
    bool Open() {
        std::lock_guard lock(mutex);
        return open;
    }
};

class GatedSink final : public Vorn::Zephra::Net::Devices::Recorder::ImageSink {
  public:
    using ImageSink = Vorn::Zephra::Net::Devices::Recorder::ImageSink;
    explicit GatedSink(std::shared_ptr<SinkLog> log, std::unique_ptr<ImageSink> inner = nullptr)
        : log_(std::move(log)), inner_(std::move(inner)) {}
    ~GatedSink() override {
        inner_.reset();
        {
            std::lock_guard lock(log_->mutex);
            log_->open = false;
        }
        log_->changed.notify_all();
    }

    bool Append(const Vorn::Zephra::Net::Devices::Recorder::FrameRecordHeader& record,
                const std::uint8_t* image) override {
        {
            std::unique_lock lock(log_->mutex);
            ++log_->waiting;
            log_->changed.notify_all();
            log_->changed.wait(lock, [this] { return !log_->held; });
            --log_->waiting;
            if (++log_->appends == log_->failAt) {
                error_ = "the disk is full";
                return false;
            }
            log_->numbers.push_back(record.frameNumber);
            log_->images.emplace_back(image, image + record.length);
            if (Vorn::Zephra::Net::Devices::Recorder::FrameRecordChecksum(record, image, record.length) != record.crc)
                ++log_->badChecksums;
        }
        return !inner_ || inner_->Append(record, image);
    }
    const std::string& Error() const override { return inner_ && error_.empty() ? inner_->Error() : error_; }

  private:
    std::shared_ptr<SinkLog> log_;
    std::unique_ptr<ImageSink> inner_;
    std::string error_;
};
