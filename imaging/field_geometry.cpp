#include "imaging/field_geometry.h"

FieldGeometry MakeFieldGeometry(ImageSize size, std::int32_t fieldCount) {
    FieldGeometry g;
    if (size.width <= 0 || size.height <= 0 || fieldCount <= 0) return g;
    g.width = size.width;
    g.height = size.height;
    g.fieldHeight = g.height / fieldCount;
    g.fieldBytes = g.width * g.fieldHeight * 2;
    g.pictureBytes = g.width * g.height * 2;
    g.valid = g.fieldHeight > 0 && g.pictureBytes <= kMaxImageBytes / 2;
    return g;
}

std::int64_t VisualPictureBytes(ImageSize size) {
    if (size.width < 0 || size.height < 0 || size.width > kMaxImageBytes / 2) return -1;
    const std::int64_t bytes = std::int64_t{size.width} * size.height * 2;
    return bytes + 28 <= kMaxImageBytes ? bytes : -1;
}
