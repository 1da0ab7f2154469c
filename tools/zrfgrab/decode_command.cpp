#include "tools/zrfgrab/decode_command.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "host/system/exceptions.h"
#include "imaging/img_src_stream.h"
#include "imaging/media_subtypes.h"
#include "tools/picture/output_file.h"
#include "tools/zrfgrab/arguments.h"
#include "tools/zrfgrab/input_file.h"

namespace {

struct DecodeOptions {
    GUID subtype{};
    SourceKind source = SourceKind::Usb;
    ImageSize size{};
    std::int32_t fields = 1;
    std::int32_t field = 0;
    float rate = 0.0f;
    bool cameraTime = false;
    std::string samplePath;
    std::string outPath;
};

// The subtypes the image stream decodes.
bool KnownSubtype(const GUID& subtype) {
    for (const GUID& known : {kSubtypeF7M0, kSubtypeF7M2, kSubtypeY800, kSubtypeYUY2,
                              kSubtypeI420, kSubtypeMJLS, kSubtypeMJPG})
        if (subtype == known) return true;
    return false;
}

bool ParseInt(const std::string& text, std::int32_t& value) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 ||
        v < std::numeric_limits<std::int32_t>::min() ||
        v > std::numeric_limits<std::int32_t>::max()) {
        return false;
    }
    value = static_cast<std::int32_t>(v);
    return true;
}

bool ParseSize(const std::string& text, ImageSize& size) {
    const auto x = text.find('x');
    return x != std::string::npos && ParseInt(text.substr(0, x), size.width) &&
           ParseInt(text.substr(x + 1), size.height) && size.width > 0 && size.height > 0;
}

bool ParseRate(const std::string& text, float& rate) {
    char* end = nullptr;
    rate = std::strtof(text.c_str(), &end);
    return !text.empty() && *end == '\0' && rate >= 0.0f && rate < 100000.0f;
}

// Returns an error text, or nothing when the options are complete.
std::optional<std::string> Parse(int argc, char** argv, DecodeOptions& o) {
    bool haveSubtype = false, haveSource = false, haveSize = false;
    std::vector<std::string> positional;
    std::vector<std::string> given;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.starts_with("--")) {
            if (std::find(given.begin(), given.end(), arg) != given.end()) return arg + " is given twice";
            given.push_back(arg);
        }
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= argc) return std::nullopt;
            return std::string(argv[++i]);
        };
        if (arg == "--camera-time") {
            o.cameraTime = true;
        } else if (arg == "--subtype" || arg == "--source" || arg == "--size" ||
                   arg == "--fields" || arg == "--field" || arg == "--rate") {
            const auto v = value();
            if (!v) return arg + " needs a value";
            if (arg == "--subtype") {
                if (!SubtypeFromFourCc(v->c_str(), o.subtype) || !KnownSubtype(o.subtype))
                    return "unknown subtype '" + *v + "' (F7M0, F7M2, MJLS, Y800, YUY2, I420, MJPG)";
                haveSubtype = true;
            } else if (arg == "--source") {
                if (*v == "usb")
                    o.source = SourceKind::Usb;
                else if (*v == "1394")
                    o.source = SourceKind::Ieee1394;
                else
                    return "source must be usb or 1394: " + *v;
                haveSource = true;
            } else if (arg == "--size") {
                if (!ParseSize(*v, o.size)) return "size must be WIDTHxHEIGHT: " + *v;
                haveSize = true;
            } else if (arg == "--fields") {
                if (!ParseInt(*v, o.fields) || o.fields < 1)
                    return "fields must be a count of at least 1: " + *v;
            } else if (arg == "--field") {
                if (!ParseInt(*v, o.field) || o.field < 0)
                    return "field must be an index from 0: " + *v;
            } else if (!ParseRate(*v, o.rate)) {
                return "rate must be frames per second: " + *v;
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            return "unknown option " + arg;
        } else {
            positional.push_back(arg);
        }
    }
    if (!haveSubtype || !haveSource || !haveSize)
        return "--subtype, --source and --size are required";
    if (positional.size() != 2) return "expected SAMPLE and OUT";
    if (o.field >= o.fields) return "field must be less than the field count";
    o.samplePath = positional[0];
    o.outPath = positional[1];
    return std::nullopt;
}

