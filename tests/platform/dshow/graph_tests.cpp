#include <gtest/gtest.h>

#include "platform/dshow/property_frame.h"
#include "platform/dshow/renderers.h"
#include "platform/dshow/transform_filters.h"
#include "sim/video/video_presets.h"
#include "tests/platform/dshow/graph_fixture.h"

namespace {

using namespace zrf::testing;
using zrf::sim::SimulatedVideoDevice;

class FilterGraphTest : public ::testing::Test {
  protected:
    std::shared_ptr<SimulatedVideoDevice> webcam_ =
        SimulatedVideoDevice::Create(zrf::sim::WebcamPreset());
    ComPtr<IGraphBuilder> graph_ =
        CreateObject<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    ComPtr<IBaseFilter> source_ = BindDevice(*webcam_);
    ComPtr<IBaseFilter> grabber_ = CreateObject<IBaseFilter>(CLSID_SampleGrabber, IID_IBaseFilter);

    void AddBoth() {
        ASSERT_EQ(S_OK, graph_->AddFilter(source_.Get(), L"source"));
        ASSERT_EQ(S_OK, graph_->AddFilter(grabber_.Get(), L"Grabber"));
    }
    ComPtr<IPin> Capture() { return PinOf(source_.Get(), PINDIR_OUTPUT); }
    ComPtr<IPin> GrabberIn() { return PinOf(grabber_.Get(), PINDIR_INPUT); }
    ComPtr<IPin> GrabberOut() { return PinOf(grabber_.Get(), PINDIR_OUTPUT); }
};

TEST_F(FilterGraphTest, ConnectDirectUsesTheGivenType) {
    AddBoth();
    MediaType mjpg = OfferedType(Capture().Get(), zrf::sim::kSubtypeMJPG);
    ASSERT_EQ(S_OK, graph_->ConnectDirect(Capture().Get(), GrabberIn().Get(), &mjpg.Get()));
    AM_MEDIA_TYPE connected{};
    ASSERT_EQ(S_OK, GrabberIn()->ConnectionMediaType(&connected));
    EXPECT_EQ(zrf::sim::kSubtypeMJPG, connected.subtype);
    FreeMediaType(connected);
    ComPtr<IPin> peer;
    ASSERT_EQ(S_OK, GrabberIn()->ConnectedTo(peer.Receive()));
    EXPECT_EQ(Capture().Get(), peer.Get());
    EXPECT_EQ(VFW_E_ALREADY_CONNECTED,
              graph_->ConnectDirect(Capture().Get(), GrabberIn().Get(), &mjpg.Get()));
}

TEST_F(FilterGraphTest, TheGrabberRefusesTypesOtherThanItsOwn) {
    AddBoth();
    auto grabber = ComPtr<ISampleGrabber>();
    ASSERT_EQ(S_OK, grabber_.As(IID_ISampleGrabber, grabber));
    MediaType yuy2 = OfferedType(Capture().Get(), zrf::sim::kSubtypeYUY2);
    MediaType mjpg = OfferedType(Capture().Get(), zrf::sim::kSubtypeMJPG);
    ASSERT_EQ(S_OK, grabber->SetMediaType(&yuy2.Get()));
    EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED,
              graph_->ConnectDirect(Capture().Get(), GrabberIn().Get(), &mjpg.Get()));
    EXPECT_FALSE(dynamic_cast<zrf::dshow::PinBase*>(GrabberIn().Get())->IsConnected());
    EXPECT_EQ(S_OK, graph_->ConnectDirect(Capture().Get(), GrabberIn().Get(), &yuy2.Get()));
}

TEST_F(FilterGraphTest, ASourceRefusesATypeItDoesNotOffer) {
    AddBoth();
    MediaType yuy2 = OfferedType(Capture().Get(), zrf::sim::kSubtypeYUY2);
    yuy2.VideoInfo()->bmiHeader.biWidth = 1920;
    EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED,
              graph_->ConnectDirect(Capture().Get(), GrabberIn().Get(), &yuy2.Get()));
}

