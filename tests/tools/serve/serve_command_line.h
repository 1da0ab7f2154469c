#pragma once
// serve's command line in tests, written as one line of words split at spaces.
#include <sstream>
#include <string>
#include <vector>

#include "tools/zrfgrab/serve/serve_options.h"

namespace zrfgrab::serve {

inline ServeOptions ParseCommandLine(const std::string& line) {
    std::vector<std::string> words{"serve"};
    std::istringstream in(line);
    for (std::string w; in >> w;) words.push_back(w);
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    return ParseServeOptions(static_cast<int>(argv.size()), argv.data());
}

}  // namespace zrfgrab::serve
