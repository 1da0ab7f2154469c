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
