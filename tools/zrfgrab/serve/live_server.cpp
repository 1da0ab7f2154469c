#include "tools/zrfgrab/serve/live_server.h"

#include <array>
#include <cctype>
#include <atomic>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <string_view>
#include <thread>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <nlohmann/json.hpp>

#include "tools/zrfgrab/serve/live_page.h"
#include "tools/zrfgrab/serve/viewer_protocol.h"

namespace zrfgrab::serve {
namespace {

namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using Request = http::request<http::string_body>;
using Response = http::response<http::string_body>;
using Clock = std::chrono::steady_clock;

constexpr auto kStatusEvery = std::chrono::milliseconds(500);
constexpr auto kCloseGrace = std::chrono::milliseconds(1000);
constexpr auto kAcceptRetry = std::chrono::milliseconds(100);
constexpr std::string_view kServerName = "zrfgrab serve";
constexpr int kViewerSendBuffer = 128 * 1024;  // Linux doubles it: a few frames, 2.5 MB/s at 100 ms

// The target's path and the value of one query parameter (raw: tokens hold no escapes).
std::string_view PathOf(std::string_view target) { return target.substr(0, target.find('?')); }

std::optional<std::string_view> QueryValue(std::string_view target, std::string_view key) {
    const auto q = target.find('?');
    if (q == std::string_view::npos) return std::nullopt;
    std::string_view query = target.substr(q + 1);
    while (!query.empty()) {
        const auto amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        const auto eq = pair.find('=');
        if (eq != std::string_view::npos && pair.substr(0, eq) == key) return pair.substr(eq + 1);
        if (amp == std::string_view::npos) break;
        query.remove_prefix(amp + 1);
    }
    return std::nullopt;
}

// Compares in time that does not depend on where the first difference is.
bool SameSecret(std::string_view given, std::string_view secret) {
    unsigned char differ = given.size() == secret.size() ? 0 : 1;
    for (std::size_t i = 0; i < secret.size(); ++i)
        differ |= static_cast<unsigned char>(secret[i] ^ (i < given.size() ? given[i] : 0));
    return differ == 0;
}

// A Host header naming this machine's loopback: localhost, 127.x.y.z or [::1], with any port.
bool IsLoopbackHost(std::string_view host) {
    std::string_view name = host;
    if (name.starts_with('[')) {
        const auto close = name.find(']');
        if (close == std::string_view::npos) return false;
        name = name.substr(1, close - 1);
    } else if (const auto colon = name.rfind(':'); colon != std::string_view::npos) {
        name = name.substr(0, colon);
    }
    if (name == "localhost") return true;
    boost::system::error_code ec;
    const auto address = net::ip::make_address(std::string(name), ec);
    return !ec && address.is_loopback();
}

std::string FileNamePart(const std::string& text) {
    std::string out;
    for (char c : text) out += (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.') ? c : '_';
    return out.empty() ? "camera" : out;
}

// The path's parts between slashes: "/api/cameras/0/live" gives api, cameras, 0, live.
std::vector<std::string_view> PathParts(std::string_view path) {
    std::vector<std::string_view> parts;
    while (!path.empty()) {
        if (path.front() == '/') {
            path.remove_prefix(1);
            continue;
        }
        const auto slash = path.find('/');
        parts.push_back(path.substr(0, slash));
        if (slash == std::string_view::npos) break;
        path.remove_prefix(slash);
    }
    return parts;
}

// A snapshot's id: decimal digits only, never more than fit.
std::optional<std::uint64_t> SnapshotId(std::string_view text) {
    if (text.empty() || text.size() > 18) return std::nullopt;
    std::uint64_t n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return n;
}

// The scheme of an Authorization field is case-insensitive: "Bearer", "bearer", "BEARER".
std::optional<std::string_view> BearerToken(std::string_view authorization) {
    constexpr std::string_view kScheme = "bearer";
    if (authorization.size() <= kScheme.size() || authorization[kScheme.size()] != ' ') return std::nullopt;
    for (std::size_t i = 0; i < kScheme.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(authorization[i])) != kScheme[i]) return std::nullopt;
    std::string_view token = authorization.substr(kScheme.size());
    while (token.starts_with(' ')) token.remove_prefix(1);
    return token;
}

std::optional<std::size_t> CameraIndex(std::string_view text, std::size_t cameras) {
    if (text.empty() || text.size() > 4) return std::nullopt;
    std::size_t n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + static_cast<std::size_t>(c - '0');
    }
    if (n >= cameras) return std::nullopt;
    return n;
}

class Viewer;
class HttpSession;

}  // namespace

