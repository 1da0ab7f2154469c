// Enumerators and the capture graph builder's lookups, as the platform answers them: pin
// enumerators that notice a change of pins, media-type enumerators that show the types as they
// are now, and searches in the platform's order with a pin's category asked of the pin.
#include <gtest/gtest.h>

#include "platform/dshow/dshow.h"
#include "tests/platform/dshow/probe_filters.h"

namespace PlatformTest {
namespace {

using zrf::com::ComPtr;
using zrf::com::MakeCom;

DEFINE_GUID(kNoSuchCategory, 0x7D1F0C54, 0x3B8E, 0x4A61, 0x9E, 0x27, 0x5C, 0x40, 0x81, 0xD3, 0x6A,
            0x19);

std::wstring NameOf(IPin* pin) {
    PIN_INFO info{};
    if (pin == nullptr || FAILED(pin->QueryPinInfo(&info))) return L"";
    if (info.pFilter != nullptr) info.pFilter->Release();
    return info.achName;
}

// up -> src (a preview pin, then a capture pin) -> mid -> sink; `probed` names the one filter
// or pin that answers the probe.
struct SearchGraph {
    explicit SearchGraph(const std::wstring& probed, bool capture_says_category = true) {
        EXPECT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_IGraphBuilder, graph.ReceiveVoid()));
        EXPECT_EQ(S_OK, CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_ICaptureGraphBuilder2, builder.ReceiveVoid()));
        builder->SetFiltergraph(graph.Get());
        auto filter = [&](const std::wstring& name) {
            auto made = MakeCom<ProbeFilter>(name, name == probed);
            graph->AddFilter(made.Get(), name.c_str());
            return made;
        };
        auto pin = [&](ProbeFilter& owner, ProbePinSpec spec) -> ProbePin& {
            spec.probe = spec.name == probed;
            return owner.Add(std::move(spec));
        };
        up = filter(L"up");
        src = filter(L"src");
        mid = filter(L"mid");
        sink = filter(L"sink");
        ProbePin& upOut = pin(*up, {L"up out"});
        ProbePin& srcIn = pin(*src, {L"src in", PINDIR_INPUT});
        pin(*src, {L"preview", PINDIR_OUTPUT, PIN_CATEGORY_PREVIEW});
        ProbePin& capture = pin(*src, {L"capture", PINDIR_OUTPUT, PIN_CATEGORY_CAPTURE,
                                       capture_says_category});
        ProbePin& midIn = pin(*mid, {L"mid in", PINDIR_INPUT});
        ProbePin& midOut = pin(*mid, {L"mid out"});
        ProbePin& sinkIn = pin(*sink, {L"sink in", PINDIR_INPUT});
        EXPECT_EQ(S_OK, graph->ConnectDirect(&upOut, &srcIn, nullptr));
        EXPECT_EQ(S_OK, graph->ConnectDirect(&capture, &midIn, nullptr));
        EXPECT_EQ(S_OK, graph->ConnectDirect(&midOut, &sinkIn, nullptr));
    }
    ComPtr<IGraphBuilder> graph;
    ComPtr<ICaptureGraphBuilder2> builder;
    ComPtr<ProbeFilter> up, src, mid, sink;
};

struct FindInterfaceRow {
    const wchar_t* probed;
    const GUID* category;
    const GUID* type;
    HRESULT code;
    const wchar_t* found;
};

