#pragma once
// A camera's own samples, every other one spoiled once a number of good ones went out: cut short
// at a random length, padded with random bytes, with random bytes changed, or (an IEEE-1394
// sample, its frame information last) without the camera's time stamp. Seeded, so a failure
// repeats.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <random>

#include "imaging/zrf_records.h"
#include "sim/video/sample_source.h"

namespace zrf::faults {

enum class Spoil { Nothing, Truncate, Pad, Corrupt, Unstamped };

class FaultySource final : public zrf::sim::SampleSource {
  public:
    static constexpr std::size_t kMaxPadding = 4096;

    FaultySource(std::shared_ptr<zrf::sim::SampleSource> inner, Spoil spoil,
                 std::uint64_t goodSamples)
        : inner_(std::move(inner)), spoil_(spoil), goodSamples_(goodSamples) {}

    std::size_t Capacity(const AM_MEDIA_TYPE& type) const override {
        return inner_->Capacity(type) + kMaxPadding;
    }

    std::size_t Fill(const AM_MEDIA_TYPE& type, std::uint64_t frame, BYTE* buffer,
                     std::size_t capacity) override {
        std::size_t length = inner_->Fill(type, frame, buffer, capacity - kMaxPadding);
        const std::uint64_t n = samples_.fetch_add(1);
        const bool spoiled = n >= goodSamples_ && (n - goodSamples_) % 2 == 0 && length > 0;
        if (spoiled) {
            length = Apply(buffer, length, capacity);
            spoiled_.fetch_add(1);
        }
        return length;
    }

    std::uint64_t Samples() const { return samples_.load(); }
    std::uint64_t Spoiled() const { return spoiled_.load(); }

  private:
    std::size_t Apply(BYTE* buffer, std::size_t length, std::size_t capacity) {
        switch (spoil_) {
            case Spoil::Truncate:
                return std::uniform_int_distribution<std::size_t>(0, length - 1)(random_);
            case Spoil::Pad: {
                const std::size_t padded = std::min(
                    capacity,
                    length + std::uniform_int_distribution<std::size_t>(1, kMaxPadding)(random_));
                for (std::size_t i = length; i < padded; ++i)
                    buffer[i] = static_cast<BYTE>(random_());
                return padded;
            }
            case Spoil::Corrupt: {
                const int changes = std::uniform_int_distribution<int>(1, 64)(random_);
                std::uniform_int_distribution<std::size_t> where(0, length - 1);
                for (int i = 0; i < changes; ++i)
                    buffer[where(random_)] = static_cast<BYTE>(random_());
                return length;
            }
            case Spoil::Unstamped: {
                constexpr std::size_t kInfo = static_cast<std::size_t>(Zrf::kFrameInfoSize);
                if (length >= kInfo)
                    std::fill_n(buffer + length - kInfo + Zrf::Info::kSeconds, 4, BYTE{0});
                return length;
            }
            case Spoil::Nothing:
                break;
        }
        return length;
    }

    std::shared_ptr<zrf::sim::SampleSource> inner_;
    const Spoil spoil_;
    const std::uint64_t goodSamples_;
    std::atomic<std::uint64_t> samples_{0};
    std::atomic<std::uint64_t> spoiled_{0};
    std::mt19937_64 random_{0x5eed};  // the streaming thread's alone
};

}  // namespace zrf::faults
