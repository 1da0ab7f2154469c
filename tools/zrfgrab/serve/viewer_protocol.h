#pragma once
// What travels between the live page (or a script) and the server besides the pictures: the
// pointer and box a viewer reads, the readouts for them, and the view a camera is coloured
// with. Everything a client sends is checked here; a message that is not exactly what is
// expected is refused whole.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "tools/zrfgrab/serve/frame_feed.h"
#include "tools/zrfgrab/serve/live_camera.h"
#include "tools/zrfgrab/serve/live_frame.h"
#include "tools/zrfgrab/serve/readout.h"

namespace zrfgrab::serve {

struct Spot {
    std::int64_t x = 0;
    std::int64_t y = 0;
};

// What one viewer reads.
struct Pointer {
    std::optional<Spot> spot;
    std::optional<Box> box;
};

// Coordinates beyond this are refused: no frame is that large.
inline constexpr std::int64_t kMaxCoordinate = 1'000'000;

// Applies {"spot": [x, y] | null, "box": [x0, y0, x1, y1] | null} (either member may be left
// out, nothing else may be there); false, and pointer unchanged, for anything else.
bool ApplyPointerMessage(std::string_view text, Pointer& pointer);

// Appends ,"spot":{...} and ,"box":{...} for what the pointer reads in the frame ("spot":null
// for a spot outside it, "box":null for a box outside it); nothing for what is not set.
// Reuses out's capacity.
void AppendReadout(std::string& out, const LiveFrame& frame, const Pointer& pointer);

// {"palette": NAME, "range": "auto"} or {"palette": NAME, "low": N, "high": M}, with either of
// palette and range left out to keep the current one. false with why for anything else.
bool ApplyViewRequest(std::string_view text, View& view, std::string& why);
std::string ViewJson(const View& view);

// A camera's status and view as the API gives them; index is its place in the API's paths.
std::string CameraJson(const CameraStatus& status, std::size_t index, const View& view);

// The built-in palettes: {"iron": ["#000000", ...256 colours], ...}.
std::string PalettesJson();

}  // namespace zrfgrab::serve