// From the capture source: itself, then pins of the category and type and everything
// downstream of them, then everything upstream. With a category no pin has: E_NOINTERFACE.
TEST(CaptureGraphBuilderTest, FindInterfaceSearchesInThePlatformsOrder) {
    const GUID* capture = &PIN_CATEGORY_CAPTURE;
    const GUID* video = &MEDIATYPE_Video;
    const FindInterfaceRow rows[] = {
        {L"src", capture, video, S_OK, L"src"},
        {L"capture", capture, video, S_OK, L"capture"},
        {L"mid in", capture, video, S_OK, L"mid in"},
        {L"mid", capture, video, S_OK, L"mid"},
        {L"mid out", capture, video, S_OK, L"mid out"},
        {L"sink in", capture, video, S_OK, L"sink in"},
        {L"sink", capture, video, S_OK, L"sink"},
        {L"up out", capture, video, S_OK, L"up out"},
        {L"up", capture, video, S_OK, L"up"},
        {L"src in", capture, video, S_OK, L"src in"},
        {L"preview", capture, video, E_FAIL, L""},
        {L"preview", &PIN_CATEGORY_PREVIEW, video, S_OK, L"preview"},
        {L"preview", nullptr, nullptr, S_OK, L"preview"},
        {L"capture", capture, &MEDIATYPE_Interleaved, E_NOINTERFACE, L""},
        {L"capture", nullptr, &MEDIATYPE_Interleaved, S_OK, L"capture"},
        {L"nothing", capture, video, E_FAIL, L""},
        {L"nothing", &kNoSuchCategory, nullptr, E_NOINTERFACE, L""},
        {L"nothing", nullptr, nullptr, E_FAIL, L""},
        {L"sink", &LOOK_DOWNSTREAM_ONLY, nullptr, S_OK, L"sink"},
        {L"src", &LOOK_DOWNSTREAM_ONLY, nullptr, E_FAIL, L""},
        {L"up", &LOOK_DOWNSTREAM_ONLY, nullptr, E_FAIL, L""},
        {L"up", &LOOK_UPSTREAM_ONLY, nullptr, S_OK, L"up"},
        {L"sink", &LOOK_UPSTREAM_ONLY, nullptr, E_FAIL, L""},
    };
    for (const FindInterfaceRow& row : rows) {
        SCOPED_TRACE(std::wstring(row.probed) + L" " + (row.category ? L"category" : L"none"));
        SearchGraph g(row.probed);
        void* found = reinterpret_cast<void*>(1);
        EXPECT_EQ(row.code, g.builder->FindInterface(row.category, row.type, g.src.Get(), IID_IProbe,
                                                      &found));
        EXPECT_EQ(row.found, WhereFound(found));
        if (found != nullptr) static_cast<IProbe*>(found)->Release();
    }
}

// A pin that cannot say its category is no pin of that category, whatever it was made as.
TEST(CaptureGraphBuilderTest, APinsCategoryIsWhatItsPropertySetSays) {
    SearchGraph g(L"capture", false);
    void* found = nullptr;
    EXPECT_EQ(E_NOINTERFACE, g.builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video,
                                                      g.src.Get(), IID_IProbe, &found));
    EXPECT_EQ(nullptr, found);
    ComPtr<IPin> pin;
    EXPECT_EQ(E_FAIL, g.builder->FindPin(static_cast<IBaseFilter*>(g.src.Get()), PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, nullptr,
                                         FALSE, 0, pin.Receive()));
    EXPECT_EQ(E_POINTER, g.builder->FindInterface(nullptr, nullptr, nullptr, IID_IProbe, &found));
}

struct FindPinRow {
    PIN_DIRECTION direction;
    const GUID* category;
    const GUID* type;
    BOOL unconnected;
    int num;
    HRESULT code;
    const wchar_t* found;
};

TEST(CaptureGraphBuilderTest, FindPinCountsTheMatchingPinsOfAFilter) {
    SearchGraph g(L"nothing");
    const FindPinRow rows[] = {
        {PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, FALSE, 0, S_OK, L"capture"},
        {PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, &MEDIATYPE_Interleaved, FALSE, 0, E_FAIL, L""},
        {PINDIR_OUTPUT, nullptr, nullptr, FALSE, 0, S_OK, L"preview"},
        {PINDIR_OUTPUT, nullptr, nullptr, FALSE, 1, S_OK, L"capture"},
        {PINDIR_OUTPUT, nullptr, nullptr, FALSE, 2, E_FAIL, L""},
        {PINDIR_OUTPUT, nullptr, nullptr, TRUE, 0, S_OK, L"preview"},
        {PINDIR_OUTPUT, nullptr, nullptr, TRUE, 1, E_FAIL, L""},
        {PINDIR_INPUT, nullptr, nullptr, FALSE, 0, S_OK, L"src in"},
        {PINDIR_INPUT, nullptr, nullptr, TRUE, 0, E_FAIL, L""},
    };
    for (const FindPinRow& row : rows) {
        SCOPED_TRACE(row.num);
        ComPtr<IPin> pin;
        EXPECT_EQ(row.code, g.builder->FindPin(static_cast<IBaseFilter*>(g.src.Get()), row.direction, row.category, row.type,
                                               row.unconnected, row.num, pin.Receive()));
        EXPECT_EQ(row.found, NameOf(pin.Get()));
    }
    // A pin is matched itself; the index counts only a filter's pins.
    ComPtr<IPin> capture, pin;
    ASSERT_EQ(S_OK, g.src->FindPin(L"capture", capture.Receive()));
    EXPECT_EQ(S_OK, g.builder->FindPin(capture.Get(), PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, nullptr,
                                       FALSE, 3, pin.Receive()));
    EXPECT_EQ(L"capture", NameOf(pin.Get()));
    EXPECT_EQ(E_FAIL, g.builder->FindPin(capture.Get(), PINDIR_OUTPUT, nullptr, nullptr, TRUE, 0,
                                         pin.Receive()));
    EXPECT_EQ(E_NOINTERFACE, g.builder->FindPin(g.graph.Get(), PINDIR_OUTPUT, nullptr, nullptr,
                                                FALSE, 0, pin.Receive()));
}

