#include "sim/video/sample_glitches.h"

#include "sim/video/fourcc.h"

namespace zrf::sim {

SampleGlitches::SampleGlitches(const CameraImperfections& imperfections)
    : every_(imperfections.glitch_every), random_(imperfections.seed ^ 0x9E3779B9u) {}

SampleGlitches::Kind SampleGlitches::Apply(const AM_MEDIA_TYPE& type, SampleSource& source,
                                           BYTE* buffer, std::size_t& length) {
    if (every_ == 0 || type.subtype == FourCCSubtype("MJPG")) return Kind::None;
    if (std::uniform_int_distribution<std::uint32_t>(0, every_ - 1)(random_) != 0)
        return Kind::None;
    damageNext_ = !damageNext_;
    if (!damageNext_ && source.Damage(type, buffer, length)) return Kind::Damaged;
    // Cut at half: short of every layout's pixels or of the region behind them.
    length /= 2;
    return Kind::CutShort;
}

}  // namespace zrf::sim
