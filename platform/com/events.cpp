#include "platform/com/events.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

struct Event {
    bool manual_reset;
    bool signalled;
};

// One lock and one condition for every event: a wait for several events wakes at any of them.
std::mutex g_mutex;
std::condition_variable g_changed;

Event* EventOf(HANDLE handle) {
    return static_cast<Event*>(handle);
}

}  // namespace

HANDLE CreateEventW(void*, BOOL manual_reset, BOOL initial_state, LPCWSTR) {
    return new Event{manual_reset != FALSE, initial_state != FALSE};
}

BOOL SetEvent(HANDLE event) {
    if (event == nullptr) return FALSE;
    {
        std::lock_guard lock(g_mutex);
        EventOf(event)->signalled = true;
    }
    g_changed.notify_all();
    return TRUE;
}

BOOL ResetEvent(HANDLE event) {
    if (event == nullptr) return FALSE;
    std::lock_guard lock(g_mutex);
    EventOf(event)->signalled = false;
    return TRUE;
}

BOOL CloseHandle(HANDLE handle) {
    if (handle == nullptr) return FALSE;
    std::lock_guard lock(g_mutex);
    delete EventOf(handle);
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    return WaitForMultipleObjects(1, &handle, FALSE, milliseconds);
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL wait_all,
                             DWORD milliseconds) {
    if (count == 0 || handles == nullptr || wait_all != FALSE) return WAIT_FAILED;
    for (DWORD i = 0; i < count; ++i) {
        if (handles[i] == nullptr) return WAIT_FAILED;
    }
    std::unique_lock lock(g_mutex);
    DWORD found = WAIT_TIMEOUT;
    auto signalled = [&] {
        for (DWORD i = 0; i < count; ++i) {
            if (EventOf(handles[i])->signalled) {
                found = WAIT_OBJECT_0 + i;
                return true;
            }
        }
        return false;
    };
    if (milliseconds == INFINITE) {
        g_changed.wait(lock, signalled);
    } else if (!g_changed.wait_for(lock, std::chrono::milliseconds(milliseconds), signalled)) {
        return WAIT_TIMEOUT;
    }
    Event* event = EventOf(handles[found - WAIT_OBJECT_0]);
    if (!event->manual_reset) event->signalled = false;
    return found;
}
