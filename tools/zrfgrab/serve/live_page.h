#pragma once
// The live view's page: one HTML document with its style and script, embedded at build time
// from tools/zrfgrab/serve/page/.
#include <string_view>

namespace zrfgrab::serve {

std::string_view LivePage();

}  // namespace zrfgrab::serve
