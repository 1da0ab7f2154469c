#pragma once
// libpng reports errors by calling back and jumping out with longjmp; these callbacks keep
// the message so the caller can report it.
#include <png.h>

namespace Vorn::Picture {

struct PngErrorState {
    char message[200] = "";
};

[[noreturn]] void OnPngError(png_structp png, png_const_charp message);
void OnPngWarning(png_structp png, png_const_charp message);

}  // namespace Vorn::Picture
