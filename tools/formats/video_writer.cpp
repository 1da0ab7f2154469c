#include "tools/formats/video_writer.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
}

namespace Vorn::Picture {
namespace {

constexpr int kIoBufferBytes = 1 << 16;

#if LIBAVFORMAT_VERSION_MAJOR >= 61
using WrittenBytes = const std::uint8_t*;
#else
using WrittenBytes = std::uint8_t*;
#endif

std::string AvError(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = "";
    av_strerror(error, text, sizeof text);
    return text;
}

std::size_t HalfUp(int n) { return static_cast<std::size_t>(n) / 2 + static_cast<std::size_t>(n) % 2; }

}  // namespace

std::size_t VideoPictureBytes(VideoLayout layout, int width, int height) {
    if (width <= 0 || height <= 0) return 0;
    const std::size_t w = static_cast<std::size_t>(width), h = static_cast<std::size_t>(height);
    switch (layout) {
        case VideoLayout::Grey16: return w * h * 2;
        case VideoLayout::Yuy2: return w * h * 2;
        case VideoLayout::I420: return w * h + 2 * HalfUp(width) * HalfUp(height);
    }
    return 0;
}

// FFmpeg writes through these into the temporary file, so OutputFile keeps owning it.
struct VideoWriter::Callbacks {
    static int Write(void* opaque, WrittenBytes data, int size) {
        auto* w = static_cast<VideoWriter*>(opaque);
        errno = 0;
        if (std::fwrite(data, 1, static_cast<std::size_t>(size), w->out_.Stream()) == static_cast<std::size_t>(size))
            return size;
        if (w->writeError_ == 0) w->writeError_ = errno ? errno : EIO;
        return AVERROR(w->writeError_);
    }
    static std::int64_t Seek(void* opaque, std::int64_t offset, int whence) {
        std::FILE* f = static_cast<VideoWriter*>(opaque)->out_.Stream();
        if (whence & AVSEEK_SIZE) {
            struct stat st {};
            return std::fflush(f) == 0 && ::fstat(::fileno(f), &st) == 0 ? st.st_size : AVERROR(EIO);
        }
        if (::fseeko(f, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE) != 0) return AVERROR(errno);
        return ::ftello(f);
    }
};

VideoWriter::VideoWriter(std::string path) : out_(std::move(path)) {
    // Failures are reported as one line by the caller; the libraries say nothing themselves.
    av_log_set_level(AV_LOG_QUIET);
}

VideoWriter::~VideoWriter() { Free(); }

void VideoWriter::Free() {
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    av_packet_free(&pending_);
    av_packet_free(&caption_);
    avcodec_free_context(&encoder_);
    if (format_) {
        avformat_free_context(format_);  // leaves our own I/O context alone
        format_ = nullptr;
    }
    if (io_) {
        av_freep(&io_->buffer);
        avio_context_free(&io_);
    }
}

PictureStatus VideoWriter::Failed(const std::string& what, int error) {
    failed_ = true;
    std::string why = what;
    if (writeError_) why += std::string(": ") + std::strerror(writeError_);
    else if (error < 0) why += ": " + AvError(error);
    return PictureStatus::Error("cannot write '" + out_.Path() + "': " + why);
}

PictureStatus VideoWriter::Start(VideoLayout layout, int width, int height,
                                 std::span<const std::pair<std::string, std::string>> tags) {
    if (started_ || failed_) return Failed("started twice");
    started_ = true;
    if (!out_.Stream()) {
        failed_ = true;
        return out_.Commit();
    }
    if (width <= 0 || height <= 0 || width > 65535 || height > 65535 ||
        (layout == VideoLayout::Yuy2 && width % 2 != 0))
        return Failed("no picture of " + std::to_string(width) + "x" + std::to_string(height) + " pixels");
    layout_ = layout;
    width_ = width;
    height_ = height;

    int error = avformat_alloc_output_context2(&format_, nullptr, "matroska", nullptr);
    if (error < 0 || !format_) return Failed("no Matroska muxer", error);
    auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferBytes));
    if (!buffer) return Failed("out of memory");
    io_ = avio_alloc_context(buffer, kIoBufferBytes, 1, this, nullptr, &Callbacks::Write, &Callbacks::Seek);
    if (!io_) {
        av_free(buffer);
        return Failed("out of memory");
    }
    format_->pb = io_;

    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_FFV1);
    if (!codec) return Failed("no FFV1 encoder");
    stream_ = avformat_new_stream(format_, nullptr);
    encoder_ = avcodec_alloc_context3(codec);
    if (!stream_ || !encoder_) return Failed("out of memory");
    encoder_->width = width;
    encoder_->height = height;
    encoder_->pix_fmt = layout == VideoLayout::Grey16 ? AV_PIX_FMT_GRAY16LE
                        : layout == VideoLayout::Yuy2 ? AV_PIX_FMT_YUV422P
                                                      : AV_PIX_FMT_YUV420P;
    encoder_->time_base = {1, 1000};
    // Every frame a key frame: any one decodes alone, and a damaged one spoils no other.
    encoder_->gop_size = 1;
    encoder_->level = 3;  // slices, each with its own checksum
    encoder_->thread_type = FF_THREAD_SLICE;
    encoder_->thread_count = 0;
    if (format_->oformat->flags & AVFMT_GLOBALHEADER) encoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set_int(encoder_->priv_data, "slicecrc", 1, 0);
    if ((error = avcodec_open2(encoder_, codec, nullptr)) < 0) return Failed("FFV1 refused the picture", error);
    if ((error = avcodec_parameters_from_context(stream_->codecpar, encoder_)) < 0)
        return Failed("FFV1 refused the picture", error);
    stream_->time_base = encoder_->time_base;
    captions_ = avformat_new_stream(format_, nullptr);
    if (!captions_) return Failed("out of memory");
    captions_->codecpar->codec_type = AVMEDIA_TYPE_SUBTITLE;
    captions_->codecpar->codec_id = AV_CODEC_ID_SUBRIP;
    captions_->time_base = {1, 1000};
    av_dict_set(&captions_->metadata, "title", "frame numbers and times", 0);
    for (const auto& [name, value] : tags) av_dict_set(&format_->metadata, name.c_str(), value.c_str(), 0);
    if ((error = avformat_write_header(format_, nullptr)) < 0) return Failed("cannot start the file", error);

    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    pending_ = av_packet_alloc();
    caption_ = av_packet_alloc();
    if (!frame_ || !packet_ || !pending_ || !caption_) return Failed("out of memory");
    frame_->format = encoder_->pix_fmt;
    frame_->width = width;
    frame_->height = height;
    if ((error = av_frame_get_buffer(frame_, 0)) < 0) return Failed("out of memory", error);
    return PictureStatus::Ok();
}

