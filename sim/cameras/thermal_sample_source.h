#pragma once
// Frame content of a simulated thermal camera: for every sample the scene is rendered and the
// camera's sample for the current media type is built, with the frame information following
// the camera's resource tree (calibrating after a correction, windowing fields, range).
// Everything a sample needs is allocated when the source is made.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "imaging/image_types.h"
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

    // The picture a format's samples carry: USB radiometric raw formats give the rows their
    // 3840-byte region occupies to it.
    static ImageSize PictureSize(CameraBus bus, const GUID& subtype, LONG width, LONG height);

  private:
    struct Plan {
        GUID subtype;
        LONG width;
        LONG height;
        ImageSize picture;
        std::size_t scene;
        std::size_t capacity;
    };

    const Plan* FindPlan(const AM_MEDIA_TYPE& type) const;
    std::int32_t RangeIndex() const;
    void ApplyRange(std::size_t pixels, std::int32_t range);
    std::size_t Build(const Plan& plan, const AM_MEDIA_TYPE& type, std::uint64_t frame,
                      BYTE* buffer, std::size_t capacity);

    const ThermalSourceSettings settings_;
    const std::string range_node_;
    std::vector<Plan> plans_;
    std::vector<std::unique_ptr<ThermalScene>> scenes_;
    std::vector<std::uint16_t> picture_;
    std::vector<std::uint8_t> scratch_;
};

}  // namespace zrf::sim
