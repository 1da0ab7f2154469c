#include "tools/zrfgrab/serve/jpeg_encoder.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

namespace zrfgrab::serve {
namespace {

struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

extern "C" void OnJpegError(j_common_ptr info) {
    auto* errors = reinterpret_cast<ErrorManager*>(info->err);
    (*info->err->format_message)(info, errors->message);
    std::longjmp(errors->jump, 1);
}

// The output grows the vector; its size is trimmed to what was written at the end, its
// capacity kept for the next frame.
struct VectorDestination {
    jpeg_destination_mgr base;
    std::vector<std::uint8_t>* out;
};

constexpr std::size_t kFirstChunk = 64 * 1024;

void Point(VectorDestination& d, std::size_t used) {
    d.base.next_output_byte = d.out->data() + used;
    d.base.free_in_buffer = d.out->size() - used;
}

extern "C" void InitDestination(j_compress_ptr info) {
    auto& d = *reinterpret_cast<VectorDestination*>(info->dest);
    d.out->resize(std::max(d.out->capacity(), kFirstChunk));
    Point(d, 0);
}

extern "C" boolean EmptyOutputBuffer(j_compress_ptr info) {
    // libjpeg calls this when the whole buffer is full.
    auto& d = *reinterpret_cast<VectorDestination*>(info->dest);
    const std::size_t used = d.out->size();
    d.out->resize(used * 2);
    Point(d, used);
    return TRUE;
}

extern "C" void TermDestination(j_compress_ptr info) {
    auto& d = *reinterpret_cast<VectorDestination*>(info->dest);
    d.out->resize(d.out->size() - d.base.free_in_buffer);
}

// Only trivially destructible locals here: libjpeg leaves this frame by longjmp on errors.
bool Compress(const Vorn::Picture::RgbImage& picture, int quality, VectorDestination& destination,
              ErrorManager& errors) {
    jpeg_compress_struct info;
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = OnJpegError;
    if (setjmp(errors.jump)) {
        jpeg_destroy_compress(&info);
        return false;
    }
    jpeg_create_compress(&info);
    destination.base.init_destination = InitDestination;
    destination.base.empty_output_buffer = EmptyOutputBuffer;
    destination.base.term_destination = TermDestination;
    info.dest = &destination.base;
    info.image_width = static_cast<JDIMENSION>(picture.Width());
    info.image_height = static_cast<JDIMENSION>(picture.Height());
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    // Fast integer DCT: a live view values the frame rate over the last bit of fidelity.
    info.dct_method = JDCT_IFAST;
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(picture.Row(static_cast<int>(info.next_scanline)));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return true;
}

}  // namespace

bool JpegEncoder::Encode(const Vorn::Picture::RgbImage& picture, std::vector<std::uint8_t>& out) {
    error_.clear();
    if (picture.Empty()) {
        error_ = "no picture to encode";
        return false;
    }
    ErrorManager errors{};
    VectorDestination destination{};
    destination.out = &out;
    if (!Compress(picture, quality_, destination, errors)) {
        error_ = std::string("JPEG: ") + errors.message;
        out.clear();
        return false;
    }
    return true;
}

}  // namespace zrfgrab::serve
