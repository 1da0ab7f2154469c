#include "sim/samples/thermal_scene.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

std::vector<std::uint16_t> Render(const zrf::sim::ThermalScene& scene, std::uint64_t frame) {
    std::vector<std::uint16_t> p(static_cast<std::size_t>(scene.Size().width) *
                                 scene.Size().height);
    scene.Render(frame, p.data());
    return p;
}

TEST(ThermalScene, SameSeedAndFrameGiveTheSamePicture) {
    const zrf::sim::ThermalScene a({64, 48}, 7), b({64, 48}, 7);
    EXPECT_EQ(Render(a, 12), Render(b, 12));
    EXPECT_NE(Render(a, 12), Render(a, 13));
    EXPECT_NE(Render(a, 12), Render(zrf::sim::ThermalScene({64, 48}, 8), 12));
}

TEST(ThermalScene, LooksLikeARoomWithWarmSpots) {
    const auto p = Render(zrf::sim::ThermalScene({80, 60}, 3), 0);
    const auto room = Render(zrf::sim::ThermalScene({80, 60}, 3, 0), 0);
    const auto [lo, hi] = std::minmax_element(room.begin(), room.end());
    EXPECT_GT(*lo, 7000);
    EXPECT_LT(*hi, 7800);
    // The spots are hundreds of counts warmer than the room; elsewhere only noise differs.
    int warmer = 0;
    for (std::size_t i = 0; i < p.size(); ++i) {
        ASSERT_GE(p[i], room[i]);
        if (p[i] - room[i] > 300) ++warmer;
    }
    EXPECT_GT(warmer, 10);
    EXPECT_LT(warmer, static_cast<int>(p.size()) / 2);
}

TEST(ThermalScene, SpotsMoveBetweenFrames) {
    const zrf::sim::ThermalScene scene({80, 60}, 5, 1);
    auto hottest = [&](std::uint64_t frame) {
        const auto p = Render(scene, frame);
        return std::max_element(p.begin(), p.end()) - p.begin();
    };
    EXPECT_NE(hottest(0), hottest(100));
}

TEST(ThermalScene, DegenerateSizesRenderNothing) {
    const zrf::sim::ThermalScene scene({0, 10}, 1);
    EXPECT_EQ(Render(scene, 0).size(), 0u);
    const zrf::sim::ThermalScene tiny({1, 1}, 1);
    EXPECT_EQ(Render(tiny, 3).size(), 1u);
}

}  // namespace
