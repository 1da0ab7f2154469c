#include "tools/zrfgrab/info_command.h"

#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "imaging/zrf_records.h"
#include "tools/zrfgrab/arguments.h"
#include "tools/zrfgrab/commands.h"
#include "tools/zrfgrab/input_file.h"
#include "tools/zrfgrab/zrf_image_view.h"

namespace {

using namespace Zrf;

using zrfgrab::ZrfImageView;
using ImageFile = ZrfImageView;

const char* BlockName(std::uint16_t type) {
    return type == kPixelBlock ? "pixels" : type == kFrameInfoBlock ? "frame information" : "other";
}

void PrintHeader(const ImageFile& f) {
    std::printf("header: magic %s, source \"%s\", index offset %" PRIu32 ", entries %" PRIu32
                ", words %" PRIu32 " %" PRIu32 ", checksum 0x%08" PRIx32 "\n",
                f.Text(0, 4).c_str(), f.Text(4, 16).c_str(), f.Be32(24), f.Be32(28), f.Be32(20),
                f.Be32(32), f.Be32(60));
}

void PrintFrameInfo(const ImageFile& f, std::size_t at) {
    std::printf("geometry: width %u, height %u, last row %u\n",
                f.Le<std::uint16_t>(at + Info::kGeometryWidth),
                f.Le<std::uint16_t>(at + Info::kGeometryHeight),
                f.Le<std::uint16_t>(at + Info::kGeometryLastRow));
    const auto seconds = f.Le<std::uint32_t>(at + Info::kSeconds);
    const auto millis = f.Le<std::uint32_t>(at + Info::kMilliseconds);
    const auto zone = f.Le<std::int16_t>(at + Info::kTimeZone);
    // The seconds count from 1970 in UTC (an hour more in daylight saving time); less the zone,
    // they are the capturing host's local time, as the recorder takes them.
    const std::time_t t = static_cast<std::time_t>(seconds) - std::time_t{zone} * 60;
    std::tm local{};
    char when[32] = "?";
    if (gmtime_r(&t, &local) != nullptr) std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local);
    std::printf("time: %s.%03u local, standard zone %s (%" PRIu32 " s, %" PRIu32 " ms), time zone %d min\n",
                when, millis % 1000, zrfgrab::ZoneText(zone).c_str(), seconds, millis, zone);
    std::printf("frame rate: %u, status flags 0x%04x, text \"%s\"\n",
                f.Le<std::uint16_t>(at + Info::kFrameRate),
                f.Le<std::uint16_t>(at + Info::kStatusFlags),
                f.Text(at + Info::kText, Info::kTextSize).c_str());
}

void PrintPixels(const ImageFile& f, std::size_t at, std::size_t bytes) {
    const std::size_t count = bytes / 2;
    if (count == 0) {
        std::printf("pixels: 0\n");
        return;
    }
    std::uint16_t lo = 0xFFFF, hi = 0;
    double sum = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const auto v = f.Le<std::uint16_t>(at + 2 * i);
        lo = v < lo ? v : lo;
        hi = v > hi ? v : hi;
        sum += v;
    }
    std::printf("pixels: %zu, min %u, max %u, mean %.2f\n", count, lo, hi,
                sum / static_cast<double>(count));
}

int PrintImage(const ImageFile& f) {
    PrintHeader(f);
    const std::uint32_t entries = f.Be32(28);
    std::int64_t infoAt = -1, pixelsAt = -1, pixelBytes = 0;
    for (std::uint32_t i = 0; i < entries; ++i) {
        const std::size_t e = kIndexOffset + static_cast<std::size_t>(i) * kIndexEntrySize;
        if (!f.Has(e, kIndexEntrySize)) {
            std::printf("entry %u: beyond the end of the file\n", i);
            break;
        }
        const std::uint16_t type = f.Be16(e);
        const std::uint32_t offset = f.Be32(e + 12), length = f.Be32(e + 16);
        const bool inside = f.Has(offset, length);
        std::printf("entry %u: type %u (%s), byte order %u, offset %" PRIu32 ", length %" PRIu32
                    "%s\n",
                    i, type, BlockName(type), f.Be16(e + 2), offset, length,
                    inside ? "" : " (beyond the end)");
        if (!inside) continue;
        if (type == kFrameInfoBlock && length >= Info::kInterpretedEnd) infoAt = offset;
        if (type == kPixelBlock && length >= kGeometrySize) {
            pixelsAt = offset + kGeometrySize;
            pixelBytes = length - kGeometrySize;
        }
    }
    if (infoAt >= 0) PrintFrameInfo(f, static_cast<std::size_t>(infoAt));
    if (pixelsAt >= 0)
        PrintPixels(f, static_cast<std::size_t>(pixelsAt), static_cast<std::size_t>(pixelBytes));
    return 0;
}

}  // namespace

int RunInfoCommand(int argc, char** argv) {
    return zrfgrab::ReportingErrors("info", [&] {
        if (argc != 2) throw zrfgrab::UsageError("expected one FILE (zrfgrab info FILE)");
        const std::string path = argv[1];
        zrfgrab::CheckInputFile(path);
        if (IsRecordingFile(path)) return RunRecordingInfo(path);
        const std::vector<std::uint8_t> bytes = zrfgrab::ReadInputFile(path);
        const ImageFile f(bytes);
        if (!f.IsZrf())
            throw zrfgrab::UsageError("'" + path + "' is neither a recording nor a ZRF image");
        return PrintImage(f);
    });
}