struct LiveServer::Impl {
    // How the cameras' threads reach the server's: nothing is posted once the server is gone.
    struct Relay {
        std::mutex mutex;
        net::io_context* ioc = nullptr;  // guarded by mutex
        template <class Handler>
        void Post(Handler&& handler) {
            std::lock_guard lock(mutex);
            if (ioc) net::post(*ioc, std::forward<Handler>(handler));
        }
    };

    Impl(ServerSettings s, std::vector<LiveCamera*> c)
        : settings(std::move(s)), cameras(std::move(c)), viewers(cameras.size()), statuses(cameras.size()) {
        relay->ioc = &ioc;
    }

    void Accept();
    bool MakeRoomForConnection(const net::ip::address& peer);
    bool MakeRoomForViewer(const net::ip::address& peer);
    void Tick();
    void BroadcastStatus(std::size_t camera, const std::string& ending);
    void OfferFrame(std::size_t camera, const ConstFrameRef& frame);
    void BeginStop(const std::string& why);
    void CloseAll();
    std::size_t Open() const { return requests.size() + viewerSessions.size(); }

    const ServerSettings settings;
    const std::vector<LiveCamera*> cameras;
    net::io_context ioc{1};
    std::shared_ptr<Relay> relay = std::make_shared<Relay>();
    tcp::acceptor acceptor{ioc};
    net::steady_timer tick{ioc};
    net::steady_timer acceptRetry{ioc};
    std::thread thread;

    // The server thread's own (and, once it has ended, the stopping thread's).
    std::vector<std::set<Viewer*>> viewers;  // per camera, once accepted
    std::set<Viewer*> viewerSessions;        // accepted or still shaking hands
    std::set<HttpSession*> requests;
    std::uint64_t connectionsMade = 0;       // numbers them: the oldest is let go first
    std::vector<std::shared_ptr<const std::string>> statuses;  // per camera, the last sent
    bool stopping = false;
    std::string ending;

    std::atomic<std::uint64_t> framesSent{0};
    std::atomic<std::uint64_t> viewerCount{0};
    std::atomic<std::uint64_t> connectionCount{0};
};

namespace {

using Impl = LiveServer::Impl;

// A viewer of one camera over a WebSocket: frames as binary messages (a 4-byte little-endian
// length, that many bytes of JSON, then the JPEG), readouts and statuses as text. It holds at
// most two frames: the one it sends or last sent (its readouts read that one, the frame its
// client shows) and the newest waiting, which a newer one replaces.
class Viewer : public std::enable_shared_from_this<Viewer> {
  public:
    Viewer(Impl& server, std::size_t camera, tcp::socket&& socket, const net::ip::address& peer)
        : server_(server), camera_(camera), ws_(std::move(socket)), peer_(peer) {
        server_.viewerSessions.insert(this);
        server_.connectionCount = server_.Open();
        tokens_ = server_.settings.limits.messageBurst;
    }

    ~Viewer() { Leave(); }

    const net::ip::address& Peer() const { return peer_; }
    // How long its frame has waited for it to read (zero when nothing is being sent).
    Clock::duration StalledFor(Clock::time_point now) const { return writing_ ? now - writeSince_ : Clock::duration(); }

    // Gives its place up at once and closes: a new viewer takes it.
    void LetGo() {
        Leave();
        CloseNow();
    }

    void Accept(Request request) {
        const ServerLimits& limits = server_.settings.limits;
        beast::get_lowest_layer(ws_).expires_never();  // the WebSocket's own timeouts from here
        websocket::stream_base::timeout timeouts{};
        timeouts.handshake_timeout = limits.requestTimeout;
        timeouts.idle_timeout = limits.idleTimeout;
        timeouts.keep_alive_pings = true;
        ws_.set_option(timeouts);
        ws_.set_option(websocket::stream_base::decorator(
            [](websocket::response_type& r) { r.set(http::field::server, kServerName); }));
        ws_.read_message_max(limits.maxMessageBytes);
        ws_.async_accept(request, [self = shared_from_this()](beast::error_code ec) { self->OnAccept(ec); });
    }

    void OfferFrame(const ConstFrameRef& frame) {
        if (!frame || frame->jpeg.empty()) return;  // made while nobody watched
        pending_ = frame;
        Pump();
    }

    void OfferStatus(const std::shared_ptr<const std::string>& status) {
        if (!status) return;
        pendingStatus_ = status;
        Pump();
    }

    // After what is being sent and the last status, the WebSocket closes with this reason.
    void CloseSoon(websocket::close_code code, const std::string& why) {
        if (closing_) return;
        closing_ = true;
        closeReason_ = websocket::close_reason(code, why.substr(0, 120));
        Pump();
    }

    void CloseNow() {
        beast::error_code ec;
        beast::get_lowest_layer(ws_).socket().close(ec);
    }

