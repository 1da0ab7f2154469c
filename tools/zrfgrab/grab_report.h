#pragma once
// What a grab prints when it is done: a summary per camera, as text or as JSON.
#include <string>
#include <vector>

#include "tools/zrfgrab/grab_session.h"

namespace zrfgrab {

// "617 KB", "18.5 MB", "1.2 GB".
std::string SizeText(double bytes);
// A JSON string of any bytes: control characters escaped, and bytes that are not UTF-8 (a
// file name may hold any) replaced by U+FFFD, so the document stays well-formed.
std::string JsonText(const std::string& s);

// One camera: the lines of a single-camera grab. Several: a line per camera, each named.
std::string SummaryText(const std::vector<CameraSummary>& cameras);
// One camera: its object; several: {"cameras": [its objects]}. `endedBy` is what ended the
// grab early ("" when nothing did).
std::string SummaryJson(const std::vector<CameraSummary>& cameras, const std::string& endedBy);

}  // namespace zrfgrab
