#pragma once
// Transfers that go wrong now and then: one sample in N (at random) is cut short or damaged in a
// byte its receiver checks, alternately where the source can damage one. Only what the receiver
// can notice is injected, so every glitch is a frame the receiver must count as lost: a format in
// which nothing is checked (MJPG, whose bytes pass as they are) is left alone.
#include <cstddef>
#include <cstdint>
#include <random>

#include "sim/video/sample_source.h"
#include "sim/video/video_device_settings.h"

namespace zrf::sim {

class SampleGlitches {
  public:
    enum class Kind { None, CutShort, Damaged };

    explicit SampleGlitches(const CameraImperfections& imperfections);
    // Glitches the sample just filled (`length` valid bytes), or leaves it; says what it did.
    Kind Apply(const AM_MEDIA_TYPE& type, SampleSource& source, BYTE* buffer, std::size_t& length);

  private:
    std::uint32_t every_;
    std::mt19937 random_;
    bool damageNext_ = false;
};

}  // namespace zrf::sim