  private:
    void Leave() {
        if (registered_) {
            registered_ = false;
            server_.viewers[camera_].erase(this);
            server_.cameras[camera_]->Feed().RemoveWatcher();
            server_.viewerCount = server_.viewerCount - 1;
        }
        if (!left_) {
            left_ = true;
            server_.viewerSessions.erase(this);
            server_.connectionCount = server_.Open();
        }
    }

    void OnAccept(beast::error_code ec) {
        if (ec || left_) return;
        if (server_.stopping) return CloseNow();
        registered_ = true;
        server_.viewers[camera_].insert(this);
        server_.viewerCount = server_.viewerCount + 1;
        FrameFeed& feed = server_.cameras[camera_]->Feed();
        feed.AddWatcher();
        OfferStatus(server_.statuses[camera_]);
        OfferFrame(feed.Latest());
        Read();
    }

    void Read() {
        ws_.async_read(in_, [self = shared_from_this()](beast::error_code ec, std::size_t) { self->OnRead(ec); });
    }

    // Messages beyond the rate (after a burst) close the socket: a flood costs its sender, not
    // the other viewers.
    bool WithinRate() {
        const auto now = Clock::now();
        const ServerLimits& limits = server_.settings.limits;
        const double seconds = std::chrono::duration<double>(now - refilled_).count();
        refilled_ = now;
        tokens_ = std::min(limits.messageBurst, tokens_ + seconds * limits.messagesPerSecond);
        if (tokens_ < 1) return false;
        tokens_ -= 1;
        return true;
    }

    void OnRead(beast::error_code ec) {
        if (ec) return;  // closed, timed out or failed: the session ends with its last operation
        const auto bytes = in_.data();
        const std::string_view text(static_cast<const char*>(bytes.data()), bytes.size());
        if (!ws_.got_text()) {
            CloseSoon(websocket::close_code::unknown_data, "text messages only");
        } else if (!WithinRate()) {
            CloseSoon(websocket::close_code::policy_error, "too many messages");
        } else if (!ApplyPointerMessage(text, pointer_)) {
            CloseSoon(websocket::close_code::policy_error, "not a pointer message");
        } else {
            readoutDue_ = true;
            Pump();
        }
        in_.consume(in_.size());
        Read();  // a close from here on completes this read
    }

    void Write(bool binary, const auto& buffers) {
        writing_ = true;
        writeSince_ = Clock::now();
        ws_.binary(binary);
        ws_.async_write(buffers, [self = shared_from_this()](beast::error_code ec, std::size_t) {
            self->writing_ = false;
            self->sendingStatus_.reset();
            if (ec) return;
            self->Pump();
        });
    }

    void Pump() {
        if (writing_ || closed_) return;
        if (readoutDue_ && current_ && !closing_) {
            readoutDue_ = false;
            text_.assign("{\"type\":\"readout\",\"frame\":");
            text_ += std::to_string(current_->number);
            AppendReadout(text_, *current_, pointer_);
            text_ += '}';
            return Write(false, net::buffer(text_));
        }
        if (pendingStatus_) {
            sendingStatus_ = std::move(pendingStatus_);
            return Write(false, net::buffer(*sendingStatus_));
        }
        if (closing_) {
            closed_ = true;
            ws_.async_close(closeReason_, [self = shared_from_this()](beast::error_code) {});
            return;
        }
        if (!pending_) return;
        current_ = std::move(pending_);
        readoutDue_ = false;  // the frame carries its readout
        text_.assign("{\"type\":\"frame\",");
        text_ += current_->summary;
        AppendReadout(text_, *current_, pointer_);
        text_ += '}';
        const auto n = static_cast<std::uint32_t>(text_.size());
        length_ = {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n >> 16),
                   static_cast<std::uint8_t>(n >> 24)};
        server_.framesSent.fetch_add(1, std::memory_order_relaxed);
        Write(true, std::array<net::const_buffer, 3>{net::buffer(length_), net::buffer(text_),
                                                     net::buffer(current_->jpeg)});
    }

    Impl& server_;
    const std::size_t camera_;
    websocket::stream<beast::tcp_stream> ws_;
    const net::ip::address peer_;
    beast::flat_buffer in_;
    bool registered_ = false;
    bool left_ = false;  // its place is given up
    bool writing_ = false;
    Clock::time_point writeSince_;
    bool closing_ = false;
    bool closed_ = false;
    websocket::close_reason closeReason_;
    Pointer pointer_;
    bool readoutDue_ = false;
    ConstFrameRef pending_;
    ConstFrameRef current_;
    std::shared_ptr<const std::string> pendingStatus_;
    std::shared_ptr<const std::string> sendingStatus_;
    std::string text_;  // the text being sent; its capacity kept
    std::array<std::uint8_t, 4> length_{};
    double tokens_ = 0;
    Clock::time_point refilled_ = Clock::now();
};

