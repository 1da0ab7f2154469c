#pragma once
// The one place that chooses between the platform's own COM headers and the stand-in.
#ifdef _WIN32
#include <objbase.h>
#else
#include "platform/com/unknown.h"
#endif
