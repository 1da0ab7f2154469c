// The grab's summary carries what the camera dropped beside what the plug-in lost, for one
// camera and for several, as text and as JSON.
#include <gtest/gtest.h>

#include "tools/zrfgrab/grab_report.h"

namespace {

using zrfgrab::CameraSummary;

CameraSummary Camera(const std::string& label, int lost, std::uint64_t dropped) {
    CameraSummary s;
    s.label = label;
    s.delivered = 1798;
    s.lost = lost;
    s.cameraDropped = dropped;
    s.fps = 29.97;
    return s;
}

TEST(GrabReport, WhatTheCameraDroppedIsToldApartFromWhatThePlugInLost) {
    struct Case {
        const char* name;
        std::vector<CameraSummary> cameras;
        const char* text;  // what the text holds (empty: no mention of dropped frames)
        const char* json;  // what the JSON holds
    };
    const Case cases[] = {
        {"one camera, none dropped", {Camera("usb-ir", 1, 0)}, "", "\"lost\": 1, \"calibrating\": 0, \"fps\": 29.97, \"camera_dropped\": 0, "},
        {"one camera, one dropped", {Camera("usb-ir", 0, 1)}, "\ncamera dropped    1 frame (it fell behind)\n", "\"camera_dropped\": 1, "},
        {"one camera, many dropped", {Camera("usb-ir", 0, 12345678901ull)}, "camera dropped    12345678901 frames", "\"camera_dropped\": 12345678901, "},
        {"several, the second dropped",
         {Camera("usb-ir", 0, 0), Camera("usb-ir#2", 2, 7)},
         "usb-ir#2  1798 frames (30.0 fps), 2 lost, 0 calibrations, 7 dropped by the camera\n",
         "\"camera\": \"usb-ir#2\", \"delivered\": 1798, \"lost\": 2, \"calibrating\": 0, \"fps\": 29.97, \"camera_dropped\": 7, "},
    };
    for (const Case& c : cases) {
        const std::string text = zrfgrab::SummaryText(c.cameras);
        const std::string json = zrfgrab::SummaryJson(c.cameras, "");
        if (*c.text != '\0') EXPECT_NE(text.find(c.text), std::string::npos) << c.name << "\n" << text;
        else EXPECT_EQ(text.find("dropped"), std::string::npos) << c.name << "\n" << text;
        EXPECT_NE(json.find(c.json), std::string::npos) << c.name << "\n" << json;
    }
}

}  // namespace