// One HTTP connection: requests one after another, each answered in turn. A request for a
// camera action waits for the camera's thread without holding the server's.
class HttpSession : public std::enable_shared_from_this<HttpSession> {
  public:
    HttpSession(Impl& server, tcp::socket&& socket, const net::ip::address& peer)
        : server_(server), stream_(std::move(socket)),
          buffer_(server.settings.limits.maxHeaderBytes + server.settings.limits.maxBodyBytes + 1024), peer_(peer),
          number_(++server.connectionsMade) {
        server_.requests.insert(this);
        server_.connectionCount = server_.Open();
    }
    ~HttpSession() { Leave(); }

    void Run() { Read(); }

    const net::ip::address& Peer() const { return peer_; }
    std::uint64_t Number() const { return number_; }
    // It has shown a valid token (on loopback without one: sent a whole request).
    bool Proven() const { return proven_; }

    // Gives its place up at once and closes: a new connection takes it.
    void LetGo() {
        Leave();
        Close();
    }

    void Close() {
        const auto keep = std::move(waiting_);  // this session may end with the last reference
        beast::error_code ec;
        stream_.socket().close(ec);
    }

    // As the server ends: a request waiting for its camera is answered that the server ends, an
    // answer on its way is let finish (the connection closes after it), the rest is closed.
    void EndForStop() {
        if (waiting_) {
            const auto keep = std::move(waiting_);
            return SendJson(http::status::service_unavailable, nlohmann_error(server_.ending));
        }
        if (!response_) Close();
    }

  private:
    void Leave() {
        server_.requests.erase(this);
        server_.connectionCount = server_.Open();
    }

    void Read() {
        const ServerLimits& limits = server_.settings.limits;
        parser_.emplace();
        parser_->header_limit(static_cast<std::uint32_t>(limits.maxHeaderBytes));
        parser_->body_limit(limits.maxBodyBytes);
        stream_.expires_after(limits.headerTimeout);
        http::async_read(stream_, buffer_, *parser_,
                         [self = shared_from_this()](beast::error_code ec, std::size_t) { self->OnRead(ec); });
    }

    void OnRead(beast::error_code ec) {
        if (ec == http::error::end_of_stream) {
            stream_.socket().shutdown(tcp::socket::shutdown_send, ec);
            return;
        }
        if (ec == http::error::header_limit) return Fail(http::status::request_header_fields_too_large, "the headers are too large");
        if (ec == http::error::body_limit) return Fail(http::status::payload_too_large, "the body is too large");
        if (ec == http::error::buffer_overflow) return Fail(http::status::payload_too_large, "the request is too large");
        if (ec && ec.category() == http::make_error_code(http::error::bad_target).category())
            return Fail(http::status::bad_request, "a malformed request");
        if (ec) return;  // timed out, reset or closed: nothing to answer
        Request request = parser_->release();
        keepAlive_ = request.keep_alive();
        head_ = request.method() == http::verb::head;
        version_ = request.version();
        Handle(std::move(request));
    }

    // A request that cannot be read further is answered and the connection closed.
    void Fail(http::status status, const std::string& why) {
        keepAlive_ = false;
        version_ = 11;
        SendJson(status, nlohmann_error(why));
    }

    static std::string nlohmann_error(const std::string& why);

    void Handle(Request&& request);
    void HandleCamera(Request& request, std::size_t index, const std::vector<std::string_view>& parts);
    void Act(std::size_t index, Action action);

    void SendJson(http::status status, std::string body) {
        Send(status, "application/json", std::move(body));
    }

    void Send(http::status status, std::string_view type, std::string body,
              const std::vector<std::pair<std::string, std::string>>& extra = {}) {
        auto response = std::make_shared<Response>(status, version_);
        response->set(http::field::server, kServerName);
        response->set(http::field::content_type, type);
        response->set(http::field::cache_control, "no-store");
        response->set("X-Content-Type-Options", "nosniff");
        // The token may be in the page's address: it must not travel on in a Referer.
        response->set("Referrer-Policy", "no-referrer");
        for (const auto& [field, value] : extra) response->set(field, value);
        if (status == http::status::unauthorized) response->set(http::field::www_authenticate, "Bearer");
        response->keep_alive(keepAlive_ && !server_.stopping);
        response->body() = std::move(body);
        response->prepare_payload();
        if (head_) response->body().clear();  // HEAD: the GET's fields, its length included, no body
        response_ = response;
        stream_.expires_after(server_.settings.limits.requestTimeout);
        http::async_write(stream_, *response, [self = shared_from_this()](beast::error_code ec, std::size_t) {
            const bool close = !self->response_->keep_alive() || self->server_.stopping;
            self->response_.reset();
            if (ec) return;
            if (close) {
                self->stream_.socket().shutdown(tcp::socket::shutdown_send, ec);
                return;
            }
            self->Read();
        });
    }