PictureStatus VideoWriter::Add(std::span<const std::uint8_t> picture, std::int64_t milliseconds,
                               const std::string& caption) {
    if (!started_ || failed_ || !frame_) return Failed("the file was not started");
    if (picture.size() < VideoPictureBytes(layout_, width_, height_)) return Failed("picture too small");
    if (frames_ > 0 && milliseconds <= lastMilliseconds_)
        return Failed("a time not later than the one before (" + std::to_string(milliseconds) + " ms)");
    // The encoder holds the frame by reference; once it has let go, the buffer is ours again
    // and this allocates nothing.
    int error = av_frame_make_writable(frame_);
    if (error < 0) return Failed("out of memory", error);
    const std::uint8_t* in = picture.data();
    const std::size_t w = static_cast<std::size_t>(width_);
    for (int y = 0; y < height_; ++y) {
        const std::size_t row = static_cast<std::size_t>(y);
        if (layout_ == VideoLayout::Grey16) {
            std::memcpy(frame_->data[0] + row * frame_->linesize[0], in + row * w * 2, w * 2);
        } else if (layout_ == VideoLayout::Yuy2) {
            // Packed to planar: the same samples, so still lossless.
            const std::uint8_t* s = in + row * w * 2;
            std::uint8_t* luma = frame_->data[0] + row * frame_->linesize[0];
            std::uint8_t* u = frame_->data[1] + row * frame_->linesize[1];
            std::uint8_t* v = frame_->data[2] + row * frame_->linesize[2];
            for (std::size_t x = 0; x < w / 2; ++x, s += 4) {
                luma[2 * x] = s[0];
                u[x] = s[1];
                luma[2 * x + 1] = s[2];
                v[x] = s[3];
            }
        } else {
            std::memcpy(frame_->data[0] + row * frame_->linesize[0], in + row * w, w);
        }
    }
    if (layout_ == VideoLayout::I420) {
        const std::size_t cw = HalfUp(width_), ch = HalfUp(height_);
        const std::uint8_t* u = in + w * static_cast<std::size_t>(height_);
        const std::uint8_t* v = u + cw * ch;
        for (std::size_t y = 0; y < ch; ++y) {
            std::memcpy(frame_->data[1] + y * frame_->linesize[1], u + y * cw, cw);
            std::memcpy(frame_->data[2] + y * frame_->linesize[2], v + y * cw, cw);
        }
    }
    frame_->pts = milliseconds;
    if ((error = avcodec_send_frame(encoder_, frame_)) < 0) return Failed("FFV1 failed", error);
    lastMilliseconds_ = milliseconds;
    ++frames_;
    if (PictureStatus s = Drain(); !s) return s;
    // The caption waits with its frame for the next frame's time, in a buffer used again and
    // again while the muxer keeps no reference to it.
    const std::size_t need = caption.size() + AV_INPUT_BUFFER_PADDING_SIZE;
    if (caption.size() > 4096) return Failed("caption too long");
    if (!caption_->buf || !av_buffer_is_writable(caption_->buf) || caption_->buf->size < need) {
        av_packet_unref(caption_);
        if ((error = av_new_packet(caption_, static_cast<int>(caption.size() < 128 ? 128 : caption.size()))) < 0)
            return Failed("out of memory", error);
    }
    caption_->data = caption_->buf->data;
    caption_->size = static_cast<int>(caption.size());
    std::memcpy(caption_->data, caption.data(), caption.size());
    std::memset(caption_->data + caption.size(), 0, AV_INPUT_BUFFER_PADDING_SIZE);
    hasCaption_ = true;
    caption_->pts = caption_->dts = av_rescale_q(milliseconds, encoder_->time_base, captions_->time_base);
    caption_->stream_index = captions_->index;
    return PictureStatus::Ok();
}

