#pragma once
// The live view's HTTP and WebSocket server (Boost.Beast), on one thread of its own. It serves
// the page, a small JSON API and a WebSocket per camera viewer that carries the camera's frames
// (newest first: a viewer that cannot keep up gets fewer), its readouts and its status.
//
// Safe by default: on a loopback address it answers only requests addressed to a loopback
// name (no DNS rebinding); on any other it asks every request and socket for the token. A
// request from a page of another origin is refused either way. Connections, headers, bodies
// and client messages are bounded.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/zrfgrab/serve/live_camera.h"

namespace zrfgrab::serve {

// When the connections are all taken, the oldest that has not yet shown it may be served (a
// valid token; on loopback without one, a whole request) is let go for a new one; when the
// viewers are, the one whose frames have waited longest for it to read, once that is
// `stalledViewer` or more. One address holds at most its share of either.
struct ServerLimits {
    std::size_t maxConnections = 64;  // HTTP and WebSocket together
    std::size_t maxViewers = 32;      // WebSockets
    std::size_t maxConnectionsPerAddress = 48;
    std::size_t maxViewersPerAddress = 24;
    std::size_t maxHeaderBytes = 8 * 1024;
    std::size_t maxBodyBytes = 4 * 1024;
    std::size_t maxMessageBytes = 1024;  // a viewer's message
    // A request's first bytes, its header and its (small) body come within this, the first
    // request and every later one on the connection alike: a silent connection holds no slot long.
    std::chrono::milliseconds headerTimeout{5'000};
    // An answer is taken within this.
    std::chrono::milliseconds requestTimeout{15'000};
    std::chrono::milliseconds stalledViewer{5'000};
    // A viewer from whom nothing comes (not even a ping's answer) for this long is let go.
    std::chrono::milliseconds idleTimeout{120'000};
    double messagesPerSecond = 60;  // a viewer's messages, after a burst of
    double messageBurst = 200;
};

// Frames each camera's viewers hold at most: one being sent or shown each, and one waiting.
inline std::size_t PoolCapacityFor(const ServerLimits& limits) { return limits.maxViewers + 3; }

struct ServerSettings {
    std::string address = "127.0.0.1";
    unsigned short port = 8080;  // 0: any free one
    std::string token;           // empty: none asked for (loopback only)
    ServerLimits limits;
};

struct ServerCounters {
    std::uint64_t framesSent = 0;
    std::uint64_t viewers = 0;
    std::uint64_t connections = 0;
};

class LiveServer {
  public:
    // The cameras outlive the server; their feeds must not have started yet (the server
    // listens to them from now on).
    LiveServer(ServerSettings settings, std::vector<LiveCamera*> cameras);
    ~LiveServer();
    LiveServer(const LiveServer&) = delete;
    LiveServer& operator=(const LiveServer&) = delete;

    // Binds and listens; throws std::runtime_error saying why it cannot.
    void Start();
    unsigned short Port() const;
    // Sends every viewer the cameras' last status and why the server ends, closes every
    // connection (at once where a client does not read) and stops.
    void Stop(const std::string& why);
    ServerCounters Counters() const;

    struct Impl;  // the server thread's state; opaque outside live_server.cpp

  private:
    std::shared_ptr<Impl> impl_;
};

// The address to open: http://ADDRESS:PORT/ (with the token where one is asked for).
std::string PageAddress(const std::string& address, unsigned short port, const std::string& token);

}  // namespace zrfgrab::serve
