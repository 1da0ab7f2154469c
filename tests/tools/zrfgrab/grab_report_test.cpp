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
        const char* text;  // what the text holds
        const char* json;  // what the JSON holds
    };
    const Case cases[] = {
        {"one camera, none dropped",
         {Camera("usb-ir", 1, 0)},
         "\nframes lost       1\ncalibrations      0\n",
         "\"lost\": 1, \"calibrating\": 0, \"fps\": 29.97, \"camera_dropped\": 0, "},
        {"one camera, one dropped",
         {Camera("usb-ir", 0, 1)},
         "\nframes lost       1 (1 dropped by the camera)\ncalibrations",
         "\"lost\": 0, \"calibrating\": 0, \"fps\": 29.97, \"camera_dropped\": 1, "},
        {"one camera, past 32 bits",
         {Camera("usb-ir", 3, 12345678901ull)},
         "frames lost       12345678904 (12345678901 dropped by the camera)\n",
         "\"camera_dropped\": 12345678901, "},
        {"several, the second dropped",
         {Camera("usb-ir", 0, 0), Camera("usb-ir#2", 2, 7)},
         "usb-ir    1798 frames (30.0 fps), 0 lost, 0 calibrations\nusb-ir#2  1798 frames (30.0 "
         "fps), 9 lost (7 dropped by the camera), 0 calibrations\n",
         "\"camera\": \"usb-ir#2\", \"delivered\": 1798, \"lost\": 2, \"calibrating\": 0, \"fps\": "
         "29.97, \"camera_dropped\": 7, "},
    };
    for (const Case& c : cases) {
        const std::string text = zrfgrab::SummaryText(c.cameras);
        const std::string json = zrfgrab::SummaryJson(c.cameras, "");
        EXPECT_NE(text.find(c.text), std::string::npos) << c.name << "\n" << text;
        if (c.cameras.size() == 1 && c.cameras[0].cameraDropped == 0) {
            EXPECT_EQ(text.find("dropped"), std::string::npos) << c.name << "\n" << text;
        }
        EXPECT_NE(json.find(c.json), std::string::npos) << c.name << "\n" << json;
    }
}

}  // namespace