// A filter that gains a pin while it is searched: the search starts again and counts from the
// first pin, so the second capture pin is the new one.
TEST(CaptureGraphBuilderTest, FindPinStartsAgainWhenThePinsChange) {
    auto filter = MakeCom<ProbeFilter>(L"growing", false);
    ProbePin& first = filter->Add({L"first", PINDIR_OUTPUT, PIN_CATEGORY_CAPTURE});
    bool grown = false;
    first.on_category = [&] {
        if (!std::exchange(grown, true)) filter->Add({L"late", PINDIR_OUTPUT, PIN_CATEGORY_CAPTURE});
    };
    ComPtr<ICaptureGraphBuilder2> builder;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_ICaptureGraphBuilder2, builder.ReceiveVoid()));
    ComPtr<IPin> pin;
    EXPECT_EQ(S_OK, builder->FindPin(static_cast<IBaseFilter*>(filter.Get()), PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, nullptr,
                                     FALSE, 1, pin.Receive()));
    EXPECT_EQ(L"late", NameOf(pin.Get()));
}

TEST(EnumeratorTest, APinEnumeratorIsOutOfSyncOnceThePinsChangeUntilReset) {
    auto filter = MakeCom<ProbeFilter>(L"f", false);
    filter->Add({L"one"});
    ComPtr<IEnumPins> pins, clone;
    ASSERT_EQ(S_OK, filter->EnumPins(pins.Receive()));
    filter->Add({L"two"});
    IPin* pin = reinterpret_cast<IPin*>(1);
    ULONG fetched = 7;
    EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, pins->Next(1, &pin, &fetched));
    EXPECT_EQ(0u, fetched);
    EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, pins->Skip(1));
    EXPECT_EQ(S_OK, pins->Reset());
    EXPECT_EQ(S_OK, pins->Skip(1));
    ASSERT_EQ(S_OK, pins->Clone(clone.Receive()));
    ASSERT_EQ(S_OK, clone->Next(1, &pin, nullptr));
    EXPECT_EQ(L"two", NameOf(pin));
    pin->Release();
    EXPECT_EQ(S_FALSE, clone->Next(1, &pin, nullptr));
    EXPECT_EQ(S_FALSE, pins->Skip(2));
    IPin* two[2] = {};
    EXPECT_EQ(E_INVALIDARG, pins->Next(2, two, nullptr));
}

// The types are asked of the pin at each Next: a change shows at once; Skip counts the types of
// the creation or the last Reset.
TEST(EnumeratorTest, AMediaTypeEnumeratorShowsThePinsTypesAsTheyAreNow) {
    auto filter = MakeCom<ProbeFilter>(L"f", false);
    ProbePin& pin = filter->Add({L"out", PINDIR_OUTPUT, GUID_NULL, true, false,
                                 {MEDIATYPE_Video, MEDIATYPE_Interleaved}});
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(S_OK, pin.EnumMediaTypes(types.Receive()));
    pin.Offer({MEDIATYPE_Interleaved});
    AM_MEDIA_TYPE* mt = nullptr;
    ASSERT_EQ(S_OK, types->Next(1, &mt, nullptr));
    EXPECT_EQ(MEDIATYPE_Interleaved, mt->majortype);
    DeleteMediaType(mt);
    EXPECT_EQ(S_FALSE, types->Next(1, &mt, nullptr));
    EXPECT_EQ(S_OK, types->Reset());
    EXPECT_EQ(S_OK, types->Skip(1));
    EXPECT_EQ(S_FALSE, types->Skip(1));
    pin.Offer({MEDIATYPE_Video, MEDIATYPE_Interleaved, MEDIATYPE_Video});
    ComPtr<IEnumMediaTypes> clone;
    ASSERT_EQ(S_OK, types->Reset());
    ASSERT_EQ(S_OK, types->Skip(2));
    ASSERT_EQ(S_OK, types->Clone(clone.Receive()));
    AM_MEDIA_TYPE* two[2] = {};
    ULONG fetched = 0;
    EXPECT_EQ(S_FALSE, clone->Next(2, two, &fetched));
    ASSERT_EQ(1u, fetched);
    EXPECT_EQ(MEDIATYPE_Video, two[0]->majortype);
    DeleteMediaType(two[0]);
}

}  // namespace
}  // namespace PlatformTest
