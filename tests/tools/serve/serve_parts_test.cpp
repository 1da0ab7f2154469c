// The live view's parts on their own: readouts, what clients may send, the frame pool and feed,
// the JPEG encoder and serve's options.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdio>
#include <future>
#include <numeric>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <nlohmann/json.hpp>

#include "host/xml/x_element.h"
#include "tools/zrfgrab/arguments.h"
#include "tools/zrfgrab/grab_session.h"
#include "tools/zrfgrab/serve/frame_feed.h"
#include "tools/zrfgrab/serve/jpeg_encoder.h"
#include "tools/zrfgrab/serve/live_server.h"
#include "tools/zrfgrab/serve/readout.h"
#include "tests/tools/serve/serve_command_line.h"
#include "tools/zrfgrab/serve/serve_options.h"
#include "tools/zrfgrab/serve/viewer_protocol.h"

namespace zrfgrab::serve {
namespace {

using ::testing::HasSubstr;

// Counts that say where they are: x + 100 * y, so a box's least count is its top-left corner
// and its greatest its bottom-right, and its mean that of its corners.
struct Ramp {
    static constexpr int kWidth = 40, kHeight = 30;
    std::vector<std::uint16_t> counts;
    Ramp() {
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) counts.push_back(static_cast<std::uint16_t>(x + 100 * y));
    }
    CountsView View() const { return {kWidth, kHeight, counts}; }
};

struct BoxCase {
    const char* name;
    Box box;
    bool inside;
    int left, top, right, bottom;  // the box clipped to the frame
};

TEST(Readout, BoxesAreClippedToTheFrameInAnyOrderOfCorners) {
    const Ramp ramp;
    const BoxCase cases[] = {
        {"inside", {3, 4, 10, 12}, true, 3, 4, 10, 12},
        {"corners reversed", {10, 12, 3, 4}, true, 3, 4, 10, 12},
        {"one pixel", {7, 7, 7, 7}, true, 7, 7, 7, 7},
        {"past every edge", {-5, -5, 100, 100}, true, 0, 0, 39, 29},
        {"past the right edge", {35, 2, 60, 3}, true, 35, 2, 39, 3},
        {"the last pixel", {39, 29, 39, 29}, true, 39, 29, 39, 29},
        {"left of the frame", {-10, 0, -1, 5}, false, 0, 0, 0, 0},
        {"below the frame", {0, 30, 5, 40}, false, 0, 0, 0, 0},
        {"far beyond", {-kMaxCoordinate, -kMaxCoordinate, -kMaxCoordinate, -kMaxCoordinate}, false, 0, 0, 0, 0},
    };
    for (const BoxCase& c : cases) {
        SCOPED_TRACE(c.name);
        const auto stats = BoxStats(ramp.View(), c.box);
        ASSERT_EQ(stats.has_value(), c.inside);
        if (!c.inside) continue;
        EXPECT_EQ(stats->coldest, (PixelCount{c.left, c.top, static_cast<std::uint16_t>(c.left + 100 * c.top)}));
        EXPECT_EQ(stats->hottest, (PixelCount{c.right, c.bottom, static_cast<std::uint16_t>(c.right + 100 * c.bottom)}));
        EXPECT_EQ(stats->pixels, std::uint64_t(c.right - c.left + 1) * std::uint64_t(c.bottom - c.top + 1));
        EXPECT_DOUBLE_EQ(stats->mean, (c.left + c.right) / 2.0 + 100 * (c.top + c.bottom) / 2.0);
    }
}

TEST(Readout, TiesGoToTheFirstPixelInRowOrderAndTheMeanIsExact) {
    std::vector<std::uint16_t> counts(12, 500);
    counts[5] = 65535;
    counts[9] = 65535;
    counts[2] = 0;
    counts[7] = 0;
    const CountsView view{4, 3, counts};
    const auto stats = FrameStats(view);
    ASSERT_TRUE(stats);
    EXPECT_EQ(stats->hottest, (PixelCount{1, 1, 65535}));
    EXPECT_EQ(stats->coldest, (PixelCount{2, 0, 0}));
    EXPECT_DOUBLE_EQ(stats->mean, (8 * 500.0 + 2 * 65535.0) / 12);
}

TEST(Readout, APixelReadsOnlyInsideAValidFrame) {
    const Ramp ramp;
    EXPECT_EQ(CountAt(ramp.View(), 39, 29), (PixelCount{39, 29, 39 + 2900}));
    EXPECT_EQ(CountAt(ramp.View(), 0, 0), (PixelCount{0, 0, 0}));
    for (auto [x, y] : {std::pair<std::int64_t, std::int64_t>{40, 0}, {0, 30}, {-1, 3}, {3, -1}, {INT64_MAX, 0}}) {
        SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
        EXPECT_FALSE(CountAt(ramp.View(), x, y));
    }
    // A frame whose counts are fewer than its sides say reads nothing.
    const std::vector<std::uint16_t> few(10);
    EXPECT_FALSE(CountAt({4, 3, few}, 0, 0));
    EXPECT_FALSE(FrameStats({4, 3, few}));
    EXPECT_FALSE(FrameStats({0, 3, few}));
}

TEST(ViewerProtocol, PointerMessagesAreTakenWholeOrNotAtAll) {
    struct Case {
        const char* text;
        bool accepted;
    };
    const Case cases[] = {
        {R"({"spot": [3, 4]})", true},
        {R"({"box": [1, 2, 3, 4]})", true},
        {R"({"spot": null, "box": null})", true},
        {R"({"spot": [3, 4], "box": [0, 0, -5, 1000000]})", true},
        {R"({"spot": [3]})", false},
        {R"({"spot": [3, 4, 5]})", false},
        {R"({"spot": [3.5, 4]})", false},
        {R"({"spot": ["3", 4]})", false},
        {R"({"spot": [1000001, 0]})", false},
        {R"({"spot": [-1000001, 0]})", false},
        // Numbers past 2^63 are compared as the numbers they are, never wrapped to a negative.
        {R"({"box": [18446744073709551516, 0, 100, 100]})", false},
        {R"({"spot": [9223372036854775808, 0]})", false},
        {R"({"spot": [18446744073709551615, 0]})", false},
        {R"({"spot": [99999999999999999999999, 0]})", false},
        {R"({"spot": [1000000, -1000000]})", true},
        {R"({"box": [1, 2, 3]})", false},
        {R"({"box": {"x": 1}})", false},
        {R"({"spot": [1, 2], "zoom": 2})", false},
        {R"({})", false},
        {R"([1, 2])", false},
        {R"({"spot": [1, 2])", false},
        {"", false},
        {"\xff\xfe", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Pointer pointer{Spot{9, 9}, std::nullopt};
        EXPECT_EQ(ApplyPointerMessage(c.text, pointer), c.accepted);
        if (!c.accepted) {
            ASSERT_TRUE(pointer.spot);  // left as it was
            EXPECT_EQ(pointer.spot->x, 9);
            EXPECT_FALSE(pointer.box);
        }
    }
    Pointer pointer;
    ASSERT_TRUE(ApplyPointerMessage(R"({"spot": [3, 4], "box": [5, 6, 7, 8]})", pointer));
    EXPECT_EQ(pointer.spot->y, 4);
    EXPECT_EQ(pointer.box->x1, 7);
    ASSERT_TRUE(ApplyPointerMessage(R"({"spot": null})", pointer));
    EXPECT_FALSE(pointer.spot);
    EXPECT_TRUE(pointer.box);  // a member left out is kept
}

TEST(ViewerProtocol, ReadoutsAreWellFormedAndReadTheFrame) {
    const Ramp ramp;
    LiveFrame frame;
    frame.width = Ramp::kWidth;
    frame.height = Ramp::kHeight;
    frame.counts = ramp.counts;
    Pointer pointer{Spot{5, 2}, Box{1, 1, 2, 2}};
    std::string out = "{\"frame\":1";
    AppendReadout(out, frame, pointer);
    const auto json = nlohmann::json::parse(out + "}");
    EXPECT_EQ(json["spot"]["count"], 205);
    EXPECT_EQ(json["box"]["coldest"]["count"], 101);
    EXPECT_EQ(json["box"]["hottest"]["count"], 202);
    EXPECT_EQ(json["box"]["pixels"], 4);
    EXPECT_DOUBLE_EQ(json["box"]["mean"].get<double>(), 151.5);

    pointer = {Spot{-1, 0}, Box{50, 50, 60, 60}};
    out = "{";
    AppendReadout(out, frame, pointer);
    const auto outside = nlohmann::json::parse("{\"x\":0" + out.substr(1) + "}");
    EXPECT_TRUE(outside["spot"].is_null());
    EXPECT_TRUE(outside["box"].is_null());

    out.clear();
    AppendReadout(out, frame, Pointer{});
    EXPECT_EQ(out, "");  // nothing asked, nothing said
}

TEST(ViewerProtocol, ViewRequestsChangeOnlyWhatTheyName) {
    struct Case {
        const char* text;
        bool accepted;
        const char* why;
    };
    const Case cases[] = {
        {R"({"palette": "grey"})", true, ""},
        {R"({"low": 100, "high": 200})", true, ""},
        {R"({"range": "auto"})", true, ""},
        {R"({"palette": "hot", "low": 0, "high": 65535})", true, ""},
        {R"({"palette": "sepia"})", false, "sepia"},
        {R"({"palette": 3})", false, "palette"},
        {R"({"low": 100})", false, "both"},
        {R"({"low": 200, "high": 200})", false, "below"},
        {R"({"low": 300, "high": 200})", false, "below"},
        {R"({"low": -1, "high": 200})", false, "0 to 65535"},
        {R"({"low": 0, "high": 65536})", false, "0 to 65535"},
        {R"({"low": 1.5, "high": 20})", false, "0 to 65535"},
        {R"({"low": 18446744073709551615, "high": 20})", false, "0 to 65535"},
        {R"({"low": 0, "high": 18446744073709486080})", false, "0 to 65535"},
        {R"({"range": "fixed"})", false, "auto"},
        {R"({"range": "auto", "low": 1, "high": 2})", false, "choose one"},
        {R"({"gain": 2})", false, "unknown member"},
        {R"([])", false, "JSON object"},
        {R"({"palette": )", false, "JSON object"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        View view;
        view.fixedRange = Vorn::Picture::CountRange{10, 20};
        std::string why;
        EXPECT_EQ(ApplyViewRequest(c.text, view, why), c.accepted);
        if (!c.accepted) {
            EXPECT_THAT(why, HasSubstr(c.why));
            EXPECT_EQ(view.palette->Name(), "iron");
            EXPECT_EQ(view.fixedRange, (Vorn::Picture::CountRange{10, 20}));
        }
    }
    View view;
    std::string why;
    ASSERT_TRUE(ApplyViewRequest(R"({"palette": "grey", "low": 100, "high": 200})", view, why));
    EXPECT_EQ(nlohmann::json::parse(ViewJson(view)), nlohmann::json::parse(R"({"palette":"grey","low":100,"high":200})"));
    ASSERT_TRUE(ApplyViewRequest(R"({"range": "auto"})", view, why));
    EXPECT_EQ(nlohmann::json::parse(ViewJson(view)), nlohmann::json::parse(R"({"palette":"grey","range":"auto"})"));
}

TEST(ViewerProtocol, EveryPaletteIsListedWith256Colours) {
    const auto all = nlohmann::json::parse(PalettesJson());
    ASSERT_EQ(all.size(), Vorn::Picture::Palette::Names().size());
    const auto& grey = all.at("grey");
    ASSERT_EQ(grey.size(), 256u);
    EXPECT_EQ(grey[0], "#000000");
    EXPECT_EQ(grey[255], "#ffffff");
}

TEST(ViewerProtocol, CameraStatusesStayWellFormedWhateverTheirNames) {
    CameraStatus status;
    status.name = "rec\xff\"\n.zrec";  // a file's name may hold any bytes
    status.recordingFile = "a\\b";
    status.lost = 2;
    status.cameraDropped = 18446744073709551615u;  // counts are told apart and kept whole
    const auto json = nlohmann::json::parse(CameraJson(status, 3, View{}));
    EXPECT_EQ(json["index"], 3);
    EXPECT_EQ(json["lost"], 2u);
    EXPECT_EQ(json["camera_dropped"], 18446744073709551615u);
    EXPECT_EQ(json["name"], "rec\xEF\xBF\xBD\"\n.zrec");
    EXPECT_EQ(json["recording_file"], "a\\b");
    EXPECT_EQ(json["view"]["palette"], "iron");
}

// Counts come from the device's settings: anything but a plain decimal number reads as none.
TEST(ViewerProtocol, CountsTheDeviceReportsAreTakenOnlyWhenPlainNumbers) {
    const std::pair<const char*, std::uint64_t> cases[] = {
        {"0", 0},   {"12", 12}, {"18446744073709551615", 18446744073709551615u},
        {"-1", 0},  {"+3", 0},  {"18446744073709551616", 0}, {"12abc", 0}, {" 12", 0}, {"", 0}, {"0x10", 0},
    };
    for (const auto& [text, count] : cases) {
        System::Xml::Linq::XElement recorder("Recorder");
        recorder.SetAttribute("DroppedFrames", text);
        EXPECT_EQ(zrfgrab::CountAttribute(recorder, "DroppedFrames"), count) << text;
    }
    EXPECT_EQ(zrfgrab::CountAttribute(System::Xml::Linq::XElement("Recorder"), "DroppedFrames"), 0u);
}

// Images the recorder left out are part of every account of a recording: the viewers' status,
// the lines serve prints.
TEST(ViewerProtocol, ImagesNotRecordedAreReportedWithTheFramesRecorded) {
    struct Case {
        std::uint64_t frames, dropped;
        const char* text;
    };
    const Case cases[] = {
        {0, 0, "0 frames"},
        {1, 0, "1 frame"},
        {12, 0, "12 frames"},
        {12, 1, "12 frames, 1 not recorded"},
        {0, 3, "0 frames, 3 not recorded"},
        {18446744073709551615u, 18446744073709551615u,
         "18446744073709551615 frames, 18446744073709551615 not recorded"},
    };
    for (const Case& c : cases) {
        CameraStatus status;
        status.recordingFrames = c.frames;
        status.recordingDropped = c.dropped;
        EXPECT_EQ(RecordedCount(status), c.text);
        const auto json = nlohmann::json::parse(CameraJson(status, 0, View{}));
        EXPECT_EQ(json["recording_frames"].get<std::uint64_t>(), c.frames);
        EXPECT_EQ(json["recording_dropped"].get<std::uint64_t>(), c.dropped);
    }
}

// The note of a disappearance names a recording only when it closed one, and never a file that
// was not kept.
TEST(ViewerProtocol, ADisappearanceNamesOnlyTheRecordingItClosed) {
    struct Case {
        bool closed;
        std::uint64_t frames, dropped;
        const char* note;
    };
    const Case cases[] = {
        {false, 12, 0, "camera cam disappeared"},
        {false, 0, 0, "camera cam disappeared"},
        {true, 12, 0, "camera cam disappeared; its recording r.zrec was closed with 12 frames"},
        {true, 12, 2, "camera cam disappeared; its recording r.zrec was closed with 12 frames, 2 not recorded"},
        {true, 0, 0, "camera cam disappeared; its recording had no frame, so no file was kept"},
        {true, 0, 3, "camera cam disappeared; no image of its recording was recorded, so no file was kept"},
    };
    for (const Case& c : cases) {
        CameraStatus status;
        status.name = "cam";
        status.recordingFile = "r.zrec";
        status.recordingEnd = "a client stopped it";  // an earlier recording's end stays in the status
        status.recordingClosedByDisappearance = c.closed;
        status.recordingFrames = c.frames;
        status.recordingDropped = c.dropped;
        EXPECT_EQ(GoneNote(status), c.note);
        const auto json = nlohmann::json::parse(CameraJson(status, 0, View{}));
        EXPECT_EQ(json["recording_closed_by_disappearance"].get<bool>(), c.closed);
    }
}

// serve tells of each disappearance once: again after the camera came back and went anew.
TEST(ViewerProtocol, EachDisappearanceIsToldOnce) {
    struct Case {
        const char* states;  // one letter a poll: s streaming, g gone, t stopped
        const char* told;    // where a note comes
    };
    const Case cases[] = {
        {"ssss", "...."}, {"sggg", ".x.."}, {"gg", "x."},
        {"sggsgg", ".x..x."}, {"sgsgsg", ".x.x.x"}, {"sgtg", ".x.x"},
    };
    for (const Case& c : cases) {
        DisappearanceNotes notes;
        std::string told;
        for (const char* state = c.states; *state != 0; ++state) {
            CameraStatus status;
            status.name = "cam";
            status.state = *state == 'g' ? "gone" : *state == 't' ? "stopped" : "streaming";
            const auto note = notes.Next(status);
            told += note ? 'x' : '.';
            if (note) {
                EXPECT_EQ(*note, "camera cam disappeared");
            }
        }
        EXPECT_EQ(told, c.told) << c.states;
    }
}

TEST(FramePool, HoldsNoMoreThanItsCapacityAndReusesFramesLetGo) {
    FramePool pool(3);
    std::vector<FrameRef> held;
    for (int i = 0; i < 3; ++i) held.push_back(pool.Acquire());
    for (const auto& f : held) ASSERT_TRUE(f);
    EXPECT_FALSE(pool.Acquire());
    EXPECT_EQ(pool.Allocated(), 3u);
    LiveFrame* first = held[0].get();
    first->counts.assign(1000, 7);
    ConstFrameRef reader = held[0];  // a second holder keeps it from the pool
    held[0].reset();
    EXPECT_FALSE(pool.Acquire());
    reader.reset();
    const FrameRef again = pool.Acquire();
    EXPECT_EQ(again.get(), first);
    EXPECT_GE(again->counts.capacity(), 1000u);  // its buffers come back with it
    EXPECT_EQ(pool.Allocated(), 3u);
}

// A feed whose listener can be held, to see what it does while its client is slow.
struct HeldFeed {
    FrameFeed feed{8};
    std::mutex mutex;
    std::condition_variable changed;
    bool hold = false;
    std::vector<ConstFrameRef> seen;

    HeldFeed() {
        feed.SetListener([this](ConstFrameRef frame) {
            std::unique_lock lock(mutex);
            seen.push_back(frame);
            changed.notify_all();
            changed.wait(lock, [&] { return !hold; });
        });
        feed.Start();
    }
    ~HeldFeed() {
        Release();
        feed.Stop();
    }
    void Release() {
        std::lock_guard lock(mutex);
        hold = false;
        changed.notify_all();
    }
    ConstFrameRef WaitFor(std::uint64_t number) {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return !seen.empty() && seen.back()->number >= number; });
        return seen.back();
    }
};

std::vector<std::uint16_t> Frame(int width, int height, std::uint16_t base) {
    std::vector<std::uint16_t> counts(static_cast<std::size_t>(width) * height);
    std::iota(counts.begin(), counts.end(), base);
    return counts;
}

TEST(FrameFeed, ANewerFrameReplacesOneWaitingAndOfferingNeverWaits) {
    HeldFeed held;
    {
        std::lock_guard lock(held.mutex);
        held.hold = true;
    }
    const auto counts = Frame(16, 8, 100);
    ASSERT_TRUE(held.feed.Offer(1, 16, 8, counts));
    held.WaitFor(1);  // now held inside the listener
    // Offers return while the feed's client is stuck: capture never waits for it.
    for (std::uint64_t n = 2; n <= 20; ++n) ASSERT_TRUE(held.feed.Offer(n, 16, 8, Frame(16, 8, static_cast<std::uint16_t>(n))));
    held.Release();
    const ConstFrameRef last = held.WaitFor(20);
    std::lock_guard lock(held.mutex);
    EXPECT_EQ(held.seen.size(), 2u);  // the first and the newest; those between were replaced
    EXPECT_EQ(held.feed.Skipped(), 18u);
    EXPECT_EQ(last->counts, Frame(16, 8, 20));
    EXPECT_EQ(last->stats.hottest.count, 20 + 16 * 8 - 1);
}

TEST(FrameFeed, RefusesFramesWithoutTheirCounts) {
    FrameFeed feed(2);
    const std::vector<std::uint16_t> counts(99);
    EXPECT_FALSE(feed.Offer(1, 10, 10, counts));
    EXPECT_FALSE(feed.Offer(1, 0, 10, counts));
    EXPECT_FALSE(feed.Offer(1, -3, -33, counts));
    EXPECT_TRUE(feed.Offer(1, 9, 11, counts));
}

TEST(FrameFeed, EncodesOnlyWhileWatchedAndHonoursAFixedRange) {
    HeldFeed held;
    const auto counts = Frame(64, 48, 1000);
    ASSERT_TRUE(held.feed.Offer(1, 64, 48, counts));
    EXPECT_TRUE(held.WaitFor(1)->jpeg.empty());

    held.feed.AddWatcher();
    ASSERT_TRUE(held.feed.Offer(2, 64, 48, counts));
    const ConstFrameRef automatic = held.WaitFor(2);
    ASSERT_GT(automatic->jpeg.size(), 4u);
    EXPECT_EQ(automatic->jpeg[0], 0xFF);
    EXPECT_EQ(automatic->jpeg[1], 0xD8);
    EXPECT_GE(automatic->range.low, 1000);
    EXPECT_LE(automatic->range.high, 1000 + 64 * 48 - 1);

    View view;
    view.palette = &Vorn::Picture::Palette::Grey();
    view.fixedRange = Vorn::Picture::CountRange{5, 6000};
    held.feed.SetView(view);
    ASSERT_TRUE(held.feed.Offer(3, 64, 48, counts));
    const ConstFrameRef fixed = held.WaitFor(3);
    EXPECT_EQ(fixed->range, (Vorn::Picture::CountRange{5, 6000}));
    const auto summary = nlohmann::json::parse("{" + fixed->summary + "}");
    EXPECT_EQ(summary["palette"], "grey");
    EXPECT_EQ(summary["fixed"], true);
    EXPECT_EQ(summary["frame"], 3);
    EXPECT_EQ(summary["hottest"]["count"], 1000 + 64 * 48 - 1);
    EXPECT_EQ(summary["coldest"]["x"], 0);

    held.feed.RemoveWatcher();
    ASSERT_TRUE(held.feed.Offer(4, 64, 48, counts));
    EXPECT_TRUE(held.WaitFor(4)->jpeg.empty());
}

// libjpeg's decoder, to read back what the encoder wrote.
struct Decoded {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgb;
};
struct DecodeErrors {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};
extern "C" void OnDecodeError(j_common_ptr info) { std::longjmp(reinterpret_cast<DecodeErrors*>(info->err)->jump, 1); }

bool Decode(const std::vector<std::uint8_t>& jpeg, Decoded& out) {
    jpeg_decompress_struct info;
    DecodeErrors errors;
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = OnDecodeError;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    out.width = static_cast<int>(info.output_width);
    out.height = static_cast<int>(info.output_height);
    out.rgb.resize(static_cast<std::size_t>(out.width) * out.height * 3);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = out.rgb.data() + static_cast<std::size_t>(info.output_scanline) * out.width * 3;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

TEST(JpegEncoder, PicturesOfEverySizeDecodeBackAndTheBufferIsKept) {
    JpegEncoder encoder;
    std::vector<std::uint8_t> out;
    std::mt19937 random(7);
    // Noise compresses badly: the largest picture outgrows the encoder's first buffer.
    for (auto [width, height, noisy] : {std::tuple{1, 1, false}, {17, 9, false}, {640, 480, false}, {1024, 768, true}}) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        Vorn::Picture::RgbImage picture(width, height);
        picture.Fill({200, 40, 10});
        if (noisy)
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x)
                    picture.Set(x, y, {static_cast<std::uint8_t>(random()), static_cast<std::uint8_t>(random()),
                                       static_cast<std::uint8_t>(random())});
        ASSERT_TRUE(encoder.Encode(picture, out)) << encoder.Error();
        Decoded decoded;
        ASSERT_TRUE(Decode(out, decoded));
        EXPECT_EQ(decoded.width, width);
        EXPECT_EQ(decoded.height, height);
        if (noisy) {
            EXPECT_GT(out.size(), 256u * 1024);
            continue;
        }
        const std::size_t middle = (static_cast<std::size_t>(height / 2) * width + width / 2) * 3;
        EXPECT_NEAR(decoded.rgb[middle], 200, 8);
        EXPECT_NEAR(decoded.rgb[middle + 1], 40, 8);
        EXPECT_NEAR(decoded.rgb[middle + 2], 10, 8);
    }
    const std::size_t capacity = out.capacity();
    Vorn::Picture::RgbImage small(32, 32);
    ASSERT_TRUE(encoder.Encode(small, out));
    EXPECT_EQ(out.capacity(), capacity);
    EXPECT_FALSE(encoder.Encode(Vorn::Picture::RgbImage(), out));
}

