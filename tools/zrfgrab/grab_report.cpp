#include "tools/zrfgrab/grab_report.h"

#include <algorithm>
#include <cstdio>

#include "tools/zrfgrab/arguments.h"

namespace zrfgrab {
namespace {

// The length of the well-formed UTF-8 sequence at s[i] (shortest form, no surrogates), or 0.
std::size_t Utf8SequenceLength(const std::string& s, std::size_t i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) return 1;
    const std::size_t n = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return 0;
    std::uint32_t code = c & (n == 2 ? 0x1F : n == 3 ? 0x0F : 0x07);
    for (std::size_t k = 1; k < n; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) return 0;
        code = code << 6 | (b & 0x3F);
    }
    const bool shortest = (n == 3 && code >= 0x800) || (n == 4 && code >= 0x10000) || n == 2;
    const bool scalar = code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
    return shortest && scalar ? n : 0;
}

std::string JsonList(const std::vector<std::string>& items) {
    std::string out = "[";
    for (const std::string& item : items) out += (out.size() > 1 ? ", " : "") + JsonText(item);
    return out + "]";
}

// "FILE (N frames, SIZE)", and what the recording missed: frames the disk could not take.
std::string RecordingText(const RecordingReport& r) {
    std::string text = r.file + " (" + Counted(r.frames, "frame") + ", " + SizeText(static_cast<double>(r.bytes));
    if (r.dropped > 0) text += ", " + std::to_string(r.dropped) + " not recorded";
    return text + ")";
}

std::string CameraJson(const CameraSummary& s, const std::string& endedBy, bool named) {
    const RecordingReport none;
    const RecordingReport& r = s.recording ? *s.recording : none;
    // The numbers in a buffer of their own; the texts (paths of any length) appended whole.
    char text[256];
    std::snprintf(text, sizeof text,
                  "\"delivered\": %llu, \"lost\": %d, \"calibrating\": %llu, \"fps\": %.2f, \"camera_dropped\": %llu, ",
                  static_cast<unsigned long long>(s.delivered), s.lost, static_cast<unsigned long long>(s.calibrating),
                  s.fps, static_cast<unsigned long long>(s.cameraDropped));
    std::string out = text;
    out += "\"recording\": " + (s.recording ? JsonText(r.file) : "null");
    out += ", \"recording_bytes\": " + std::to_string(r.bytes);
    out += ", \"recording_frames\": " + std::to_string(r.frames);
    out += ", \"recording_dropped\": " + std::to_string(r.dropped);
    out += std::string(", \"recording_complete\": ") + (!s.recording ? "null" : r.error.empty() ? "true" : "false");
    out += ", \"recording_error\": " + (r.error.empty() ? "null" : JsonText(r.error));
    out += ", \"recording_most_waiting\": " + std::to_string(r.mostWaiting);
    out += ", \"recording_write_block\": " + std::to_string(r.writeBlock);
    out += ", \"recording_queue_bytes\": " + std::to_string(r.queueBytes);
    out += ", \"picture\": " + (s.picture.empty() ? "null" : JsonText(s.picture)) + ", ";
    const std::string ended = endedBy.empty() ? "null" : JsonText(endedBy);
    return "{" + (named ? "\"camera\": " + JsonText(s.label) + ", " : std::string()) + out +
           "\"ended_by\": " + ended + ", \"errors\": " + JsonList(s.failures) + "}";
}

// Lost, as a person reads it: what the plug-in could not make an image of and what the camera
// dropped; the latter is also told apart (DroppedNote).
std::string LostCount(const CameraSummary& s) {
    return std::to_string(static_cast<std::uint64_t>(std::max(s.lost, 0)) + s.cameraDropped);
}
std::string DroppedNote(const CameraSummary& s) {
    return s.cameraDropped > 0 ? " (" + std::to_string(s.cameraDropped) + " dropped by the camera)" : "";
}

}  // namespace

std::string SizeText(double bytes) {
    char text[32];
    if (bytes < 1e6) std::snprintf(text, sizeof text, "%.0f KB", bytes / 1e3);
    else if (bytes < 1e9) std::snprintf(text, sizeof text, "%.1f MB", bytes / 1e6);
    else std::snprintf(text, sizeof text, "%.1f GB", bytes / 1e9);
    return text;
}

std::string JsonText(const std::string& s) {
    std::string out = "\"";
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
        } else if (c < 0x20 || c == 0x7F) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
            ++i;
        } else if (const std::size_t n = Utf8SequenceLength(s, i); n > 0) {
            out.append(s, i, n);
            i += n;
        } else {
            out += "\\ufffd";
            ++i;
        }
    }
    return out + "\"";
}

std::string SummaryText(const std::vector<CameraSummary>& cameras) {
    char text[512];
    std::string out;
    if (cameras.size() == 1) {
        const CameraSummary& s = cameras.front();
        std::snprintf(text, sizeof text, "frames delivered  %llu (%.1f fps)\nframes lost       ",
                      static_cast<unsigned long long>(s.delivered), s.fps);
        out += text + LostCount(s) + DroppedNote(s);
        std::snprintf(text, sizeof text, "\ncalibrations      %llu\n", static_cast<unsigned long long>(s.calibrating));
        out += text;
        if (s.recording) out += "recording         " + RecordingText(*s.recording) + "\n";
        if (!s.picture.empty()) out += "picture           " + s.picture + "\n";
        return out;
    }
    std::size_t width = 0;
    for (const CameraSummary& s : cameras) width = std::max(width, s.label.size());
    for (const CameraSummary& s : cameras) {
        out += s.label + std::string(width - s.label.size(), ' ');
        std::snprintf(text, sizeof text, "  %llu frames (%.1f fps), ", static_cast<unsigned long long>(s.delivered), s.fps);
        out += text + LostCount(s) + " lost" + DroppedNote(s);
        std::snprintf(text, sizeof text, ", %llu calibrations", static_cast<unsigned long long>(s.calibrating));
        out += text;
        if (s.recording) out += ", recording " + RecordingText(*s.recording);
        if (!s.picture.empty()) out += ", picture " + s.picture;
        out += "\n";
    }
    return out;
}

std::string SummaryJson(const std::vector<CameraSummary>& cameras, const std::string& endedBy) {
    if (cameras.size() == 1) return CameraJson(cameras.front(), endedBy, false) + "\n";
    std::string out = "{\"cameras\": [";
    for (std::size_t i = 0; i < cameras.size(); ++i)
        out += (i > 0 ? ", " : "") + CameraJson(cameras[i], endedBy, true);
    return out + "]}\n";
}

}  // namespace zrfgrab
