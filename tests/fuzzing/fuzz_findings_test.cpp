// The faults the fuzz targets found, checked directly: settings that ask for more pre-recording
// than fits, and counts beyond 32 bits. (Recordings whose time stamps sit at the ends of the
// 64-bit range are rows of the zrfgrab command tests.)
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "host/recorder/zrf_recorder.h"
#include "host/system/exceptions.h"
#include "host/xml/documents.h"

namespace {

using System::Xml::Linq::XElement;
using namespace Vorn::Zephra::Net::Devices::Recorder;
using Vorn::Zephra::Entities::XmlUtils::RecorderXml;

TEST(PreRecordingRing, HugeRequestsAreBoundedAndTheRingStillWorks) {
    for (const char* frames : {"2000000000", "2147483647"}) {
        ZRFRecorder recorder;
        recorder.SetImageSize(64);
        recorder.Setup(XElement::Parse(std::string("<Recorder IsPreRecordingEnabled=\"true\" "
                                                   "MaxNumberOfFramesInPreRecording=\"") +
                                       frames + "\"/>"));
        std::vector<std::uint8_t> image(64, 7);
        for (int i = 0; i < 20; ++i) recorder.AddImage(image, 0, i);
        EXPECT_EQ(recorder.PreRecordedImages(), 20u) << frames;
    }
}

TEST(RecorderSettings, CountsOutsideThe32BitRangeAreRejectedNotWrapped) {
    RecorderXml settings;
    settings.SetXMLData(XElement::Parse(
        "<Recorder MaxNumberOfFramesInPreRecording=\"4294967297\" ImageSize=\"-99999999999\"/>"));
    EXPECT_THROW(settings.MaxNumberOfFramesInPreRecording(), System::FormatException);
    EXPECT_THROW(settings.ImageSize(), System::FormatException);
    settings.SetXMLData(XElement::Parse(
        "<Recorder MaxNumberOfFramesInPreRecording=\"2147483647\" ImageSize=\"-2147483648\"/>"));
    EXPECT_EQ(settings.MaxNumberOfFramesInPreRecording(), 2147483647);
    EXPECT_EQ(settings.ImageSize(), -2147483647 - 1);
}

}  // namespace
