// A camera's samples come from an allocator of its own, but a filter downstream that asks for a
// prefix or an alignment still gets them: the camera agrees to them, or the peer's allocator or
// the platform's is used instead.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

#include "platform/com/com_object.h"
#include "platform/dshow/dshow.h"
#include "platform/dshow/filter_base.h"
#include "platform/dshow/memory_allocator.h"
#include "sim/video/capture_source_filter.h"
#include "tests/capture/capture_fixture.h"

namespace CaptureTest {
namespace {

using zrf::com::ComPtr;
using zrf::com::MakeCom;

// A filter whose input states what it needs of the samples it is given.
class DemandingSink final : public zrf::dshow::FilterBase {
  public:
    class Input final : public zrf::dshow::PinBase {
      public:
        Input(FilterBase& owner, ALLOCATOR_PROPERTIES needs)
            : PinBase(owner, PINDIR_INPUT, L"In"), needs_(needs) {}
        HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES* p) override {
            *p = needs_;
            return S_OK;
        }

      private:
        ALLOCATOR_PROPERTIES needs_;
    };
    explicit DemandingSink(ALLOCATOR_PROPERTIES needs) : FilterBase(GUID_NULL) {
        AddPin(std::make_unique<Input>(*this, needs));
    }
    HRESULT CheckMediaType(const zrf::dshow::PinBase&, const AM_MEDIA_TYPE&) override { return S_OK; }
};

// The camera's capture pin connected straight to the sink's input in a graph of their own;
// the graph is returned to keep them alive.
ComPtr<IGraphBuilder> ConnectCameraTo(IBaseFilter* source, IBaseFilter* sink, ComPtr<IPin>& in) {
    ComPtr<IGraphBuilder> graph;
    EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                               graph.ReceiveVoid()),
              S_OK);
    ComPtr<IPin> out;
    EXPECT_EQ(graph->AddFilter(source, L"camera"), S_OK);
    EXPECT_EQ(graph->AddFilter(sink, L"sink"), S_OK);
    EXPECT_EQ(source->FindPin(L"Capture", out.Receive()), S_OK);
    EXPECT_EQ(sink->FindPin(L"In", in.Receive()), S_OK);
    EXPECT_EQ(graph->ConnectDirect(out.Get(), in.Get(), nullptr), S_OK);
    return graph;
}

TEST(SourceAllocator, ADownstreamFiltersPrefixAndAlignmentAreGiven) {
    const ALLOCATOR_PROPERTIES needs[] = {
        {2, 0, 16, 16}, {2, 0, 64, 0}, {2, 0, 4096, 32}, {4, 0, 1, 0},
    };
    for (const ALLOCATOR_PROPERTIES& need : needs) {
        SCOPED_TRACE("buffers " + std::to_string(need.cBuffers) + ", align " +
                     std::to_string(need.cbAlign) + ", prefix " + std::to_string(need.cbPrefix));
        auto source = MakeCom<zrf::sim::CaptureSourceFilter>(AddDevice(zrf::sim::UsbIrPreset()));
        auto sink = MakeCom<DemandingSink>(need);
        ComPtr<IPin> in;
        const auto graph = ConnectCameraTo(source.Get(), sink.Get(), in);
        ASSERT_TRUE(in);
        ComPtr<IMemInputPin> transport;
        ASSERT_EQ(in.As(IID_IMemInputPin, transport), S_OK);
        ComPtr<IMemAllocator> allocator;
        ASSERT_EQ(transport->GetAllocator(allocator.Receive()), S_OK);
        ALLOCATOR_PROPERTIES agreed{};
        ASSERT_EQ(allocator->GetProperties(&agreed), S_OK);
        EXPECT_GE(agreed.cBuffers, need.cBuffers);
        EXPECT_GE(agreed.cbPrefix, need.cbPrefix);
        ASSERT_EQ(allocator->Commit(), S_OK);
        ComPtr<IMediaSample> sample;
        ASSERT_EQ(allocator->GetBuffer(sample.Receive(), nullptr, nullptr, 0), S_OK);
        BYTE* data = nullptr;
        ASSERT_EQ(sample->GetPointer(&data), S_OK);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(data - need.cbPrefix) % need.cbAlign, 0u);
        std::fill(data - need.cbPrefix, data + sample->GetSize(), BYTE{0x5A});  // all of it ours
        sample.Reset();
        ASSERT_EQ(allocator->Decommit(), S_OK);
    }
}

// A filter that takes samples only from an allocator of its own, as some hardware filters do.
class PickySink final : public zrf::dshow::FilterBase {
  public:
    class Input final : public zrf::dshow::PinBase {
      public:
        explicit Input(FilterBase& owner) : PinBase(owner, PINDIR_INPUT, L"In") {}
        HRESULT GetAllocator(IMemAllocator** out) override {
            if (out == nullptr) return E_POINTER;
            *out = own.Get();
            own->AddRef();
            return S_OK;
        }
        HRESULT NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override {
            if (allocator != own.Get()) return E_FAIL;
            return PinBase::NotifyAllocator(allocator, readOnly);
        }
        ComPtr<zrf::dshow::MemoryAllocator> own = MakeCom<zrf::dshow::MemoryAllocator>();
    };
    PickySink() : FilterBase(GUID_NULL) { AddPin(std::make_unique<Input>(*this)); }
    HRESULT CheckMediaType(const zrf::dshow::PinBase&, const AM_MEDIA_TYPE&) override { return S_OK; }
    Input& In() { return static_cast<Input&>(*FirstPin(PINDIR_INPUT)); }
};

TEST(SourceAllocator, APeerThatTakesOnlyItsOwnAllocatorGetsIt) {
    auto source = MakeCom<zrf::sim::CaptureSourceFilter>(AddDevice(zrf::sim::UsbIrPreset()));
    auto sink = MakeCom<PickySink>();
    ComPtr<IPin> in;
    const auto graph = ConnectCameraTo(source.Get(), sink.Get(), in);
    ALLOCATOR_PROPERTIES agreed{};
    ASSERT_EQ(sink->In().own->GetProperties(&agreed), S_OK);
    EXPECT_GT(agreed.cbBuffer, 0);  // the camera sized the sink's own allocator
}

}  // namespace
}  // namespace CaptureTest