PictureStatus VideoWriter::Drain() {
    int error;
    while ((error = avcodec_receive_packet(encoder_, packet_)) == 0) {
        av_packet_rescale_ts(packet_, encoder_->time_base, stream_->time_base);
        packet_->stream_index = stream_->index;
        if (PictureStatus s = WritePending(packet_->pts); !s) return s;
        av_packet_move_ref(pending_, packet_);
        hasPending_ = true;
    }
    if (error != AVERROR(EAGAIN) && error != AVERROR_EOF) return Failed("FFV1 failed", error);
    return PictureStatus::Ok();
}

// The held packet is shown until nextPts; then it goes to the file.
PictureStatus VideoWriter::WritePending(std::int64_t nextPts) {
    if (!hasPending_) return PictureStatus::Ok();
    if (nextPts != AV_NOPTS_VALUE && nextPts > pending_->pts) lastDuration_ = nextPts - pending_->pts;
    pending_->duration = lastDuration_;
    int error = av_write_frame(format_, pending_);
    av_packet_unref(pending_);
    hasPending_ = false;
    if (error < 0) return Failed("cannot write a frame", error);
    if (hasCaption_) {
        caption_->duration = av_rescale_q(lastDuration_, stream_->time_base, captions_->time_base);
        error = av_write_frame(format_, caption_);
        hasCaption_ = false;
        if (error < 0) return Failed("cannot write a caption", error);
    }
    return PictureStatus::Ok();
}

PictureStatus VideoWriter::Commit() {
    if (failed_) return Failed("an earlier frame failed");
    if (!out_.Stream()) return out_.Commit();
    if (!started_ || !encoder_ || frames_ == 0) return Failed("no frame to write");
    int error = avcodec_send_frame(encoder_, nullptr);
    if (error < 0) return Failed("FFV1 failed", error);
    if (PictureStatus s = Drain(); !s) return s;
    if (PictureStatus s = WritePending(AV_NOPTS_VALUE); !s) return s;
    if ((error = av_write_trailer(format_)) < 0) return Failed("cannot end the file", error);
    avio_flush(io_);
    if (writeError_ || io_->error < 0) return Failed("cannot end the file", io_->error);
    Free();
    return out_.Commit();
}

}  // namespace Vorn::Picture
