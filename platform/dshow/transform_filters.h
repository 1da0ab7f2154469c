#pragma once
// One-in, one-out filters described by rules: which input types they take, what they
// offer downstream for it, and whether samples pass through. The stand-in's decoders
// connect like the platform's but decode nothing (they deliver no samples); the
// pass-through class stands in for filters a test registers under another identifier.
#include <functional>
#include <vector>

#include "platform/com/class_registry.h"
#include "platform/dshow/filter_base.h"

namespace zrf::dshow {

struct TransformRules {
    std::function<bool(const AM_MEDIA_TYPE& input)> accepts;
    std::function<MediaType(const AM_MEDIA_TYPE& input)> output_for;
    bool forwards_samples = false;
    std::vector<GUID> property_pages;  // empty: no property-page interface
};

class TransformFilter final : public FilterBase, public ISpecifyPropertyPages {
  public:
    TransformFilter(const CLSID& clsid, TransformRules rules);
    ZRF_COM_FORWARD_UNKNOWN(FilterBase)

    HRESULT GetPages(CAUUID* pPages) override;

    HRESULT CheckMediaType(const PinBase& pin, const AM_MEDIA_TYPE& mt) override;
    void GetMediaTypes(const PinBase& pin, std::vector<MediaType>& out) override;
    HRESULT Receive(PinBase& input, IMediaSample* sample) override;

  protected:
    void* FindInterface(REFIID riid) override;

  private:
    TransformRules rules_;
    PinBase* input_;
    PinBase* output_;
};

TransformRules AviDecompressorRules();
TransformRules DvDecoderRules();
TransformRules PassThroughRules();

// A class factory for a pass-through filter that reports the given class identifier.
com::ClassFactory PassThroughFilterFactory(const CLSID& clsid);

}  // namespace zrf::dshow
