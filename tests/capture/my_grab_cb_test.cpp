// The grabber's callback object and the sample path into the stream.
#include <gtest/gtest.h>

#include <vector>

#include "capture/my_grab_cb.h"
#include "imaging/media_subtypes.h"
#include "platform/dshow/media_sample.h"
#include "tests/capture/capture_fixture.h"
#include "tests/capture/recording_stream.h"

namespace CaptureTest {
namespace {

class MyGrabCBTest : public ::testing::Test {
  protected:
    void SetUp() override { graph_.AttachStream(&stream_); }

    ComPtr<zrf::dshow::MediaSample> Sample(LONG length) {
        auto sample = zrf::com::MakeCom<zrf::dshow::MediaSample>(buffer_.data(),
                                                                 static_cast<LONG>(buffer_.size()));
        sample->SetActualDataLength(length);
        return sample;
    }

    std::vector<BYTE> buffer_ = std::vector<BYTE>(64, 0x5A);
    RecordingStream stream_;
    CMtxGraph graph_;
    CMyGrabCB callback_{&graph_};
};

TEST_F(MyGrabCBTest, AnswersForItsOwnInterfacesWithoutCounting) {
    void* object = nullptr;
    EXPECT_EQ(S_OK, callback_.QueryInterface(IID_ISampleGrabberCB, &object));
    EXPECT_EQ(static_cast<ISampleGrabberCB*>(&callback_), object);
    object = nullptr;
    EXPECT_EQ(S_OK, callback_.QueryInterface(IID_IUnknown, &object));
    EXPECT_EQ(static_cast<ISampleGrabberCB*>(&callback_), object);
    void* untouched = &buffer_;
    EXPECT_EQ(E_NOINTERFACE, callback_.QueryInterface(IID_IMediaSample, &untouched));
    EXPECT_EQ(&buffer_, untouched);
}

TEST_F(MyGrabCBTest, ReferenceCountingIsAlwaysOne) {
    for (int i = 0; i < 5; ++i) EXPECT_EQ(1u, callback_.AddRef());
    for (int i = 0; i < 10; ++i) EXPECT_EQ(1u, callback_.Release());
    // Still alive: the graph owns it.
    void* object = nullptr;
    EXPECT_EQ(S_OK, callback_.QueryInterface(IID_IUnknown, &object));
}

TEST_F(MyGrabCBTest, BufferCallbackIsNotImplemented) {
    EXPECT_EQ(E_NOTIMPL, callback_.BufferCB(0.0, buffer_.data(), 64));
    EXPECT_EQ(0, stream_.samples);
}

TEST_F(MyGrabCBTest, SampleBufferReachesTheStreamUncopiedWithTheImageSize) {
    DevicePtr device = AddDevice(PlainDevice(L"\\\\?\\usb#cb", {{kSubtypeF7M0, 640, 483}}));
    ASSERT_EQ(S_OK, graph_.SelectDevice(L"\\\\?\\usb#cb", L"0", true));
    ASSERT_EQ(S_OK, graph_.SetMediaType(kSubtypeF7M0));
    auto sample = Sample(40);
    const ULONG references = ReferencesOf(sample.Get());
    EXPECT_EQ(S_OK, callback_.SampleCB(1.5, sample.Get()));
    EXPECT_EQ(1, stream_.samples);
    EXPECT_EQ(buffer_.data(), stream_.lastBuffer);
    EXPECT_EQ(40, stream_.lastLength);
    EXPECT_EQ((ImageSize{640, 480}), stream_.lastSize);
    EXPECT_EQ(references, ReferencesOf(sample.Get()));
}

TEST_F(MyGrabCBTest, EmptySampleIsStillForwarded) {
    EXPECT_EQ(S_OK, callback_.SampleCB(0.0, Sample(0).Get()));
    EXPECT_EQ(1, stream_.samples);
    EXPECT_EQ(0, stream_.lastLength);
}

TEST_F(MyGrabCBTest, ALengthBeyondTheBufferIsCutToIt) {
    auto sample = Sample(0);
    // The platform's own samples refuse this; a broken filter's need not.
    if (SUCCEEDED(sample->SetActualDataLength(1000))) {
        EXPECT_EQ(S_OK, callback_.SampleCB(0.0, sample.Get()));
        EXPECT_EQ(64, stream_.lastLength);
    }
}

TEST_F(MyGrabCBTest, SampleWithoutBufferIsDropped) {
    auto sample = Sample(10);
    sample->SetBufferUnavailable(true);
    EXPECT_EQ(S_OK, callback_.SampleCB(0.0, sample.Get()));
    EXPECT_EQ(0, stream_.samples);
}

TEST_F(MyGrabCBTest, WithoutAStreamSamplesAreDropped) {
    CMtxGraph bare;
    CMyGrabCB callback(&bare);
    EXPECT_EQ(S_OK, callback.SampleCB(0.0, Sample(10).Get()));
    EXPECT_EQ(0, stream_.samples);
}

}  // namespace
}  // namespace CaptureTest
