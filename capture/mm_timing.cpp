#include "capture/mm_timing.h"

MMTiming::MMTiming() {
    timeBeginPeriod(1);
    Anchor();
}

MMTiming::~MMTiming() { timeEndPeriod(1); }

void MMTiming::Anchor() {
    anchorTick_ = timeGetTime();
    __timeb32 now{};
    _ftime32(&now);
    anchorSeconds_ = now.time;
    anchorMilliseconds_ = now.millitm;
    timeZone_ = now.timezone;
    daylightSaving_ = now.dstflag;
}

void MMTiming::GetTime(std::int32_t& seconds, std::int32_t& milliseconds, std::int16_t& timeZone) {
    DWORD now = timeGetTime() + anchorMilliseconds_;
    if (now < anchorTick_) {
        // The timer wrapped since the anchor: anchor afresh.
        Anchor();
        now = timeGetTime() + anchorMilliseconds_;
    }
    const DWORD elapsed = now - anchorTick_;
    const std::uint32_t wholeSeconds = elapsed / 1000 + static_cast<std::uint32_t>(anchorSeconds_) +
                                       (daylightSaving_ != 0 ? 3600u : 0u);
    seconds = static_cast<std::int32_t>(wholeSeconds);
    milliseconds = static_cast<std::int32_t>(elapsed % 1000);
    timeZone = timeZone_;
}