TEST_F(FilterGraphTest, PinsMustBeInTheGraphAndFacingTheRightWay) {
    ASSERT_EQ(S_OK, graph_->AddFilter(source_.Get(), L"source"));
    EXPECT_EQ(VFW_E_NOT_IN_GRAPH,
              graph_->ConnectDirect(Capture().Get(), GrabberIn().Get(), nullptr));
    ASSERT_EQ(S_OK, graph_->AddFilter(grabber_.Get(), L"Grabber"));
    EXPECT_EQ(VFW_E_INVALID_DIRECTION,
              graph_->ConnectDirect(GrabberIn().Get(), Capture().Get(), nullptr));
    EXPECT_EQ(E_POINTER, graph_->ConnectDirect(nullptr, GrabberIn().Get(), nullptr));
}

TEST_F(FilterGraphTest, ConnectWithoutATypeTakesTheFirstAcceptableOne) {
    AddBoth();
    ASSERT_EQ(S_OK, graph_->Connect(Capture().Get(), GrabberIn().Get()));
    AM_MEDIA_TYPE connected{};
    ASSERT_EQ(S_OK, GrabberIn()->ConnectionMediaType(&connected));
    EXPECT_EQ(zrf::sim::kSubtypeYUY2, connected.subtype);  // the first offered
    FreeMediaType(connected);
}

TEST_F(FilterGraphTest, IntelligentConnectInsertsNothing) {
    AddBoth();
    auto renderer = CreateObject<IBaseFilter>(CLSID_VideoRenderer, IID_IBaseFilter);
    ASSERT_EQ(S_OK, graph_->AddFilter(renderer.Get(), L"Renderer"));
    MediaType mjpg = OfferedType(Capture().Get(), zrf::sim::kSubtypeMJPG);
    ASSERT_EQ(S_OK, graph_->ConnectDirect(Capture().Get(), GrabberIn().Get(), &mjpg.Get()));
    // A renderer cannot show compressed pictures and no decoder is put in between.
    EXPECT_EQ(VFW_E_CANNOT_CONNECT,
              graph_->Connect(GrabberOut().Get(), PinOf(renderer.Get(), PINDIR_INPUT).Get()));
}

TEST_F(FilterGraphTest, TheGrabberOutputCarriesTheInputType) {
    AddBoth();
    auto renderer = CreateObject<IBaseFilter>(CLSID_VideoRenderer, IID_IBaseFilter);
    ASSERT_EQ(S_OK, graph_->AddFilter(renderer.Get(), L"Renderer"));
    EXPECT_EQ(VFW_E_NO_ACCEPTABLE_TYPES,
              graph_->ConnectDirect(GrabberOut().Get(), PinOf(renderer.Get(), PINDIR_INPUT).Get(),
                                    nullptr));
    MediaType yuy2 = OfferedType(Capture().Get(), zrf::sim::kSubtypeYUY2);
    ASSERT_EQ(S_OK, graph_->ConnectDirect(Capture().Get(), GrabberIn().Get(), &yuy2.Get()));
    EXPECT_EQ(S_OK, graph_->Connect(GrabberOut().Get(), PinOf(renderer.Get(), PINDIR_INPUT).Get()));
}

TEST_F(FilterGraphTest, DuplicateNamesAreChangedAndFound) {
    auto first = CreateObject<IBaseFilter>(CLSID_NullRenderer, IID_IBaseFilter);
    auto second = CreateObject<IBaseFilter>(CLSID_NullRenderer, IID_IBaseFilter);
    EXPECT_EQ(S_OK, graph_->AddFilter(first.Get(), L"NULLRenderer"));
    EXPECT_EQ(VFW_S_DUPLICATE_NAME, graph_->AddFilter(second.Get(), L"NULLRenderer"));
    EXPECT_EQ(E_INVALIDARG, graph_->AddFilter(first.Get(), L"again"));
    ComPtr<IBaseFilter> found;
    ASSERT_EQ(S_OK, graph_->FindFilterByName(L"NULLRenderer", found.Receive()));
    EXPECT_EQ(first.Get(), found.Get());
    FILTER_INFO info{};
    ASSERT_EQ(S_OK, second->QueryFilterInfo(&info));
    EXPECT_NE(std::wstring(L"NULLRenderer"), info.achName);
    EXPECT_TRUE(info.pGraph != nullptr);
    info.pGraph->Release();
}

