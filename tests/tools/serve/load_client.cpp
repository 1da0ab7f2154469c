// Viewers for the load test of zrfgrab serve: many WebSocket viewers that read every frame, and
// some that read nothing for a while and then read again. Counts what each received, in windows
// of time, and prints it as JSON. Bounded: it ends after the seconds given, whatever happens.
//
//   serve_load_client PORT CAMERAS READERS STALLED SECONDS WINDOW_SECONDS
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>

namespace {

namespace beast = boost::beast;
namespace websocket = beast::websocket;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;

struct Viewer {
    Viewer(net::io_context& ioc, int camera) : ws(ioc), camera(camera) {}
    websocket::stream<tcp::socket> ws;
    beast::flat_buffer buffer;
    int camera;
    bool stalled = false;
    bool open = false;
    std::vector<std::uint64_t> windows;  // frames received in each window
    std::uint64_t frames = 0;
    std::uint64_t bytes = 0;  // of frame messages: the JPEG and its JSON
    std::uint64_t framesAfterResume = 0;
    long long firstAfterResume = -1;  // the first frame's number once reading again
    long long lastFrame = -1;
    std::string error;
};

long long FrameNumber(const beast::flat_buffer& buffer) {
    const auto bytes = buffer.data();
    const std::string_view message(static_cast<const char*>(bytes.data()), bytes.size());
    const auto at = message.find("\"frame\":");
    return at == std::string_view::npos ? -1 : std::atoll(std::string(message.substr(at + 8, 20)).c_str());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 7) {
        std::fprintf(stderr, "usage: %s PORT CAMERAS READERS STALLED SECONDS WINDOW_SECONDS\n", argv[0]);
        return 2;
    }
    const std::string port = argv[1];
    const int cameras = std::atoi(argv[2]), readers = std::atoi(argv[3]), stalled = std::atoi(argv[4]);
    const double seconds = std::atof(argv[5]), window = std::atof(argv[6]);
    const double resumeFor = 3.0;
    net::io_context ioc;
    std::vector<std::unique_ptr<Viewer>> viewers;
    const auto endpoints = tcp::resolver(ioc).resolve("127.0.0.1", port);
    const std::size_t windows = static_cast<std::size_t>(seconds / window);
    Clock::time_point start;

    std::function<void(Viewer&)> read = [&](Viewer& v) {
        v.ws.async_read(v.buffer, [&, pv = &v](beast::error_code ec, std::size_t) {
            Viewer& v = *pv;
            if (ec) {
                v.open = false;
                if (v.error.empty()) v.error = ec.message();
                return;
            }
            const double at = std::chrono::duration<double>(Clock::now() - start).count();
            if (!v.ws.got_text()) {
                const long long number = FrameNumber(v.buffer);
                ++v.frames;
                v.bytes += v.buffer.size();
                const auto w = static_cast<std::size_t>(at / window);
                if (w < v.windows.size()) ++v.windows[w];
                if (v.stalled && at >= seconds) {
                    if (v.firstAfterResume < 0) v.firstAfterResume = number;
                    ++v.framesAfterResume;
                }
                v.lastFrame = number;
            }
            v.buffer.consume(v.buffer.size());
            read(v);
        });
    };

    for (int i = 0; i < readers + stalled; ++i) {
        auto v = std::make_unique<Viewer>(ioc, i < readers ? i % cameras : 0);
        v->stalled = i >= readers;
        v->windows.assign(windows, 0);
        auto& socket = beast::get_lowest_layer(v->ws);
        socket.open(tcp::v4());
        // A small receive buffer: a viewer that does not read stalls the server's sending soon.
        if (v->stalled) socket.set_option(net::socket_base::receive_buffer_size(4096));
        net::connect(socket, endpoints);
        v->ws.read_message_max(16 * 1024 * 1024);
        v->ws.handshake("127.0.0.1:" + port, "/api/cameras/" + std::to_string(v->camera) + "/live");
        v->open = true;
        viewers.push_back(std::move(v));
    }
    start = Clock::now();
    for (auto& v : viewers)
        if (!v->stalled) read(*v);
    net::steady_timer resume(ioc, std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds)));
    resume.async_wait([&](beast::error_code) {
        for (auto& v : viewers)
            if (v->stalled && v->open) read(*v);
    });
    ioc.run_for(std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds + resumeFor)));

    std::printf("{\"viewers\": [");
    for (std::size_t i = 0; i < viewers.size(); ++i) {
        const Viewer& v = *viewers[i];
        std::printf("%s\n {\"camera\": %d, \"stalled\": %s, \"frames\": %llu, \"bytes\": %llu, \"after_resume\": %llu, "
                    "\"first_after_resume\": %lld, \"last_frame\": %lld, \"open\": %s, \"error\": \"%s\", \"windows\": [",
                    i ? "," : "", v.camera, v.stalled ? "true" : "false", static_cast<unsigned long long>(v.frames),
                    static_cast<unsigned long long>(v.bytes), static_cast<unsigned long long>(v.framesAfterResume), v.firstAfterResume, v.lastFrame,
                    v.open ? "true" : "false", v.error.c_str());
        for (std::size_t w = 0; w < v.windows.size(); ++w)
            std::printf("%s%llu", w ? ", " : "", static_cast<unsigned long long>(v.windows[w]));
        std::printf("]}");
    }
    std::printf("]}\n");
    return 0;
}
