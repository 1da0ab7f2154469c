#pragma once
// Frame content for a simulated device. The device owns the sample buffer and reuses it;
// the source only writes into it, on the streaming thread, and allocates nothing there.
#include <cstddef>
#include <cstdint>

#include "platform/dshow/dshow.h"

namespace zrf::sim {

class SampleSource {
  public:
    virtual ~SampleSource() = default;
    // The largest sample this source writes for the type; the buffer gets this capacity.
    virtual std::size_t Capacity(const AM_MEDIA_TYPE& type) const;
    // Writes frame `frame` for the type and returns its length (at most `capacity`).
    virtual std::size_t Fill(const AM_MEDIA_TYPE& type, std::uint64_t frame, BYTE* buffer,
                             std::size_t capacity) = 0;
    // Whether the source has sent all it has: its camera then goes away, as one unplugged.
    // Asked on the streaming thread, between samples.
    virtual bool Exhausted() const { return false; }
    // Spoils the sample just filled (`length` bytes) in a byte its receiver checks (the camera's
    // time stamp in the frame information, say), as a damaged transfer would; false, leaving it
    // whole, when this source knows of no such byte in it.
    virtual bool Damage(const AM_MEDIA_TYPE& type, BYTE* buffer, std::size_t length);
};

// The image size of a type's video information header, or 0.
std::size_t ImageSizeOf(const AM_MEDIA_TYPE& type);

// A deterministic byte pattern, the frame number in the first eight bytes (little-endian);
// the default until a scene source is plugged in.
class PatternSampleSource final : public SampleSource {
  public:
    std::size_t Fill(const AM_MEDIA_TYPE& type, std::uint64_t frame, BYTE* buffer,
                     std::size_t capacity) override;
};

}  // namespace zrf::sim
