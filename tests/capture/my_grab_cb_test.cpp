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

// The graph owns the callback: it answers for its interfaces without counting.
TEST_F(MyGrabCBTest, AnswersItsInterfacesAndCountsNothing) {
    for (REFIID iid : {IID_ISampleGrabberCB, IID_IUnknown}) {
        void* object = nullptr;
        EXPECT_EQ(S_OK, callback_.QueryInterface(iid, &object));
        EXPECT_EQ(static_cast<ISampleGrabberCB*>(&callback_), object);
    }
    void* untouched = &buffer_;
    EXPECT_EQ(E_NOINTERFACE, callback_.QueryInterface(IID_IMediaSample, &untouched));
    EXPECT_EQ(&buffer_, untouched);
    EXPECT_EQ(1u, callback_.AddRef());
    EXPECT_EQ(1u, callback_.Release());
    EXPECT_EQ(1u, callback_.Release());
    EXPECT_EQ(E_NOTIMPL, callback_.BufferCB(0.0, buffer_.data(), 64));
    EXPECT_EQ(0, stream_.samples);
}

// The sample's own buffer goes on, uncopied and unreferenced, with the image size; its
// length is cut to the buffer.
TEST_F(MyGrabCBTest, SampleBufferReachesTheStreamWithTheImageSize) {
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
    EXPECT_EQ(S_OK, callback_.SampleCB(0.0, Sample(0).Get()));  // empty, still forwarded
    EXPECT_EQ(0, stream_.lastLength);
    // The platform's own samples refuse a longer length; a broken filter's need not.
    if (SUCCEEDED(sample->SetActualDataLength(1000))) {
        EXPECT_EQ(S_OK, callback_.SampleCB(0.0, sample.Get()));
        EXPECT_EQ(64, stream_.lastLength);
    }
}

TEST_F(MyGrabCBTest, SamplesWithoutABufferOrAStreamAreDropped) {
    auto sample = Sample(10);
    sample->SetBufferUnavailable(true);
    EXPECT_EQ(S_OK, callback_.SampleCB(0.0, sample.Get()));
    CMtxGraph bare;
    CMyGrabCB callback(&bare);
    EXPECT_EQ(S_OK, callback.SampleCB(0.0, Sample(10).Get()));
    EXPECT_EQ(0, stream_.samples);
}

}  // namespace
}  // namespace CaptureTest