    void Upgrade(Request&& request, std::size_t index) {
        if (!server_.MakeRoomForViewer(peer_))
            return SendJson(http::status::service_unavailable, nlohmann_error("too many viewers"));
        stream_.expires_never();
        tcp::socket socket = stream_.release_socket();
        // What the kernel holds for a viewer is a queue too: kept short, a viewer that falls
        // behind gets the newest frame when it reads again, not seconds of old ones.
        beast::error_code ec;
        socket.set_option(net::socket_base::send_buffer_size(kViewerSendBuffer), ec);
        auto viewer = std::make_shared<Viewer>(server_, index, std::move(socket), peer_);
        viewer->Accept(std::move(request));
    }

    Impl& server_;
    beast::tcp_stream stream_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    std::shared_ptr<Response> response_;
    std::shared_ptr<HttpSession> waiting_;  // itself, while a camera acts for it
    const net::ip::address peer_;
    const std::uint64_t number_;
    unsigned version_ = 11;
    bool keepAlive_ = true;
    bool head_ = false;
    bool proven_ = false;
};


std::string HttpSession::nlohmann_error(const std::string& why) {
    return nlohmann::json{{"error", why}}.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void HttpSession::Handle(Request&& request) {
    const std::string_view target = request.target();
    const std::string token = server_.settings.token;
    // The fields that decide access are read once each: a second copy could say otherwise.
    for (const http::field field : {http::field::host, http::field::origin, http::field::authorization})
        if (request.count(field) > 1)
            return SendJson(http::status::bad_request,
                            nlohmann_error("the " + std::string(http::to_string(field)) + " field is given twice"));
    if (!token.empty()) {
        // Every request and socket shows the token: in the Authorization header, or in the
        // address (a page's own requests and a WebSocket cannot always set a header).
        std::string_view given;
        const std::string_view authorization = request[http::field::authorization];
        if (const auto bearer = BearerToken(authorization)) given = *bearer;
        else if (const auto query = QueryValue(target, "token")) given = *query;
        if (!SameSecret(given, token))
            return SendJson(http::status::unauthorized, nlohmann_error("a token is needed (see the address zrfgrab serve printed)"));
    } else if (!IsLoopbackHost(request[http::field::host])) {
        // Another name resolving to this loopback is a page's trick to reach it (DNS rebinding).
        return SendJson(http::status::forbidden, nlohmann_error("this server answers only to a loopback address"));
    }
    proven_ = true;
    const std::string_view origin = request[http::field::origin];
    if (!origin.empty() && origin != "http://" + std::string(request[http::field::host]))
        return SendJson(http::status::forbidden, nlohmann_error("requests from another site's page are refused"));

    const std::string_view path = PathOf(target);
    const std::vector<std::string_view> parts = PathParts(path);
    const bool get = request.method() == http::verb::get || request.method() == http::verb::head;
    if (websocket::is_upgrade(request)) {
        std::optional<std::size_t> index;
        if (parts.size() == 4 && parts[0] == "api" && parts[1] == "cameras" && parts[3] == "live")
            index = CameraIndex(parts[2], server_.cameras.size());
        if (!index) return SendJson(http::status::not_found, nlohmann_error("no such camera to watch"));
        return Upgrade(std::move(request), *index);
    }
    if (path == "/" || path == "/index.html") {
        if (!get) return SendJson(http::status::method_not_allowed, nlohmann_error("only GET"));
        return Send(http::status::ok, "text/html; charset=utf-8", std::string(LivePage()),
                    {{"Content-Security-Policy",
                      "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
                      "img-src 'self' blob: data:; connect-src 'self'; frame-ancestors 'none'"}});
    }
    if (parts.size() >= 2 && parts[0] == "api" && parts[1] == "palettes" && parts.size() == 2) {
        if (!get) return SendJson(http::status::method_not_allowed, nlohmann_error("only GET"));
        return SendJson(http::status::ok, PalettesJson());
    }
    if (parts.size() == 2 && parts[0] == "api" && parts[1] == "cameras") {
        if (!get) return SendJson(http::status::method_not_allowed, nlohmann_error("only GET"));
        std::string all = "[";
        for (std::size_t i = 0; i < server_.cameras.size(); ++i) {
            LiveCamera& camera = *server_.cameras[i];
            all += (i ? "," : "") + CameraJson(camera.Status(), i, camera.Feed().CurrentView());
        }
        return SendJson(http::status::ok, all + "]");
    }
    if (parts.size() >= 3 && parts[0] == "api" && parts[1] == "cameras") {
        if (const auto index = CameraIndex(parts[2], server_.cameras.size()))
            return HandleCamera(request, *index, parts);
        return SendJson(http::status::not_found, nlohmann_error("no such camera"));
    }
    SendJson(http::status::not_found, nlohmann_error("no such page"));
}

void HttpSession::HandleCamera(Request& request, std::size_t index, const std::vector<std::string_view>& parts) {
    LiveCamera& camera = *server_.cameras[index];
    const http::verb method = request.method();
    auto only = [&](http::verb allowed) {
        if (method == allowed || (allowed == http::verb::get && method == http::verb::head)) return true;
        SendJson(http::status::method_not_allowed,
                 nlohmann_error(std::string("only ") + std::string(http::to_string(allowed))));
        return false;
    };
    const std::string_view what = parts.size() >= 4 ? parts[3] : std::string_view();
    const std::string_view detail = parts.size() == 5 ? parts[4] : std::string_view();
    if (parts.size() == 3) {
        if (only(http::verb::get)) SendJson(http::status::ok, CameraJson(camera.Status(), index, camera.Feed().CurrentView()));
        return;
    }
    if (parts.size() == 4 && what == "view") {
        if (method == http::verb::get || method == http::verb::head) return SendJson(http::status::ok, ViewJson(camera.Feed().CurrentView()));
        if (!only(http::verb::post)) return;
        View view = camera.Feed().CurrentView();
        std::string why;
        if (!ApplyViewRequest(request.body(), view, why)) return SendJson(http::status::bad_request, nlohmann_error(why));
        camera.Feed().SetView(view);
        server_.BroadcastStatus(index, server_.ending);  // every viewer's controls follow
        return SendJson(http::status::ok, ViewJson(view));
    }
    if (parts.size() == 4 && what == "readout") {
        if (!only(http::verb::post)) return;
        Pointer pointer;
        if (!ApplyPointerMessage(request.body(), pointer))
            return SendJson(http::status::bad_request,
                            nlohmann_error("the body is {\"spot\": [x, y]} and/or {\"box\": [x0, y0, x1, y1]}"));
        const ConstFrameRef frame = camera.Feed().Latest();
        if (!frame) return SendJson(http::status::conflict, nlohmann_error("no frame has arrived yet"));
        std::string body = "{\"frame\":" + std::to_string(frame->number);
        AppendReadout(body, *frame, pointer);
        return SendJson(http::status::ok, body + "}");
    }
    if (parts.size() == 5 && what == "recording" && (detail == "start" || detail == "stop")) {
        if (only(http::verb::post)) Act(index, detail == "start" ? Action::StartRecording : Action::StopRecording);
        return;
    }
    if (parts.size() == 4 && what == "correct") {
        if (only(http::verb::post)) Act(index, Action::Correct);
        return;
    }
    if (parts.size() == 4 && what == "snapshot") {
        if (only(http::verb::post)) Act(index, Action::Snapshot);
        return;
    }
    const bool byId = parts.size() == 5 && what == "snapshots";
    if ((parts.size() == 4 && (what == "snapshot.png" || what == "snapshot.tiff")) ||
        (byId && (detail.ends_with(".png") || detail.ends_with(".tiff")))) {
        if (!only(http::verb::get)) return;
        const bool png = (byId ? detail : what).ends_with(".png");
        std::shared_ptr<const Snapshot> snapshot;
        if (!byId) {
            snapshot = camera.LastSnapshot();
            if (!snapshot) return SendJson(http::status::not_found, nlohmann_error("no snapshot yet: POST .../snapshot first"));
        } else if (const auto id = SnapshotId(detail.substr(0, detail.rfind('.')))) {
            snapshot = camera.SnapshotById(*id);
        }
        if (!snapshot)
            return SendJson(http::status::not_found,
                            nlohmann_error("no such snapshot: the last " + std::to_string(LiveCamera::kKeptSnapshots) +
                                           " of each camera are kept"));
        if (!png && snapshot->tiff.empty())
            return SendJson(http::status::not_implemented, nlohmann_error("this build writes no TIFF"));
        const std::string name = FileNamePart(camera.Name()) + "-frame-" + std::to_string(snapshot->frame) + (png ? ".png" : ".tif");
        return Send(http::status::ok, png ? "image/png" : "image/tiff", png ? snapshot->png : snapshot->tiff,
                    {{"Content-Disposition", "attachment; filename=\"" + name + "\""}});
    }
    SendJson(http::status::not_found, nlohmann_error("no such camera action"));
}

// A snapshot's reply names the addresses of its files.
std::string WithSnapshotAddresses(std::size_t index, const std::string& reply) {
    nlohmann::json j = nlohmann::json::parse(reply, nullptr, false);
    if (!j.is_object() || !j.contains("id")) return reply;
    const std::string stem = "/api/cameras/" + std::to_string(index) + "/snapshots/" + std::to_string(j["id"].get<std::uint64_t>());
    j["png_url"] = stem + ".png";
    if (j.value("tiff", 0) > 0) j["tiff_url"] = stem + ".tiff";
    return j.dump();
}

void HttpSession::Act(std::size_t index, Action action) {
    std::weak_ptr<HttpSession> weak = shared_from_this();
    std::shared_ptr<Impl::Relay> relay = server_.relay;
    const bool queued = server_.cameras[index]->Submit(action, [weak, relay, index, action, this_server = &server_](const ActionResult& result) {
        relay->Post([weak, result, index, action, this_server] {
            this_server->BroadcastStatus(index, this_server->ending);
            auto self = weak.lock();
            if (!self || !self->waiting_) return;  // gone, or answered as the server ended
            self->waiting_.reset();
            self->SendJson(static_cast<http::status>(result.status),
                           action == Action::Snapshot && result.status == 200 ? WithSnapshotAddresses(index, result.json)
                                                                              : result.json);
        });
    });
    if (!queued) return SendJson(http::status::service_unavailable, nlohmann_error("the camera is busy: try again"));
    waiting_ = shared_from_this();
}

}  // namespace

