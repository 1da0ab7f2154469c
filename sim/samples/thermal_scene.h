#pragma once
// Plausible thermal pictures for simulated cameras: a background with a gentle gradient, a few
// warm spots moving on smooth paths, and sensor noise. The same seed and frame number always
// give the same picture; a frame costs a few operations per pixel.
#include <cstdint>
#include <vector>

#include "imaging/image_types.h"

namespace zrf::sim {

class ThermalScene {
  public:
    ThermalScene(ImageSize size, std::uint32_t seed, int spotCount = 3);

    // Writes width x height raw values.
    void Render(std::uint64_t frame, std::uint16_t* picture) const;
    ImageSize Size() const { return size_; }

  private:
    struct Spot {
        double centreX, centreY, radiusX, radiusY, speed, phase;
        int radius;
        std::uint16_t heat;
    };

    ImageSize size_;
    std::uint32_t seed_;
    std::vector<std::uint16_t> background_;
    std::vector<Spot> spots_;
    std::vector<std::uint16_t> falloff_;  // by squared distance, per unit of heat (Q8)
};

}  // namespace zrf::sim
