#include "sim/cameras/preset_changes.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "imaging/media_subtypes.h"
#include "sim/cameras/imperfection_text.h"

namespace zrf::sim {
namespace {

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    while (!text.empty()) {
        const auto at = text.find(separator);
        parts.push_back(text.substr(0, at));
        if (at == std::string_view::npos) break;
        text.remove_prefix(at + 1);
    }
    return parts;
}

template <class T>
bool Number(std::string_view text, T& value) {
    int base = 10;
    if (text.starts_with("0x")) {
        text.remove_prefix(2);
        base = 16;
    }
    std::uint64_t raw = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), raw, base);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty()) {
        std::int64_t signedRaw = 0;
        const auto [e2, ec2] = std::from_chars(text.data(), text.data() + text.size(), signedRaw);
        if (ec2 != std::errc() || e2 != text.data() + text.size() || text.empty()) return false;
        value = static_cast<T>(signedRaw);
        return true;
    }
    value = static_cast<T>(raw);
    return true;
}

bool Flag(std::string_view text, bool& value) {
    if (text != "0" && text != "1") return false;
    value = text == "1";
    return true;
}

bool Intervals(std::string_view text, std::vector<REFERENCE_TIME>& out) {
    out.clear();
    for (std::string_view part : Split(text, ',')) {
        REFERENCE_TIME interval = 0;
        if (!Number(part, interval) || interval <= 0) return false;
        out.push_back(interval);
    }
    return true;
}

bool Ranges(std::string_view text, std::vector<std::pair<double, double>>& out) {
    out.clear();
    for (std::string_view part : Split(text, ',')) {
        const auto colon = part.find(':');
        if (colon == std::string_view::npos) return false;
        double low = 0, high = 0;
        const std::string a(part.substr(0, colon)), b(part.substr(colon + 1));
        std::size_t used = 0;
        try {
            low = std::stod(a, &used);
            if (used != a.size()) return false;
            high = std::stod(b, &used);
            if (used != b.size()) return false;
        } catch (...) {
            return false;
        }
        out.emplace_back(low, high);
    }
    return true;
}

// "WxH": every format at that size (a compressed one keeps its room for the worst case, scaled).
bool FormatSize(std::string_view text, std::vector<VideoFormat>& formats) {
    const auto x = text.find('x');
    LONG width = 0, height = 0;
    if (x == std::string_view::npos || !Number(text.substr(0, x), width) ||
        !Number(text.substr(x + 1), height) || width < 2 || width > 8192 || height < 2 ||
        height > 8192 || formats.empty()) {
        return false;
    }
    for (VideoFormat& f : formats) {
        if (f.image_size != 0) {
            const double scale =
                static_cast<double>(width) * height / (static_cast<double>(f.width) * f.height);
            f.image_size = static_cast<DWORD>(f.image_size * scale) + 4096;
        }
        f.width = width;
        f.height = height;
    }
    return true;
}

using Change = std::function<bool(std::string_view, CameraPreset&)>;

TreeSettings& Tree(CameraPreset& p) {
    if (!p.tree) p.tree.emplace();
    return *p.tree;
}

const std::map<std::string_view, Change>& Changes() {
    static const std::map<std::string_view, Change> changes = {
        {"rates",
         [](auto v, auto& p) { return Intervals(v, p.video.video_control_frame_intervals); }},
        {"format-rates",
         [](auto v, auto& p) {
             std::vector<REFERENCE_TIME> intervals;
             if (!Intervals(v, intervals) || intervals.empty()) return false;
             for (auto& format : p.video.formats) format.frame_intervals = intervals;
             return true;
         }},
        {"format-size", [](auto v, auto& p) { return FormatSize(v, p.video.formats); }},
        {"without-formats",
         [](auto v, auto& p) {
             for (std::string_view code : Split(v, ',')) {
                 GUID subtype{};
                 if (code.size() != 4 || !SubtypeFromFourCc(std::string(code).c_str(), subtype))
                     return false;
                 std::erase_if(p.video.formats,
                               [&](const VideoFormat& f) { return f.subtype == subtype; });
             }
             return true;
         }},
        {"password",
         [](auto v, auto& p) {
             Tree(p).password = std::string(v);
             return true;
         }},
        {"tula", [](auto v, auto& p) { return Flag(v, Tree(p).tula); }},
        {"focus-type", [](auto v, auto& p) { return Number(v, Tree(p).focusType); }},
        {"focus-supported", [](auto v, auto& p) { return Flag(v, Tree(p).focusSupported); }},
        {"focus-queries-fail", [](auto v, auto& p) { return Flag(v, Tree(p).focusQueriesFail); }},
        {"ranges", [](auto v, auto& p) { return Ranges(v, Tree(p).ranges); }},
        {"truncate-samples",
         [](auto v, auto& p) { return Number(v, p.video.should_truncate_samples_to); }},
        {"withhold-buffers",
         [](auto v, auto& p) { return Flag(v, p.video.should_withhold_sample_buffers); }},
        {"disappear-after",
         [](auto v, auto& p) { return Number(v, p.video.should_disappear_after_frames); }},
        {"return-after-disappearing",
         [](auto v, auto& p) { return Flag(v, p.video.should_return_after_disappearing); }},
        {"drift", [](auto v, auto& p) { return ReadClockPpm(v, p.video.imperfections.clock_ppm); }},
        {"jitter",
         [](auto v, auto& p) { return ReadJitterMs(v, p.video.imperfections.jitter_ms); }},
        {"stall",
         [](auto v, auto& p) {
             return ReadStall(v, p.video.imperfections.stall_ms,
                              p.video.imperfections.stall_every_ms);
         }},
        {"glitch",
         [](auto v, auto& p) { return ReadGlitchEvery(v, p.video.imperfections.glitch_every); }},
        {"fail-run", [](auto v, auto& p) { return Number(v, p.video.should_fail_run_with); }},
        {"no-device-path",
         [](auto v, auto& p) { return Flag(v, p.video.should_omit_device_path); }},
    };
    return changes;
}

}  // namespace

bool ApplyPresetChanges(std::string_view changes, CameraPreset& preset, std::string& why) {
    CameraPreset changed = preset;
    for (std::string_view item : Split(changes, ';')) {
        if (item.empty()) continue;
        const auto eq = item.find('=');
        const std::string_view key = item.substr(0, eq);
        const std::string_view value =
            eq == std::string_view::npos ? std::string_view() : item.substr(eq + 1);
        const auto change = Changes().find(key);
        if (eq == std::string_view::npos || change == Changes().end() ||
            !change->second(value, changed)) {
            why = "cannot apply '" + std::string(item) + "' to the camera";
            return false;
        }
    }
    preset = std::move(changed);
    return true;
}

}  // namespace zrf::sim