void LiveServer::Impl::Accept() {
    acceptor.async_accept(ioc, [this](beast::error_code ec, tcp::socket socket) {
        if (ec == net::error::operation_aborted || stopping) return;  // closed: the server ends
        if (ec) {
            // Out of descriptors or memory for a moment: try again shortly rather than spin, and
            // never stop accepting for good.
            acceptRetry.expires_after(kAcceptRetry);
            acceptRetry.async_wait([this](beast::error_code waited) {
                if (!waited && !stopping) Accept();
            });
            return;
        }
        const tcp::endpoint peer = socket.remote_endpoint(ec);
        if (ec || !MakeRoomForConnection(peer.address())) {
            socket.close(ec);  // beyond the bound, a connection is not even read
        } else {
            socket.set_option(tcp::no_delay(true), ec);
            std::make_shared<HttpSession>(*this, std::move(socket), peer.address())->Run();
        }
        Accept();
    });
}

namespace {

// At its address's bound, a connection makes room among that address's own; else among all.
template <class Session>
std::size_t CountFrom(const std::set<Session*>& sessions, const net::ip::address& peer) {
    std::size_t n = 0;
    for (const Session* s : sessions) n += s->Peer() == peer;
    return n;
}

}  // namespace

bool LiveServer::Impl::MakeRoomForConnection(const net::ip::address& peer) {
    const bool ownFull = CountFrom(requests, peer) + CountFrom(viewerSessions, peer) >= settings.limits.maxConnectionsPerAddress;
    if (!ownFull && Open() < settings.limits.maxConnections) return true;
    HttpSession* oldest = nullptr;
    for (HttpSession* r : requests)
        if (!r->Proven() && (!ownFull || r->Peer() == peer) && (!oldest || r->Number() < oldest->Number())) oldest = r;
    if (!oldest) return false;
    oldest->LetGo();
    return true;
}