TEST(ServeOptions, ArgumentsAreCheckedBeforeAnyWork) {
    struct Case {
        const char* line;
        const char* error;  // empty: accepted
    };
    const Case cases[] = {
        {"", ""},
        {"--camera usb-ir --camera fw-ir --replay a.zrec", ""},
        {"--listen 0.0.0.0:9000 --token abcdefghijklmnop", ""},
        {"--listen [::1]:0", ""},
        {"--camera usb-ir --camera usb-ir", ""},
        {"--replay a.zrec --replay a.zrec", "named twice"},
        {"--camera nosuch", "unknown camera 'nosuch'"},
        {"--camera", "needs a value"},
        {"--listen 127.0.0.1", "ADDRESS:PORT"},
        {"--listen 127.0.0.1:", "ADDRESS:PORT"},
        {"--listen 127.0.0.1:65536", "0 to 65535"},
        {"--listen 127.0.0.1:80a", "0 to 65535"},
        {"--listen 127.0.0.1:-1", "0 to 65535"},
        {"--listen example.org:80", "not an IP address"},
        {"--listen :80", "not an IP address"},
        {"--token short", "16 to 128"},
        {"--token abcdefghijklmnop/", "letters, digits"},
        {"--token abcdefghijklmnop\"", "letters, digits"},
        {"--listen 127.0.0.1:1 --listen 127.0.0.1:2", "given twice"},
        {"--record-dir a --record-dir b", "given twice"},
        {"--seed -1", "--seed"},
        {"--frames 3", "unknown option"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        if (*c.error == 0) {
            EXPECT_NO_THROW(ParseCommandLine(c.line));
            continue;
        }
        try {
            ParseCommandLine(c.line);
            ADD_FAILURE() << "accepted";
        } catch (const UsageError& e) {
            EXPECT_THAT(e.what(), HasSubstr(c.error));
        }
    }
}

TEST(ServeOptions, DefaultsAndTokens) {
    const ServeOptions plain = ParseCommandLine("");
    ASSERT_EQ(plain.cameras.size(), 1u);
    EXPECT_EQ(plain.cameras[0].preset, "usb-ir");
    EXPECT_EQ(plain.address, "127.0.0.1");
    EXPECT_EQ(plain.port, 8080);
    EXPECT_EQ(plain.recordDir, "zrfgrab-recordings");
    EXPECT_TRUE(plain.token.empty());  // loopback asks for none

    // A preset named again is its next camera, counted per kind as grab counts them.
    const ServeOptions several = ParseCommandLine("--camera usb-ir --camera fw-ir --replay a.zrec --camera usb-ir --camera usb-ir");
    ASSERT_EQ(several.cameras.size(), 5u);
    const int instances[] = {0, 0, 0, 1, 2};
    for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(several.cameras[i].instance, instances[i]) << i;
    EXPECT_EQ(several.cameras[2].replay, "a.zrec");

    const ServeOptions open = ParseCommandLine("--listen 0.0.0.0:0");
    EXPECT_TRUE(open.tokenGenerated);
    EXPECT_EQ(open.token.size(), 32u);
    EXPECT_EQ(open.token.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_NE(ParseCommandLine("--listen 0.0.0.0:0").token, open.token);
    EXPECT_EQ(ParseCommandLine("--listen 0.0.0.0:0 --token abcdefghijklmnop").token, "abcdefghijklmnop");

    const ServeOptions order = ParseCommandLine("--replay r.zrec --camera fw-ir");
    ASSERT_EQ(order.cameras.size(), 2u);
    EXPECT_EQ(order.cameras[0].replay, "r.zrec");
    EXPECT_EQ(order.cameras[1].preset, "fw-ir");

    for (auto [address, loopback] : {std::pair{"127.0.0.1", true}, {"127.1.2.3", true}, {"::1", true},
                                     {"0.0.0.0", false}, {"::", false}, {"192.0.2.1", false}, {"nonsense", false}}) {
        SCOPED_TRACE(address);
        EXPECT_EQ(IsLoopbackAddress(address), loopback);
    }
}

TEST(ServeOptions, ThePrintedAddressReachesTheServer) {
    EXPECT_EQ(PageAddress("127.0.0.1", 8080, ""), "http://127.0.0.1:8080/");
    EXPECT_EQ(PageAddress("0.0.0.0", 80, "t0k"), "http://127.0.0.1:80/?token=t0k");
    EXPECT_EQ(PageAddress("::1", 9, ""), "http://[::1]:9/");
    EXPECT_EQ(PageAddress("::", 9, ""), "http://[::1]:9/");
    EXPECT_EQ(PageAddress("192.0.2.7", 1, ""), "http://192.0.2.7:1/");
}

}  // namespace
}  // namespace zrfgrab::serve
