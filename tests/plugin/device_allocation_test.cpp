// What the whole device path allocates per image, on every thread of the process: the grabber
// callback, the stream, the decode, the recorder and the Completed handler. Allowed is exactly
// what each image brings by definition (its event arguments and its info document, built here
// the same way to count them) and, for JPEG-LS, what the codec allocates inside its own calls.
// Every allocation of this executable is counted, pugixml's own included.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <pugixml.hpp>

#include "bench/device_rig.h"
#include "imaging/jpegls_codec.h"
#include "imaging/zrf_records.h"
#include "tests/imaging/counting_new.h"

namespace {

void* XmlAllocate(std::size_t n) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(n ? n : 1);
}
void XmlFree(void* p) { std::free(p); }

// Installed before main, so no document is made with another allocator.
const bool g_xmlCounted = [] {
    pugi::set_memory_management_functions(&XmlAllocate, &XmlFree);
    return true;
}();

using namespace DeviceBench;
using Vorn::Zephra::Net::Devices::GrabContinousCompletedEventArgs;

constexpr long kImages = 300;

// What one image brings by definition: its info document and its event arguments.
long PerImageAllowance() {
    std::vector<std::uint8_t> image(64);
    long least = -1;
    // The least of a few: the first may meet allocators warming up.
    for (std::uint32_t n = 1; n <= 5; ++n) {
        const long before = g_allocations.load();
        {
            const GrabContinousCompletedEventArgs args{image, Xml::ImageInfoXml(n).XMLData()};
            asm volatile("" : : "r"(&args) : "memory");  // made, not optimised away
        }
        const long made = g_allocations.load() - before;
        least = least < 0 ? made : std::min(least, made);
    }
    return least;
}

// What the codec allocates inside its own calls for one image.
long CodecAllocations(const DeviceFormat& format) {
    if (format.samples != SampleKind::UsbJpegLs) return 0;
    const CaptureBench::CameraSampleSource source(format.samples, format.picture, 1);
    const auto& sample = source.Samples().front();
    const std::uint32_t length = Zrf::LoadBigEndian32(sample.data());
    std::vector<std::uint8_t> out(static_cast<std::size_t>(format.picture.width) *
                                  format.picture.height * 2);
    const long before = g_allocations.load();
    JlsParameters params;
    if (!ReadJpegLsHeader(sample.data() + 4, length, params) ||
        !DecodeJpegLs(out.data(), out.size(), sample.data() + 4, length, params))
        return -1;
    return g_allocations.load() - before;
}

struct Counted {
    long images;
    long allocations;
};

// Streams, lets the first images settle the buffers, then counts over kImages images. The
// count starts and ends with the streaming thread held at the gate in an image's handler, that
// image's allocations made: what lies between is exactly the images let through. (Counting
// while it ran read the count and the images at two moments; a descheduled test thread saw a
// few images' allocations more than images.)
Counted CountWhileStreaming(DeviceRig& rig, bool record) {
    if (!rig.Start(record) || !rig.WaitFor(rig.Delivered() + 20)) return {0, 0};
    rig.Gate();
    rig.Stream(1);
    const long before = g_allocations.load();
    const long images = rig.Stream(kImages);
    const long allocations = g_allocations.load() - before;
    rig.Stop();
    return {images, allocations};
}

TEST(DevicePathAllocations, OnlyTheEventArgumentsAndTheInfoDocumentPerImage) {
    const long allowance = PerImageAllowance();
    ASSERT_GT(allowance, 0) << "the per-image objects were not counted";
    const std::string folder = std::filesystem::temp_directory_path() /
                               ("device-allocation-test-" + std::to_string(::getpid()));
    std::printf("allowed per image: %ld (event arguments and info document)\n", allowance);
    for (const DeviceFormat& format : kDeviceFormats) {
        const long codec = CodecAllocations(format);
        ASSERT_GE(codec, 0) << format.name;
        const std::string recordings = folder + "/" + format.name;
        std::filesystem::create_directories(recordings);
        DeviceRig rig(format, recordings);
        for (const bool record : {false, true}) {
            if (record && !format.radiometric) continue;
            const Counted c = CountWhileStreaming(rig, record);
            const std::string what = std::string(format.name) + (record ? ", recording" : "");
            ASSERT_EQ(c.images, kImages) << what;
            const long allowed = (allowance + codec) * c.images;
            std::printf("%-24s %ld images, %ld allocations: %.2f per image (allowed %ld)\n",
                        what.c_str(), c.images, c.allocations,
                        static_cast<double>(c.allocations) / static_cast<double>(c.images),
                        allowance + codec);
            EXPECT_LE(c.allocations, allowed) << what;
        }
    }
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
}

}  // namespace