bool LiveServer::Impl::MakeRoomForViewer(const net::ip::address& peer) {
    const bool ownFull = CountFrom(viewerSessions, peer) >= settings.limits.maxViewersPerAddress;
    if (!ownFull && viewerSessions.size() < settings.limits.maxViewers) return true;
    const auto now = Clock::now();
    Viewer* longest = nullptr;
    for (Viewer* v : viewerSessions)
        if ((!ownFull || v->Peer() == peer) && v->StalledFor(now) >= settings.limits.stalledViewer &&
            (!longest || v->StalledFor(now) > longest->StalledFor(now)))
            longest = v;
    if (!longest) return false;
    longest->LetGo();
    return true;
}

void LiveServer::Impl::BroadcastStatus(std::size_t camera, const std::string& why) {
    LiveCamera& c = *cameras[camera];
    nlohmann::json server{{"viewers", viewers[camera].size()}, {"ending", why.empty() ? nlohmann::json() : nlohmann::json(why)}};
    auto status = std::make_shared<const std::string>("{\"type\":\"status\",\"camera\":" +
                                                      CameraJson(c.Status(), camera, c.Feed().CurrentView()) +
                                                      ",\"server\":" + server.dump() + "}");
    statuses[camera] = status;
    for (Viewer* v : viewers[camera]) v->OfferStatus(status);
}