// The new-image callback has no arguments: the one decode in progress.
struct PendingDecode {
    ImgSrcStream* stream = nullptr;
    std::int32_t field = 0;
    std::vector<std::uint8_t> image;
    DecodeResult result = DecodeResult::BadFrame;
};
PendingDecode* g_pending = nullptr;

void OnNewImage() {
    PendingDecode& p = *g_pending;
    const std::int32_t size = p.stream->GetImageBufferSize();
    p.image.assign(static_cast<std::size_t>(size > 0 ? size : 0), 0);
    p.result =
        p.image.empty() ? DecodeResult::BadFrame : p.stream->DecodeImage(p.field, p.image.data());
}

// Why the stream refused the sample, as far as the options tell: a sample it could not size
// does not fit the size and fields given; one it sized did not pass its own checks.
std::string BadFrameReason(const DecodeOptions& o, std::size_t length, bool unsized) {
    const std::string shape = std::to_string(o.size.width) + "x" + std::to_string(o.size.height) +
                              (o.fields > 1 ? " in " + std::to_string(o.fields) + " fields" : "");
    if (!unsized)
        return "bad frame: the sample's frame information does not match a " + shape +
               " frame (its stamp, status or layout)";
    const bool raw = o.subtype == kSubtypeF7M0 || o.subtype == kSubtypeF7M2 || o.subtype == kSubtypeY800;
    if (raw && o.size.height % o.fields != 0)
        return "bad frame: " + std::to_string(o.size.height) + " rows do not split into " +
               std::to_string(o.fields) + " fields";
    if (raw) {
        const std::uint64_t pixels = std::uint64_t(o.size.width) * std::uint64_t(o.size.height) * 2;
        const std::uint64_t least = pixels + (o.source == SourceKind::Usb ? 3840 : 2428);
        if (length < least)
            return "bad frame: the sample holds " + std::to_string(length) + " bytes; a " + shape +
                   " frame needs at least " + std::to_string(least) + " (its pixels and " +
                   (o.source == SourceKind::Usb ? "the radiometric region" : "its frame information") +
                   "; --size is the picture without the region's rows)";
    }
    return "bad frame: the sample does not hold a " + shape + " frame of that subtype and source";
}

}  // namespace

int RunDecodeCommand(int argc, char** argv) {
    return zrfgrab::ReportingErrors("decode", [&] {
        DecodeOptions o;
        if (const auto problem = Parse(argc, argv, o)) throw zrfgrab::UsageError(*problem);
        if (const auto problem = Vorn::Picture::OutputPathProblem(o.outPath); !problem.empty())
            throw zrfgrab::UsageError("cannot write '" + o.outPath + "': " + problem);
        std::error_code ec;
        if (std::filesystem::equivalent(o.samplePath, o.outPath, ec))
            throw zrfgrab::UsageError("OUT '" + o.outPath + "' is the SAMPLE itself; name another file");
        const std::vector<std::uint8_t> sample = zrfgrab::ReadInputFile(o.samplePath);

        ImgSrcStream stream;
        stream.SetFieldCount(1);
        stream.SetSourceKind(o.source);
        stream.SetImageSize(o.size);
        stream.SetSubtype(o.subtype);
        stream.SetFieldCount(o.fields);
        stream.SetFrameRate(o.rate);
        stream.SetHostTimeStamps(!o.cameraTime);
        PendingDecode pending;
        pending.stream = &stream;
        pending.field = o.field;
        g_pending = &pending;
        stream.SetNewImageCallback(&OnNewImage);
        stream.OnNewSample(sample.data(), static_cast<std::int32_t>(sample.size()), o.size);
        stream.SetNewImageCallback(nullptr);
        g_pending = nullptr;

        if (pending.result != DecodeResult::Ok) {
            std::fprintf(stderr, "zrfgrab decode: %s\n",
                         pending.result == DecodeResult::Calibrating ? "the camera is calibrating"
                                                                     : BadFrameReason(o, sample.size(), pending.image.empty()).c_str());
            return 1;
        }
        const auto written = Vorn::Picture::WriteWholeFile(o.outPath, pending.image);
        if (!written) throw System::IOException(written.Message());
        return 0;
    });
}
