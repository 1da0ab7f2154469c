#include "tools/zrfgrab/serve/viewer_protocol.h"

#include <cinttypes>
#include <cstdio>

#include <nlohmann/json.hpp>

namespace zrfgrab::serve {
namespace {

using nlohmann::json;

// An integer from `low` to `high`, compared as the number it is: one past 2^63 is held unsigned
// and must not wrap to a negative that passes.
bool IntegerIn(const json& value, std::int64_t low, std::int64_t high, std::int64_t& out) {
    if (value.is_number_unsigned()) {
        const auto v = value.get<std::uint64_t>();
        if (high < 0 || v > static_cast<std::uint64_t>(high) || static_cast<std::int64_t>(v) < low) return false;
        out = static_cast<std::int64_t>(v);
        return true;
    }
    if (!value.is_number_integer()) return false;
    const auto v = value.get<std::int64_t>();
    if (v < low || v > high) return false;
    out = v;
    return true;
}

bool Coordinate(const json& value, std::int64_t& out) {
    return IntegerIn(value, -kMaxCoordinate, kMaxCoordinate, out);
}

// An array of exactly n coordinates.
bool Coordinates(const json& value, std::size_t n, std::int64_t* out) {
    if (!value.is_array() || value.size() != n) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (!Coordinate(value[i], out[i])) return false;
    return true;
}

void AppendStats(std::string& out, const RegionStats& s) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "{\"pixels\":%" PRIu64 ",\"mean\":%.2f,\"coldest\":{\"x\":%d,\"y\":%d,\"count\":%u},"
                  "\"hottest\":{\"x\":%d,\"y\":%d,\"count\":%u}}",
                  s.pixels, s.mean, s.coldest.x, s.coldest.y, static_cast<unsigned>(s.coldest.count), s.hottest.x,
                  s.hottest.y, static_cast<unsigned>(s.hottest.count));
    out += text;
}

json ViewObject(const View& view) {
    json j{{"palette", std::string(view.palette->Name())}};
    if (view.fixedRange) {
        j["low"] = view.fixedRange->low;
        j["high"] = view.fixedRange->high;
    } else {
        j["range"] = "auto";
    }
    return j;
}

}  // namespace

bool ApplyPointerMessage(std::string_view text, Pointer& pointer) {
    const json message = json::parse(text, nullptr, false);
    if (message.is_discarded() || !message.is_object() || message.empty()) return false;
    Pointer next = pointer;
    for (const auto& [key, value] : message.items()) {
        if (key == "spot") {
            std::int64_t c[2];
            if (value.is_null()) next.spot.reset();
            else if (Coordinates(value, 2, c)) next.spot = Spot{c[0], c[1]};
            else return false;
        } else if (key == "box") {
            std::int64_t c[4];
            if (value.is_null()) next.box.reset();
            else if (Coordinates(value, 4, c)) next.box = Box{c[0], c[1], c[2], c[3]};
            else return false;
        } else {
            return false;
        }
    }
    pointer = next;
    return true;
}

void AppendReadout(std::string& out, const LiveFrame& frame, const Pointer& pointer) {
    const CountsView view = frame.View();
    if (pointer.spot) {
        char text[96];
        if (const auto p = CountAt(view, pointer.spot->x, pointer.spot->y))
            std::snprintf(text, sizeof text, ",\"spot\":{\"x\":%d,\"y\":%d,\"count\":%u}", p->x, p->y,
                          static_cast<unsigned>(p->count));
        else
            std::snprintf(text, sizeof text, ",\"spot\":null");
        out += text;
    }
    if (pointer.box) {
        out += ",\"box\":";
        if (const auto stats = BoxStats(view, *pointer.box)) AppendStats(out, *stats);
        else out += "null";
    }
}

bool ApplyViewRequest(std::string_view text, View& view, std::string& why) {
    const json request = json::parse(text, nullptr, false);
    if (request.is_discarded() || !request.is_object()) {
        why = "the body must be a JSON object";
        return false;
    }
    View next = view;
    bool haveLow = false, haveHigh = false, auto_ = false;
    std::int64_t low = 0, high = 0;
    for (const auto& [key, value] : request.items()) {
        if (key == "palette") {
            if (!value.is_string()) {
                why = "\"palette\" takes a palette's name";
                return false;
            }
            if (auto s = Vorn::Picture::Palette::Find(value.get<std::string>(), next.palette); !s) {
                why = s.Message();
                return false;
            }
        } else if (key == "range") {
            if (value != "auto") {
                why = "\"range\" takes \"auto\"; a fixed range is \"low\" and \"high\"";
                return false;
            }
            auto_ = true;
        } else if (key == "low" || key == "high") {
            std::int64_t& v = key == "low" ? low : high;
            if (!IntegerIn(value, 0, 65535, v)) {
                why = "\"" + key + "\" takes a count from 0 to 65535";
                return false;
            }
            (key == "low" ? haveLow : haveHigh) = true;
        } else {
            why = "unknown member \"" + key + "\" (palette, range, low, high)";
            return false;
        }
    }
    if (haveLow != haveHigh) {
        why = "a fixed range needs both \"low\" and \"high\"";
        return false;
    }
    if (haveLow && auto_) {
        why = "choose one of \"range\": \"auto\" and \"low\" with \"high\"";
        return false;
    }
    if (haveLow) {
        if (low >= high) {
            why = "\"low\" must be below \"high\"";
            return false;
        }
        next.fixedRange = Vorn::Picture::CountRange{static_cast<std::uint16_t>(low), static_cast<std::uint16_t>(high)};
    }
    if (auto_) next.fixedRange.reset();
    view = next;
    return true;
}

std::string ViewJson(const View& view) { return ViewObject(view).dump(); }

std::string CameraJson(const CameraStatus& s, std::size_t index, const View& view) {
    nlohmann::json j{{"index", index},
                     {"name", s.name},
                     {"model", s.model},
                     {"format", s.format},
                     {"can_correct", s.canCorrect},
                     {"state", s.state},
                     {"message", s.message},
                     {"delivered", s.delivered},
                     {"lost", s.lost},
                     {"camera_dropped", s.cameraDropped},
                     {"calibrating", s.calibrating},
                     {"calibrations", s.calibrations},
                     {"fps", s.fps},
                     {"width", s.width},
                     {"height", s.height},
                     {"recording", s.recording},
                     {"recording_file", s.recordingFile},
                     {"recording_frames", s.recordingFrames},
                     {"recording_dropped", s.recordingDropped},
                     {"recording_end", s.recordingEnd},
                     {"recording_closed_by_disappearance", s.recordingClosedByDisappearance}};
    j["view"] = ViewObject(view);
    // Names come from files and cameras: bytes that are not UTF-8 become U+FFFD, never a throw.
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string PalettesJson() {
    json all = json::object();
    for (const std::string_view name : Vorn::Picture::Palette::Names()) {
        const Vorn::Picture::Palette* palette = nullptr;
        if (!Vorn::Picture::Palette::Find(name, palette)) continue;
        json colours = json::array();
        for (int i = 0; i < Vorn::Picture::Palette::kSize; ++i) {
            const auto c = (*palette)[static_cast<std::uint8_t>(i)];
            char hex[8];
            std::snprintf(hex, sizeof hex, "#%02x%02x%02x", c.r, c.g, c.b);
            colours.push_back(hex);
        }
        all[std::string(name)] = std::move(colours);
    }
    return all.dump();
}

}  // namespace zrfgrab::serve
