#include "platform/dshow/sample_grabber.h"

#include <cstring>

namespace zrf::dshow {

SampleGrabber::SampleGrabber() : FilterBase(CLSID_SampleGrabber) {
    input_ = &AddPin(std::make_unique<PinBase>(*this, PINDIR_INPUT, L"Input"));
    output_ = &AddPin(std::make_unique<PinBase>(*this, PINDIR_OUTPUT, L"Output"));
}

SampleGrabber::~SampleGrabber() {
    if (ISampleGrabberCB* callback = callback_.exchange(nullptr)) callback->Release();
}

void* SampleGrabber::FindInterface(REFIID riid) {
    if (riid == IID_ISampleGrabber) return static_cast<ISampleGrabber*>(this);
    return FilterBase::FindInterface(riid);
}

HRESULT SampleGrabber::SetOneShot(BOOL OneShot) {
    std::lock_guard lock(config_mutex_);
    one_shot_ = OneShot != FALSE;
    return S_OK;
}

HRESULT SampleGrabber::SetMediaType(const AM_MEDIA_TYPE* pType) {
    std::lock_guard lock(config_mutex_);
    wanted_ = pType != nullptr ? MediaType(*pType) : MediaType();
    return S_OK;
}

HRESULT SampleGrabber::GetConnectedMediaType(AM_MEDIA_TYPE* pType) {
    if (pType == nullptr) return E_POINTER;
    return input_->ConnectionMediaType(pType);
}

HRESULT SampleGrabber::SetBufferSamples(BOOL BufferThem) {
    std::lock_guard lock(config_mutex_);
    buffer_samples_ = BufferThem != FALSE;
    return S_OK;
}

HRESULT SampleGrabber::GetCurrentBuffer(LONG* pBufferSize, LONG* pBuffer) {
    if (pBufferSize == nullptr) return E_POINTER;
    std::lock_guard lock(config_mutex_);
    if (!buffer_samples_ || buffered_length_ < 0) return E_INVALIDARG;
    if (pBuffer == nullptr) {
        *pBufferSize = buffered_length_;
        return S_OK;
    }
    if (*pBufferSize < buffered_length_) return E_OUTOFMEMORY;
    std::memcpy(pBuffer, buffer_.data(), static_cast<std::size_t>(buffered_length_));
    *pBufferSize = buffered_length_;
    return S_OK;
}

HRESULT SampleGrabber::GetCurrentSample(IMediaSample** ppSample) {
    return E_NOTIMPL;
}

HRESULT SampleGrabber::SetCallback(ISampleGrabberCB* pCallback, LONG WhichMethodToCallback) {
    if (WhichMethodToCallback != 0 && WhichMethodToCallback != 1) return E_INVALIDARG;
    if (pCallback != nullptr) pCallback->AddRef();
    method_.store(WhichMethodToCallback);
    if (ISampleGrabberCB* replaced = callback_.exchange(pCallback)) replaced->Release();
    return S_OK;
}

HRESULT SampleGrabber::CheckMediaType(const PinBase& pin, const AM_MEDIA_TYPE& mt) {
    if (&pin == input_) {
        std::lock_guard lock(config_mutex_);
        return MediaTypeMatches(wanted_.Get(), mt) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    // Downstream gets exactly what arrives upstream.
    if (!input_->IsConnected()) return VFW_E_NOT_CONNECTED;
    MediaType upstream = input_->ConnectedType();
    return MediaTypeMatches(upstream.Get(), mt) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

void SampleGrabber::GetMediaTypes(const PinBase& pin, std::vector<MediaType>& out) {
    if (&pin == output_ && input_->IsConnected()) out.push_back(input_->ConnectedType());
}

HRESULT SampleGrabber::OnRun() {
    std::lock_guard lock(config_mutex_);
    one_shot_done_ = false;
    return S_OK;
}

void SampleGrabber::Buffer(IMediaSample* sample) {
    BYTE* data = nullptr;
    LONG length = sample->GetActualDataLength();
    if (FAILED(sample->GetPointer(&data)) || data == nullptr || length < 0) return;
    std::lock_guard lock(config_mutex_);
    if (!buffer_samples_) return;
    // Grows once to the largest sample; reused afterwards.
    if (buffer_.size() < static_cast<std::size_t>(length)) buffer_.resize(length);
    std::memcpy(buffer_.data(), data, static_cast<std::size_t>(length));
    buffered_length_ = length;
}

void SampleGrabber::CallBack(IMediaSample* sample) {
    // No reference is taken: SetCallback may release this one while it is called.
    ISampleGrabberCB* callback = callback_.load();
    if (callback == nullptr) return;
    REFERENCE_TIME start = 0;
    REFERENCE_TIME end = 0;
    double time = SUCCEEDED(sample->GetTime(&start, &end)) ? static_cast<double>(start) / 1e7 : 0.0;
    if (method_.load() == 0) {
        callback->SampleCB(time, sample);
    } else {
        BYTE* data = nullptr;
        if (SUCCEEDED(sample->GetPointer(&data))) {
            callback->BufferCB(time, data, sample->GetActualDataLength());
        }
    }
}

HRESULT SampleGrabber::Receive(PinBase& input, IMediaSample* sample) {
    if (sample == nullptr) return E_POINTER;
    {
        std::lock_guard lock(config_mutex_);
        if (one_shot_ && one_shot_done_) return S_FALSE;
        one_shot_done_ = one_shot_;
    }
    Buffer(sample);
    CallBack(sample);
    if (output_->IsConnected()) return output_->Deliver(sample);
    return S_OK;
}

}  // namespace zrf::dshow