TEST_F(FilterGraphTest, RemovingAFilterDisconnectsItsPeers) {
    AddBoth();
    ASSERT_EQ(S_OK, graph_->Connect(Capture().Get(), GrabberIn().Get()));
    ASSERT_EQ(S_OK, graph_->RemoveFilter(grabber_.Get()));
    ComPtr<IPin> peer;
    EXPECT_EQ(VFW_E_NOT_CONNECTED, Capture()->ConnectedTo(peer.Receive()));
    EXPECT_EQ(VFW_E_NOT_FOUND, graph_->RemoveFilter(grabber_.Get()));
    FILTER_INFO info{};
    ASSERT_EQ(S_OK, grabber_->QueryFilterInfo(&info));
    EXPECT_EQ(nullptr, info.pGraph);
}

TEST_F(FilterGraphTest, ReleasingTheGraphReleasesConnectedFilters) {
    long before = zrf::com::TaskAllocatorLiveCount();
    AddBoth();
    ASSERT_EQ(S_OK, graph_->Connect(Capture().Get(), GrabberIn().Get()));
    graph_.Reset();
    // Only our own reference is left: AddRef then Release shows the count.
    grabber_->AddRef();
    EXPECT_EQ(1u, grabber_->Release());
    source_->AddRef();
    EXPECT_EQ(1u, source_->Release());
    EXPECT_EQ(before, zrf::com::TaskAllocatorLiveCount());
}

TEST_F(FilterGraphTest, TheAviDecompressorTakesCompressedPictures) {
    AddBoth();
    auto decompressor = CreateObject<IBaseFilter>(CLSID_AVIDec, IID_IBaseFilter);
    ASSERT_EQ(S_OK, graph_->AddFilter(decompressor.Get(), L"AVI Decompressor"));
    MediaType mjpg = OfferedType(Capture().Get(), zrf::sim::kSubtypeMJPG);
    ASSERT_EQ(S_OK,
              graph_->ConnectDirect(Capture().Get(), PinOf(decompressor.Get(), PINDIR_INPUT).Get(),
                                    &mjpg.Get()));
    auto offered = OfferedTypes(PinOf(decompressor.Get(), PINDIR_OUTPUT).Get());
    ASSERT_EQ(1u, offered.size());
    EXPECT_EQ(MEDIASUBTYPE_RGB24, offered[0]->subtype);
    EXPECT_EQ(640, offered[0].VideoInfo()->bmiHeader.biWidth);
}

TEST_F(FilterGraphTest, TheDvDecoderTakesOnlyDvPictures) {
    AddBoth();
    auto decoder = CreateObject<IBaseFilter>(CLSID_DVVidDec, IID_IBaseFilter);
    ASSERT_EQ(S_OK, graph_->AddFilter(decoder.Get(), L"DV Codec"));
    EXPECT_EQ(VFW_E_CANNOT_CONNECT,
              graph_->Connect(Capture().Get(), PinOf(decoder.Get(), PINDIR_INPUT).Get()));
}

TEST_F(FilterGraphTest, APassThroughFilterShowsItsPropertyPages) {
    const CLSID clsid = {
        0x5C5B942D, 0x480C, 0x4BEA, {0xA7, 0x67, 0x80, 0xA6, 0xA2, 0xDA, 0x8E, 0x5E}};
    zrf::com::ScopedClassOverride installed(clsid, zrf::dshow::PassThroughFilterFactory(clsid));
    auto filter = CreateObject<IBaseFilter>(clsid, IID_IBaseFilter);
    ComPtr<ISpecifyPropertyPages> pages;
    ASSERT_EQ(S_OK, filter.As(IID_ISpecifyPropertyPages, pages));
    CAUUID list{};
    ASSERT_EQ(S_OK, pages->GetPages(&list));
    ASSERT_EQ(1u, list.cElems);
    IUnknown* object = filter.Get();
    long shown = zrf::dshow::PropertyFramesShown();
    EXPECT_EQ(S_OK, OleCreatePropertyFrame(nullptr, 0, 0, L"IROut", 1, &object, list.cElems,
                                           list.pElems, 0, 0, nullptr));
    CoTaskMemFree(list.pElems);
    EXPECT_EQ(shown + 1, zrf::dshow::PropertyFramesShown());
    EXPECT_EQ(L"IROut", zrf::dshow::LastPropertyFrame().caption);
}

TEST(Decoders, DoNotOfferPropertyPages) {
    auto decoder = CreateObject<IBaseFilter>(CLSID_AVIDec, IID_IBaseFilter);
    ComPtr<ISpecifyPropertyPages> pages;
    EXPECT_EQ(E_NOINTERFACE, decoder.As(IID_ISpecifyPropertyPages, pages));
}

}  // namespace
