#pragma once
// Live enumerators for pins and media types, as the platform's base classes make them. A pin
// enumerator answers VFW_E_ENUM_OUT_OF_SYNC from Next and Skip once its filter's pins have
// changed, until it is Reset. A media-type enumerator asks its pin for the type at each Next, so
// a change of format shows at once.
#include "platform/dshow/media_type.h"

namespace zrf::dshow {

class FilterBase;
class PinBase;

HRESULT CreatePinEnumerator(FilterBase& filter, IEnumPins** ppEnum);
// Each Next hands out a task-allocated copy, which the caller frees.
HRESULT CreateMediaTypeEnumerator(PinBase& pin, IEnumMediaTypes** ppEnum);

}  // namespace zrf::dshow
