// Format slots, the current type and the image size the stream is told.
#include <gtest/gtest.h>

#include "imaging/media_subtypes.h"
#include "platform/com/task_allocator.h"
#include "tests/capture/capture_fixture.h"
#include "tests/capture/lying_camera.h"
#include "tests/capture/recording_stream.h"

namespace CaptureTest {
namespace {

using zrf::sim::VideoFormat;

const std::wstring kPath = L"\\\\?\\usb#vid_bbbb&pid_0002#formats";

VideoFormat Format(const GUID& subtype, LONG width, LONG height) {
    return {subtype, width, height, 16, 0, {333333}};
}

VideoFormat WithFormatType(VideoFormat format, const GUID& type, ULONG size) {
    format.format_type = type;
    format.format_size = size;
    return format;
}

class MediaFormatTest : public ::testing::Test {
  protected:
    HRESULT Select(std::vector<VideoFormat> formats, bool radiometricUsb = false) {
        device_ = AddDevice(PlainDevice(kPath, std::move(formats)));
        graph_.AttachStream(&stream_);
        return graph_.SelectDevice(kPath, L"0", radiometricUsb);
    }

    DevicePtr device_;
    RecordingStream stream_;
    CMtxGraph graph_;
};

TEST_F(MediaFormatTest, F7M0TakesOnlyAVideoInfoType) {
    const GUID other = FORMAT_None;
    for (bool videoInfoFirst : {false, true}) {
        CMtxGraph graph;
        auto plain = Format(kSubtypeF7M0, 640, 483);
        auto foreign = WithFormatType(Format(kSubtypeF7M0, 320, 243), other, 88);
        device_ = AddDevice(PlainDevice(
            kPath, videoInfoFirst ? std::vector{plain, foreign} : std::vector{foreign, plain}));
        ASSERT_EQ(S_OK, graph.SelectDevice(kPath, L"0", false));
        ASSERT_EQ(S_OK, graph.SetMediaType(kSubtypeF7M0));
        EXPECT_EQ((ImageSize{640, 483}), graph.GetImageSize());
        device_.reset();
    }
}

TEST_F(MediaFormatTest, VisualTypesWithShortFormatBlocksAreNotTaken) {
    ASSERT_EQ(S_OK, Select({WithFormatType(Format(kSubtypeYUY2, 640, 480), FORMAT_VideoInfo, 87),
                            Format(kSubtypeI420, 640, 480)}));
    EXPECT_FALSE(graph_.IsMediaTypeAvailable(kSubtypeYUY2));
    EXPECT_EQ(E_FAIL, graph_.SetMediaType(kSubtypeYUY2));
    EXPECT_TRUE(graph_.IsMediaTypeAvailable(kSubtypeI420));
}

TEST_F(MediaFormatTest, FirstCompressedTypeWinsAndLastF7M2Wins) {
    ASSERT_EQ(S_OK, Select({Format(kSubtypeMJLS, 320, 240), Format(kSubtypeMJLS, 640, 480),
                            Format(kSubtypeF7M2, 320, 240), Format(kSubtypeF7M2, 640, 480),
                            Format(kSubtypeMJPG, 160, 120), Format(kSubtypeMJPG, 640, 480)}));
    ASSERT_EQ(S_OK, graph_.SetMediaType(kSubtypeMJLS));
    EXPECT_EQ((ImageSize{320, 240}), graph_.GetImageSize());
    ASSERT_EQ(S_OK, graph_.SetMediaType(kSubtypeF7M2));
    EXPECT_EQ((ImageSize{640, 480}), graph_.GetImageSize());
    ASSERT_EQ(S_OK, graph_.SetMediaType(kSubtypeMJPG));
    EXPECT_EQ((ImageSize{160, 120}), graph_.GetImageSize());
}

TEST_F(MediaFormatTest, UnknownSubtypeSelectsTheF7M0Slot) {
    ASSERT_EQ(S_OK, Select({Format(kSubtypeF7M0, 640, 483), Format(kSubtypeYUY2, 320, 240)}));
    EXPECT_FALSE(graph_.IsMediaTypeAvailable(MEDIASUBTYPE_RGB24));
    ASSERT_EQ(S_OK, graph_.SetMediaType(MEDIASUBTYPE_RGB24));
    EXPECT_EQ((ImageSize{640, 483}), graph_.GetImageSize());
    EXPECT_EQ(kSubtypeF7M0, stream_.subtype);
}

TEST_F(MediaFormatTest, EmptySlotFails) {
    ASSERT_EQ(S_OK, Select({Format(kSubtypeYUY2, 640, 480)}));
    EXPECT_FALSE(graph_.IsMediaTypeAvailable(kSubtypeF7M0));
    EXPECT_EQ(E_FAIL, graph_.SetMediaType(kSubtypeF7M0));
}

TEST_F(MediaFormatTest, RadiometricUsbDropsTheHeaderRowsOfRawFramesOnly) {
    ASSERT_EQ(S_OK, Select({Format(kSubtypeF7M0, 640, 483), Format(kSubtypeMJLS, 640, 483),
                            Format(kSubtypeY800, 320, 246), Format(kSubtypeYUY2, 640, 480)},
                           true));
    ASSERT_EQ(S_OK, graph_.SetMediaType(kSubtypeF7M0));
    EXPECT_EQ((ImageSize{640, 480}), graph_.GetImageSize());
    EXPECT_EQ((ImageSize{640, 480}), stream_.imageSize);
    EXPECT_EQ(kSubtypeF7M0, stream_.subtype);
    ASSERT_EQ(S_OK, graph_.SetMediaType(kSubtypeMJLS));
    EXPECT_EQ((ImageSize{640, 483}), stream_.imageSize);
    EXPECT_EQ(kSubtypeMJLS, stream_.subtype);
    ASSERT_EQ(S_OK, graph_.SetMediaType(kSubtypeY800));
    EXPECT_EQ((ImageSize{320, 240}), graph_.GetImageSize());
    ASSERT_EQ(S_OK, graph_.SetMediaType(kSubtypeYUY2));
    EXPECT_EQ((ImageSize{640, 480}), graph_.GetImageSize());
}

TEST_F(MediaFormatTest, OutsideRadiometricUsbNoRowsAreRemoved) {
    ASSERT_EQ(S_OK, Select({Format(kSubtypeF7M0, 640, 483)}, false));
    ASSERT_EQ(S_OK, graph_.SetMediaType(kSubtypeF7M0));
    EXPECT_EQ((ImageSize{640, 483}), stream_.imageSize);
}

TEST_F(MediaFormatTest, WidthsOfZeroOrLessAreRefusedWithoutDividing) {
    LyingCameraSettings settings;
    settings.offered.push_back(OfferedType(kSubtypeF7M0, 0, 483));
    settings.offered.push_back(OfferedType(kSubtypeF7M2, -640, 483));
    LyingCamera camera(std::move(settings));
    graph_.AttachStream(&stream_);
    ASSERT_EQ(S_OK, graph_.SelectDevice(camera.Path(), L"0", true));
    EXPECT_EQ(E_FAIL, graph_.SetMediaType(kSubtypeF7M0));
    EXPECT_EQ(E_FAIL, graph_.SetMediaType(kSubtypeF7M2));
    EXPECT_EQ(-1, stream_.imageSize.width);  // the stream was told nothing
}

TEST_F(MediaFormatTest, FormatBlocksShorterThanAHeaderAreNeverRead) {
    LyingCameraSettings settings;
    // Taken by the slot rules (they ask nothing of the block) but unusable.
    settings.offered.push_back(OfferedType(kSubtypeF7M2, 640, 480, 333333, FORMAT_VideoInfo, 8));
    settings.offered.push_back(OfferedType(kSubtypeMJLS, 640, 480, 333333, FORMAT_VideoInfo, 0));
    LyingCamera camera(std::move(settings));
    ASSERT_EQ(S_OK, graph_.SelectDevice(camera.Path(), L"0", false));
    EXPECT_FALSE(graph_.IsMediaTypeAvailable(kSubtypeF7M2));
    EXPECT_EQ(E_FAIL, graph_.SetMediaType(kSubtypeF7M2));
    EXPECT_EQ(E_FAIL, graph_.SetMediaType(kSubtypeMJLS));
}

TEST_F(MediaFormatTest, TypesNoSlotTakesAndReplacedSlotsLeakNothing) {
    const long before = zrf::com::TaskAllocatorLiveCount();
    {
        CMtxGraph graph;
        device_ = AddDevice(PlainDevice(
            kPath, {Format(kSubtypeF7M2, 320, 240), Format(kSubtypeF7M2, 640, 480),
                    Format(kSubtypeMJLS, 320, 240), Format(kSubtypeMJLS, 640, 480),
                    WithFormatType(Format(kSubtypeYUY2, 640, 480), FORMAT_VideoInfo, 40),
                    Format(MEDIASUBTYPE_RGB24, 640, 480)}));
        ASSERT_EQ(S_OK, graph.SelectDevice(kPath, L"0", false));
        ASSERT_EQ(S_OK, graph.SelectDevice(kPath, L"0", false));  // refills the slots
        ASSERT_EQ(S_OK, graph.SetMediaType(kSubtypeF7M2));
        device_.reset();
    }
    EXPECT_EQ(before, zrf::com::TaskAllocatorLiveCount());
}

TEST_F(MediaFormatTest, DefaultChoiceWithASingleOfferedType) {
    ASSERT_EQ(S_OK, Select({Format(kSubtypeYUY2, 640, 480)}));
    EXPECT_EQ(S_OK, graph_.SelectDefaultMediaType(false));
    EXPECT_EQ(E_FAIL, graph_.SelectDefaultMediaType(true));
}

TEST_F(MediaFormatTest, DefaultChoiceFindsTheWantedSubtype) {
    const long before = zrf::com::TaskAllocatorLiveCount();
    {
        CMtxGraph graph;
        device_ = AddDevice(
            PlainDevice(kPath, {Format(kSubtypeYUY2, 640, 480), Format(kSubtypeF7M0, 640, 483),
                                Format(kSubtypeMJLS, 640, 480)}));
        ASSERT_EQ(S_OK, graph.SelectDevice(kPath, L"0", false));
        EXPECT_EQ(S_OK, graph.SelectDefaultMediaType(false));
        EXPECT_EQ(E_FAIL, graph.SelectDefaultMediaType(true));
        EXPECT_TRUE(graph.IsMediaTypeAvailable(kSubtypeMJLS));
        // The type left current is the one the grabber gets.
        EXPECT_EQ(S_OK, graph.BuildCaptureGraph(false));
        device_.reset();
    }
    EXPECT_EQ(before, zrf::com::TaskAllocatorLiveCount());
}

}  // namespace
}  // namespace CaptureTest
