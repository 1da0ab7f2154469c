// A simulated camera builds every sample without allocating, so a benchmark through the graph
// measures the capture path and not the simulation. Global operator new is replaced in this
// executable so every allocation is counted.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <new>

#include "host/recorder/recording_file.h"
#include "imaging/zrf_records.h"
#include "sim/cameras/camera_presets.h"
#include "sim/cameras/replay_sample_source.h"
#include "sim/cameras/thermal_sample_source.h"
#include "sim/control/resource_tree.h"
#include "sim/samples/camera_samples.h"
#include "sim/video/format_blocks.h"
#include "sim/video/video_presets.h"
#include "tests/sim/cameras/camera_capture.h"

namespace {
std::atomic<long> g_allocations{0};
}

// The replacements pair malloc with free; the compiler cannot see that they belong together.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t n) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n) {
    return operator new(n);
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(n ? n : 1);
}
void* operator new[](std::size_t n, const std::nothrow_t& t) noexcept {
    return operator new(n, t);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

using namespace zrf::sim;

constexpr int kSamples = 20;

// Allocations while `kSamples` samples are filled, after a first one.
long CountFillAllocations(SampleSource& source, const VideoFormat& format) {
    const auto type = MediaTypeFor(format);
    std::vector<BYTE> buffer(source.Capacity(type.Get()));
    EXPECT_GT(source.Fill(type.Get(), 0, buffer.data(), buffer.size()), 0u);
    const long before = g_allocations.load();
    for (int i = 1; i <= kSamples; ++i)
        source.Fill(type.Get(), static_cast<std::uint64_t>(i), buffer.data(), buffer.size());
    return g_allocations.load() - before;
}

TEST(CameraSampleAllocations, NoneForAnyFormatButJpegLs) {
    for (const CameraPreset& preset : CameraPresets()) {
        // The content path alone: the resource tree's per-sample reads belong to the tree.
        ThermalSampleSource source(preset.video.formats, preset.content);
        for (const VideoFormat& format : preset.video.formats) {
            // The codec library builds its own coder state for every picture it encodes.
            if (format.subtype == kSubtypeMJLS) continue;
            EXPECT_EQ(CountFillAllocations(source, format), 0) << preset.name;
        }
    }
}

TEST(CameraSampleAllocations, NoneForReplay) {
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("sim_cameras_alloc_" + std::to_string(::getpid()) + ".zrec"))
                                 .string();
    {
        // A camera's image as the stream delivers it.
        zrf::sim::SampleSettings s;
        s.size = {32, 8};
        std::vector<std::uint16_t> picture(32 * 8, 7000);
        std::vector<std::uint8_t> sample;
        zrf::sim::BuildUsbRawSample(picture.data(), s, sample);
        const auto d = zrf::testing::DecodeSample({SourceKind::Usb, kSubtypeF7M0, s.size}, sample);
        ASSERT_EQ(d.results, std::vector<DecodeResult>{DecodeResult::Ok});
        const auto& image = d.images[0];
        Vorn::Zephra::Net::Devices::Recorder::RecordingWriter writer(path, 1, 0);
        ASSERT_TRUE(writer.Append(0, 0, image.data(), static_cast<std::uint32_t>(image.size())));
        ASSERT_TRUE(writer.Append(1, 0, image.data(), static_cast<std::uint32_t>(image.size())));
    }
    std::shared_ptr<ReplaySampleSource> source;
    std::string error;
    ASSERT_EQ(S_OK, ReplaySampleSource::Open(path, ReplaySettings{}, source, error)) << error;
    std::filesystem::remove(path);
    EXPECT_EQ(CountFillAllocations(*source, source->Format()), 0);
}

}  // namespace
