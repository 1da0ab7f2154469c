#pragma once
// Snapshot enumerators for pins and media types.
#include <vector>

#include "platform/dshow/media_type.h"

namespace zrf::dshow {

HRESULT CreatePinEnumerator(std::vector<com::ComPtr<IPin>> pins, IEnumPins** ppEnum);
// Each Next hands out a task-allocated copy, which the caller frees.
HRESULT CreateMediaTypeEnumerator(std::vector<MediaType> types, IEnumMediaTypes** ppEnum);

}  // namespace zrf::dshow
