// Changes to a camera preset as text: each key reaches its field, and a change that cannot be
// made changes nothing.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "imaging/media_subtypes.h"
#include "sim/cameras/preset_changes.h"

namespace {

using zrf::sim::CameraPreset;

CameraPreset UsbIr() {
    return *zrf::sim::FindCameraPreset("usb-ir");
}

TEST(PresetChanges, EachKeyReachesItsField) {
    using Check = std::function<bool(const CameraPreset&)>;
    const std::vector<std::pair<std::string, Check>> cases = {
        {"rates=333333,666666",
         [](auto& p) {
             return p.video.video_control_frame_intervals ==
                    std::vector<REFERENCE_TIME>{333333, 666666};
         }},
        {"rates=", [](auto& p) { return p.video.video_control_frame_intervals.empty(); }},
        {"format-rates=2000000",
         [](auto& p) {
             for (const auto& f : p.video.formats)
                 if (f.frame_intervals != std::vector<REFERENCE_TIME>{2000000}) return false;
             return !p.video.formats.empty();
         }},
        {"without-formats=F7M0,YUY2",
         [](auto& p) {
             for (const auto& f : p.video.formats)
                 if (f.subtype == kSubtypeF7M0 || f.subtype == kSubtypeYUY2) return false;
             return !p.video.formats.empty();
         }},
        {"password=other;tula=1",
         [](auto& p) { return p.tree->password == "other" && p.tree->tula; }},
        {"focus-type=250;focus-supported=0",
         [](auto& p) { return p.tree->focusType == 250 && !p.tree->focusSupported; }},
        {"focus-queries-fail=1", [](auto& p) { return p.tree->focusQueriesFail; }},
        {"ranges=-20:120,0.5:500",
         [](auto& p) {
             return p.tree->ranges ==
                    std::vector<std::pair<double, double>>{{-20, 120}, {0.5, 500}};
         }},
        {"ranges=", [](auto& p) { return p.tree->ranges.empty(); }},
        {"truncate-samples=1000;withhold-buffers=1",
         [](auto& p) {
             return p.video.should_truncate_samples_to == 1000 &&
                    p.video.should_withhold_sample_buffers;
         }},
        {"disappear-after=60;no-device-path=1",
         [](auto& p) {
             return p.video.should_disappear_after_frames == 60 && p.video.should_omit_device_path;
         }},
        {"fail-run=0x800705AA",
         [](auto& p) { return p.video.should_fail_run_with == static_cast<HRESULT>(0x800705AA); }},
        {"return-after-disappearing=1",
         [](auto& p) { return p.video.should_return_after_disappearing; }},
        {"drift=+50;jitter=3;stall=250/60;glitch=5000",
         [](auto& p) {
             const auto& i = p.video.imperfections;
             return i.clock_ppm == 50 && i.jitter_ms == 3 && i.stall_ms == 250 &&
                    i.stall_every_ms == 60000 && i.glitch_every == 5000;
         }},
        {"drift=-20;stall=5/0.25",
         [](auto& p) {
             const auto& i = p.video.imperfections;
             return i.clock_ppm == -20 && i.stall_ms == 5 && i.stall_every_ms == 250;
         }},
        {"format-size=16x12",
         [](auto& p) {
             for (const auto& f : p.video.formats)
                 if (f.width != 16 || f.height != 12) return false;
             return true;
         }},
        {"", [](auto& p) { return p.tree->password == UsbIr().tree->password; }},
    };
    for (const auto& [changes, check] : cases) {
        CameraPreset preset = UsbIr();
        std::string why;
        EXPECT_TRUE(zrf::sim::ApplyPresetChanges(changes, preset, why)) << changes << ": " << why;
        EXPECT_TRUE(check(preset)) << changes;
    }
}

TEST(PresetChanges, AChangeThatCannotBeMadeChangesNothing) {
    for (const std::string changes : {"password=x;nosuch=1",
                                      "rates=abc",
                                      "rates=0",
                                      "focus-type=",
                                      "withhold-buffers=2",
                                      "without-formats=ABCDE",
                                      "ranges=1-2",
                                      "password",
                                      "format-rates=",
                                      "drift=abc",
                                      "drift=+-5",
                                      "drift=600000",
                                      "drift=nan",
                                      "jitter=-1",
                                      "stall=250",
                                      "stall=60000/60",
                                      "stall=10/0",
                                      "glitch=-5",
                                      "glitch=2.5",
                                      "format-size=16",
                                      "format-size=0x12",
                                      "format-size=16x1e9",
                                      "return-after-disappearing=yes",
                                      "stall=20000000/100000",
                                      "stall=0/0.0001",
                                      "stall=0.5/0.25",
                                      "stall=0/60",
                                      "stall=1/0.0015",
                                      "drift=1e-400"}) {
        CameraPreset preset = UsbIr();
        std::string why;
        EXPECT_FALSE(zrf::sim::ApplyPresetChanges(changes, preset, why)) << changes;
        EXPECT_NE(why.find("cannot apply"), std::string::npos) << changes;
        EXPECT_EQ(preset.tree->password, UsbIr().tree->password) << changes;
    }
}

}  // namespace
