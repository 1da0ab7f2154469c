// The platform's own filter classes, available to CoCreateInstance from load time.
#include "platform/com/class_registry.h"
#include "platform/dshow/capture_graph_builder.h"
#include "platform/dshow/filter_graph.h"
#include "platform/dshow/memory_allocator.h"
#include "platform/dshow/renderers.h"
#include "platform/dshow/sample_grabber.h"
#include "platform/dshow/system_clock.h"
#include "platform/dshow/system_device_enum.h"
#include "platform/dshow/transform_filters.h"

namespace zrf::dshow {
namespace {

template <class T>
HRESULT Create(REFIID riid, void** ppv) {
    auto object = com::MakeCom<T>();
    return object->QueryInterface(riid, ppv);
}

com::ClassFactory TransformFactory(const CLSID& clsid, TransformRules (*rules)()) {
    return [clsid, rules](REFIID riid, void** ppv) {
        auto filter = com::MakeCom<TransformFilter>(clsid, rules());
        return filter->QueryInterface(riid, ppv);
    };
}

const com::ClassRegistration kRegistrations[] = {
    {CLSID_SystemDeviceEnum, CreateSystemDeviceEnum},
    {CLSID_FilterGraph, Create<FilterGraph>},
    {CLSID_SystemClock, Create<SystemClock>},
    {CLSID_CaptureGraphBuilder2, Create<CaptureGraphBuilder>},
    {CLSID_SampleGrabber, Create<SampleGrabber>},
    {CLSID_MemoryAllocator, Create<MemoryAllocator>},
    {CLSID_NullRenderer, Create<NullRenderer>},
    {CLSID_VideoRenderer, Create<VideoRenderer>},
    {CLSID_AVIDec, TransformFactory(CLSID_AVIDec, AviDecompressorRules)},
    {CLSID_DVVidDec, TransformFactory(CLSID_DVVidDec, DvDecoderRules)},
};

}  // namespace
}  // namespace zrf::dshow