void LiveServer::Impl::Tick() {
    for (std::size_t i = 0; i < cameras.size(); ++i) BroadcastStatus(i, ending);
    tick.expires_after(kStatusEvery);
    tick.async_wait([this](beast::error_code ec) {
        if (!ec && !stopping) Tick();
    });
}

void LiveServer::Impl::OfferFrame(std::size_t camera, const ConstFrameRef& frame) {
    if (stopping) return;
    for (Viewer* v : viewers[camera]) v->OfferFrame(frame);
}

void LiveServer::Impl::BeginStop(const std::string& why) {
    stopping = true;
    ending = why.empty() ? "the server is ending" : why;
    beast::error_code ec;
    acceptor.close(ec);
    tick.cancel();
    acceptRetry.cancel();
    for (std::size_t i = 0; i < cameras.size(); ++i) {
        BroadcastStatus(i, ending);
        for (Viewer* v : viewers[i]) v->CloseSoon(websocket::close_code::going_away, ending);
    }
    for (HttpSession* r : std::vector<HttpSession*>(requests.begin(), requests.end())) r->EndForStop();
}

void LiveServer::Impl::CloseAll() {
    for (auto& set : viewers)
        for (Viewer* v : set) v->CloseNow();
    for (HttpSession* r : std::vector<HttpSession*>(requests.begin(), requests.end())) r->Close();
}

LiveServer::LiveServer(ServerSettings settings, std::vector<LiveCamera*> cameras)
    : impl_(std::make_shared<Impl>(std::move(settings), std::move(cameras))) {
    for (std::size_t i = 0; i < impl_->cameras.size(); ++i) {
        Impl* impl = impl_.get();
        impl_->cameras[i]->Feed().SetListener([relay = impl_->relay, impl, i](ConstFrameRef frame) {
            relay->Post([impl, i, frame = std::move(frame)] { impl->OfferFrame(i, frame); });
        });
    }
}

LiveServer::~LiveServer() {
    Stop("the server is ending");
    {
        std::lock_guard lock(impl_->relay->mutex);
        impl_->relay->ioc = nullptr;
    }
    // Whatever is still queued (frames, answers) is run down here, so every session ends on
    // this thread while the server's state is still there.
    impl_->ioc.restart();
    boost::asio::post(impl_->ioc, [impl = impl_.get()] { impl->CloseAll(); });
    impl_->ioc.run_for(std::chrono::seconds(2));
}

void LiveServer::Start() {
    Impl& s = *impl_;
    boost::system::error_code ec;
    const auto address = net::ip::make_address(s.settings.address, ec);
    if (ec) throw std::runtime_error("'" + s.settings.address + "' is not an IP address");
    const tcp::endpoint endpoint(address, s.settings.port);
    s.acceptor.open(endpoint.protocol(), ec);
    if (!ec) s.acceptor.set_option(net::socket_base::reuse_address(true), ec);
    if (!ec) s.acceptor.bind(endpoint, ec);
    if (!ec) s.acceptor.listen(net::socket_base::max_listen_connections, ec);
    if (ec)
        throw std::runtime_error("cannot listen on " + s.settings.address + ":" + std::to_string(s.settings.port) +
                                 ": " + ec.message());
    s.Accept();
    s.Tick();
    s.thread = std::thread([&s] { s.ioc.run(); });
}

unsigned short LiveServer::Port() const {
    boost::system::error_code ec;
    const auto endpoint = impl_->acceptor.local_endpoint(ec);
    return ec ? impl_->settings.port : endpoint.port();
}

void LiveServer::Stop(const std::string& why) {
    Impl& s = *impl_;
    if (!s.thread.joinable()) return;
    boost::asio::post(s.ioc, [&s, why] { s.BeginStop(why); });
    // Viewers that read get their last status and a proper close; the rest are cut off.
    const auto deadline = Clock::now() + kCloseGrace;
    while (s.viewerCount.load() > 0 && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    boost::asio::post(s.ioc, [&s] { s.CloseAll(); });
    const auto cutOff = Clock::now() + kCloseGrace;
    while (s.connectionCount.load() > 0 && Clock::now() < cutOff) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    s.ioc.stop();
    s.thread.join();
}

ServerCounters LiveServer::Counters() const {
    return {impl_->framesSent.load(), impl_->viewerCount.load(), impl_->connectionCount.load()};
}

std::string PageAddress(const std::string& address, unsigned short port, const std::string& token) {
    const bool v6 = address.find(':') != std::string::npos;
    std::string host = v6 ? "[" + address + "]" : address;
    if (address == "0.0.0.0" || address == "::") host = v6 ? "[::1]" : "127.0.0.1";
    return "http://" + host + ":" + std::to_string(port) + "/" + (token.empty() ? "" : "?token=" + token);
}

}  // namespace zrfgrab::serve
