#pragma once
// A sink a test holds or fails: writes wait at its gate while it is held, the nth write fails,
// and the records that went through stay in a log that outlives the sink. Alone it keeps the
// bytes written in memory (packed into blocks of `block` bytes when a test asks); in front of
// a recording file it passes everything on.
#include <condition_variable>
#include <cstdint>
#include <cstring>
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
    int waiting = 0;           // writes at the gate
    std::size_t block = 1;     // of a sink alone
    std::vector<std::uint8_t> prefix;  // what a sink alone holds before the first record
    std::uint64_t writes = 0;
    std::uint64_t failAt = 0;  // this write fails (counted from 1); 0: none
    std::uint64_t fullAt = 0;  // a sink alone takes no byte from here on (a full disk); 0: none
    int badChecksums = 0;      // records whose checksum does not match their image
    int misaligned = 0;        // writes not in whole blocks at a block's start
    std::int64_t finishedAt = -1;  // the size the file was given at its end
    std::int64_t keptEnd = -1;     // where a failed file was cut
    std::vector<std::uint8_t> bytes;  // the file as the writes left it
    std::size_t parsed = 0;           // where the next record starts in it
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
    // Until a write waits at the gate.
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
    using BlockPiece = Vorn::Zephra::Net::Devices::Recorder::BlockPiece;
    using SinkStart = Vorn::Zephra::Net::Devices::Recorder::SinkStart;
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

    SinkStart Start(std::uint8_t* tail) override {
        std::lock_guard lock(log_->mutex);
        if (inner_) {
            start_ = inner_->Start(tail);
            log_->bytes.resize(start_.end);
        } else {
            start_ = SinkStart{log_->prefix.size(), log_->block, {}};
            log_->bytes = log_->prefix;
            const std::size_t from = log_->prefix.size() / start_.block * start_.block;
            if (log_->prefix.size() > from) std::memcpy(tail, log_->prefix.data() + from, log_->prefix.size() - from);
        }
        log_->parsed = start_.end;
        return start_;
    }

    bool Write(const Vorn::Zephra::Net::Devices::Recorder::BlockWrite& write, std::uint64_t& reached) override {
        const auto pieces = write.pieces;
        const std::uint64_t offset = write.offset;
        reached = offset;
        {
            std::unique_lock lock(log_->mutex);
            ++log_->waiting;
            log_->changed.notify_all();
            log_->changed.wait(lock, [this] { return !log_->held; });
            --log_->waiting;
            if (++log_->writes == log_->failAt) {
                error_ = "the disk is full";
                return false;
            }
            if (!inner_ && log_->fullAt > 0) return WriteUntilFull(pieces, offset, reached);
            Keep(pieces, offset);
            Parse(write.recordsEnd);
        }
        log_->changed.notify_all();
        if (inner_) return inner_->Write(write, reached);
        for (const BlockPiece& piece : pieces) reached += piece.length;
        return true;
    }

    std::uint64_t KeepOnly(std::uint64_t end, std::uint64_t records) override {
        {
            std::lock_guard lock(log_->mutex);
            log_->keptEnd = static_cast<std::int64_t>(end);
        }
        return inner_ ? inner_->KeepOnly(end, records) : records;
    }

    bool Finish(std::uint64_t end) override {
        {
            std::lock_guard lock(log_->mutex);
            log_->finishedAt = static_cast<std::int64_t>(end);
        }
        return !inner_ || inner_->Finish(end);
    }

    const std::string& Error() const override { return inner_ && error_.empty() ? inner_->Error() : error_; }

  private:
    // Keeps the bytes before fullAt; fails when any piece goes past it.
    bool WriteUntilFull(std::span<const BlockPiece> pieces, std::uint64_t offset, std::uint64_t& reached) {
        std::uint64_t end = offset;
        for (const BlockPiece& piece : pieces) end += piece.length;
        if (end <= log_->fullAt) {
            Keep(pieces, offset);
            reached = end;
            return true;
        }
        std::vector<BlockPiece> landed;
        for (std::uint64_t at = offset; const BlockPiece& piece : pieces) {
            if (at < log_->fullAt) landed.push_back({piece.data, static_cast<std::size_t>(std::min<std::uint64_t>(piece.length, log_->fullAt - at))});
            at += piece.length;
        }
        const std::size_t block = start_.block;
        start_.block = 1;  // what landed need not be whole blocks
        Keep(landed, offset);
        start_.block = block;
        reached = std::max(offset, log_->fullAt);
        error_ = "No space left on device";
        return false;
    }

    void Keep(std::span<const BlockPiece> pieces, std::uint64_t offset) {
        const std::size_t block = start_.block;
        if (offset % block != 0) ++log_->misaligned;
        for (const BlockPiece& piece : pieces) {
            if (piece.length % block != 0 || reinterpret_cast<std::uintptr_t>(piece.data) % block != 0)
                ++log_->misaligned;
            if (log_->bytes.size() < offset + piece.length) log_->bytes.resize(offset + piece.length);
            std::memcpy(log_->bytes.data() + offset, piece.data, piece.length);
            offset += piece.length;
        }
    }

    // The records the write completed, each checked against its checksum.
    void Parse(std::uint64_t recordsEnd) {
        namespace Rec = Vorn::Zephra::Net::Devices::Recorder;
        while (log_->parsed + sizeof(Rec::FrameRecordHeader) <= recordsEnd) {
            Rec::FrameRecordHeader record{};
            std::memcpy(&record, log_->bytes.data() + log_->parsed, sizeof record);
            const std::uint8_t* image = log_->bytes.data() + log_->parsed + sizeof record;
            log_->numbers.push_back(record.frameNumber);
            log_->images.emplace_back(image, image + record.length);
            if (Rec::FrameRecordChecksum(record, image, record.length) != record.crc) ++log_->badChecksums;
            log_->parsed += sizeof record + record.length;
        }
    }

    std::shared_ptr<SinkLog> log_;
    std::unique_ptr<ImageSink> inner_;
    SinkStart start_;
    std::string error_;
};
