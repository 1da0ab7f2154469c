#include "tools/picture/png_error.h"

#include <cstdio>

namespace Vorn::Picture {

void OnPngError(png_structp png, png_const_charp message) {
    auto* state = static_cast<PngErrorState*>(png_get_error_ptr(png));
    std::snprintf(state->message, sizeof state->message, "%s", message ? message : "libpng error");
    png_longjmp(png, 1);
}

// Warnings (an unknown chunk, say) do not make a picture wrong; stay quiet.
void OnPngWarning(png_structp, png_const_charp) {}

}  // namespace Vorn::Picture
