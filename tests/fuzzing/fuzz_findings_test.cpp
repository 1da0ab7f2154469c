// The faults the fuzz targets found, checked directly: settings that ask for more pre-recording
// than fits, counts beyond 32 bits, and recordings whose time stamps sit at the ends of the
// 64-bit range.
#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "host/recorder/recording_file.h"
#include "host/recorder/zrf_recorder.h"
#include "host/system/exceptions.h"
#include "host/xml/documents.h"
#include "tools/zrfgrab/commands.h"

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

// The recording summary reads every frame, whatever its time stamp (UBSan checks the
// arithmetic in the sanitizer builds).
TEST(RecordingSummary, TimeStampsAtTheEndsOfTheRangeAreSummarised) {
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("fuzz_findings_" + std::to_string(::getpid()) + ".zrec"))
                                 .string();
    {
        RecordingWriter writer(path, 0, 4);
        const std::uint8_t image[4] = {1, 2, 3, 4};
        ASSERT_TRUE(writer.Append(1, INT64_MIN, image, 4));
        ASSERT_TRUE(writer.Append(2, INT64_MAX, image, 4));
        ASSERT_TRUE(writer.Append(3, -9090775195119604694, image, 4));
    }
    EXPECT_EQ(RunRecordingInfo(path.c_str()), 0);  // every checksum good
    std::filesystem::remove(path);
}

}  // namespace
