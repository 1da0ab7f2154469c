#pragma once
// Frame content of a simulated thermal camera: the camera's sample of the scene for the current
// media type, with the frame information following the camera's resource tree (calibrating
// after a correction, windowing fields, range).
//
// Samples are prepared once and sent again: frames 0 to kPreparedSamples - 1 are rendered and
// built as they come, and later frames send those again, forwards then backwards (so the warm
// spots move on smooth paths), each with its own time and calibrating flag written into the
// frame information. A camera then costs a copy per sample, whatever its format, and a seed's
// first frames are exactly what the scene renders for them. A change of format, range or
// windowing prepares the samples anew.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "imaging/image_types.h"
#include "sim/samples/camera_samples.h"
#include "sim/samples/thermal_scene.h"
#include "sim/video/sample_source.h"
#include "sim/video/video_device_settings.h"

namespace zrf::sim {

class ResourceTree;

enum class CameraBus { Usb, Ieee1394 };

struct ThermalSourceSettings {
    CameraBus bus = CameraBus::Usb;
    std::uint32_t seed = 1;
    std::uint16_t pixel_byte_order = 2;  // USB: 1 = bytes of every pixel swapped, 2 = host order
    std::shared_ptr<ResourceTree> tree;  // null: never calibrating, one field, range 0
};

class ThermalSampleSource final : public SampleSource {
  public:
    // Prepares scenes and buffers for every offered format.
    ThermalSampleSource(const std::vector<VideoFormat>& formats, ThermalSourceSettings settings);

    std::size_t Capacity(const AM_MEDIA_TYPE& type) const override;
    // A type that none of the formats names gets an empty sample.
    std::size_t Fill(const AM_MEDIA_TYPE& type, std::uint64_t frame, BYTE* buffer,
                     std::size_t capacity) override;
    // The camera's stamp in the last sample's frame information (radiometric formats only).
    bool Damage(const AM_MEDIA_TYPE& type, BYTE* buffer, std::size_t length) override;

    // The picture a format's samples carry: USB radiometric raw formats give the rows their
    // 3840-byte region occupies to it.
    static ImageSize PictureSize(CameraBus bus, const GUID& subtype, LONG width, LONG height);

    static constexpr std::uint64_t kPreparedSamples = 32;
    // The prepared sample a frame sends: 0, 1, ..., 31, 30, ..., 1, 0, 1, ...
    static std::uint64_t PreparedIndex(std::uint64_t frame);

  private:
    struct Plan {
        GUID subtype;
        LONG width;
        LONG height;
        ImageSize picture;
        std::size_t scene;
        std::size_t capacity;
    };

    // What a prepared sample was built for: another key prepares it anew.
    struct Key {
        const Plan* plan = nullptr;
        std::int32_t range = 0;
        int fields = 1;
        REFERENCE_TIME interval = 0;
        bool operator==(const Key&) const = default;
    };
    struct Prepared {
        Key key;
        bool built = false;
        std::unique_ptr<std::uint8_t[]> bytes;  // the plan's capacity, allocated at first use
        std::size_t length = 0;
        std::size_t info = 0;  // offset of the frame-information block
        bool hasInfo = false;
    };

    const Plan* FindPlan(const AM_MEDIA_TYPE& type) const;
    std::int32_t RangeIndex() const;
    void ApplyRange(std::size_t pixels, std::int32_t range);
    SampleSettings SettingsFor(const Plan& plan, const Key& key, std::uint64_t frame,
                               bool calibrating) const;
    void Build(const Plan& plan, const SampleSettings& settings, std::uint64_t sceneFrame,
               Prepared& prepared);

    const ThermalSourceSettings settings_;
    const std::string range_node_;
    std::vector<Plan> plans_;
    std::vector<std::unique_ptr<ThermalScene>> scenes_;
    std::vector<std::uint16_t> picture_;
    std::vector<std::uint8_t> scratch_;
    std::size_t largestSample_ = 0;
    std::size_t lastInfo_ = 0;  // of the last sample filled
    bool lastHasInfo_ = false;
    Prepared prepared_[kPreparedSamples];
};

}  // namespace zrf::sim
