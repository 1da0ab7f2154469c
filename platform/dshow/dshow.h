#pragma once
// The video platform as the capture code sees it: on Windows the platform's own headers plus
// the few declarations they lack; elsewhere the stand-in. This is the one place that chooses.
#ifdef _WIN32
#include <dshow.h>
#include <ks.h>
#include <ksmedia.h>
#include <ksproxy.h>
#include <qedit.h>

#include "platform/windows_compat.h"
#else
#include "platform/com/bind_ctx.h"
#include "platform/com/bstr.h"
#include "platform/com/class_registry.h"
#include "platform/com/events.h"
#include "platform/com/task_allocator.h"
#include "platform/dshow/device_enum_interfaces.h"
#include "platform/dshow/dshow_errors.h"
#include "platform/dshow/ext_device_defs.h"
#include "platform/dshow/filter_interfaces.h"
#include "platform/dshow/graph_interfaces.h"
#include "platform/dshow/ks_interfaces.h"
#include "platform/dshow/property_pages.h"
#include "platform/dshow/sample_grabber_interfaces.h"
#include "platform/dshow/stream_interfaces.h"
#include "platform/dshow/uuids.h"
#endif

#include "platform/com/com_ptr.h"
#include "platform/dshow/media_type.h"
