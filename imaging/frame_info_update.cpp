// The checks and updates every radiometric frame-information block goes through, in host
// order: calibrating and missing-stamp checks, the stamp, the field's time offset, and the
// geometry of one field.
#include <cmath>
#include <cstring>

#include "imaging/img_src_stream.h"
#include "imaging/zrf_records.h"

namespace {

using namespace Zrf;

// A rate that can divide and scale: finite, positive, a camera's.
bool IsUsableRate(float rate) {
    return FrameClock::IsUsableFrameRate(rate);
}

}  // namespace

DecodeResult ImgSrcStream::ApplyFrameInfo(std::uint8_t* block, std::int32_t fieldIndex,
                                          std::int32_t fieldHeight) {
    if ((Load<std::uint16_t>(block + Info::kStatusFlags) & Info::kCalibratingMask) != 0) {
        return DecodeResult::Calibrating;
    }
    // A frame without the camera's own stamp is rejected even when the host stamps it.
    if (Load<std::uint32_t>(block + Info::kSeconds) == 0) return DecodeResult::BadFrame;

    // One reading of the rate for the whole frame, whatever another thread sets meanwhile.
    const float rate = frameRate.load(std::memory_order_relaxed);
    if (hostTimeStamps) {
        // The field's own stamp, offset within its sample's period.
        const FrameStamp stamp = StampField(fieldIndex);
        Store(block + Info::kSeconds, stamp.seconds);
        Store(block + Info::kMilliseconds, stamp.milliseconds);
        Store(block + Info::kTimeZone, stamp.timeZoneMinutes);
    } else {
        FrameStamp stamp;
        stamp.seconds = Load<std::uint32_t>(block + Info::kSeconds);
        stamp.milliseconds = Load<std::uint32_t>(block + Info::kMilliseconds);
        stamp.timeZoneMinutes = Load<std::int16_t>(block + Info::kTimeZone);
        stamp.frameRate = rate;
        if (fieldIndex > 0) {
            stamp = FrameClock::FieldStamp(stamp, fieldCount, fieldIndex);
            Store(block + Info::kSeconds, stamp.seconds);
            Store(block + Info::kMilliseconds, stamp.milliseconds);
        }
        timeZoneMinutes = stamp.timeZoneMinutes;
        timeSeconds = stamp.seconds;
        timeMilliseconds = stamp.milliseconds;
    }

    Store<std::uint16_t>(block + Info::kLiveFlag, 1);
    std::memcpy(block + Info::kText, "Live", 5);
    if (IsUsableRate(rate)) {
        const auto whole = static_cast<std::uint32_t>(rate) & 0xFFFF;
        Store(block + Info::kFrameRate,
              static_cast<std::uint16_t>(whole * static_cast<std::uint32_t>(fieldCount)));
    }
    Store(block + Info::kGeometryHeight, static_cast<std::uint16_t>(fieldHeight));
    Store(block + Info::kGeometryLastRow, static_cast<std::uint16_t>(fieldHeight - 1));
    Store<std::uint32_t>(block + Info::kGeometryWord28, 0);
    return DecodeResult::Ok;
}
