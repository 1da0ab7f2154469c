#include "tools/zrfgrab/distinct_paths.h"

#include <filesystem>
#include <regex>

#include "tools/zrfgrab/arguments.h"

namespace zrfgrab {

bool SameFile(const std::string& a, const std::string& b) {
    namespace fs = std::filesystem;
    std::error_code ea, eb;
    if (fs::exists(a, ea) && fs::exists(b, eb)) {
        std::error_code ec;
        return fs::equivalent(a, b, ec);
    }
    std::error_code ca, cb;
    const fs::path na = fs::weakly_canonical(fs::absolute(a, ca), ca);
    const fs::path nb = fs::weakly_canonical(fs::absolute(b, cb), cb);
    return !ca && !cb ? na == nb : fs::absolute(a).lexically_normal() == fs::absolute(b).lexically_normal();
}

bool NamedInFolder(const std::string& file, const std::string& folder, const std::string& pattern) {
    namespace fs = std::filesystem;
    const fs::path parent = fs::path(file).parent_path();
    return SameFile(parent.empty() ? "." : parent.string(), folder) &&
           std::regex_match(fs::path(file).filename().string(), std::regex(pattern));
}

void RefuseSharedFiles(const std::vector<RunPath>& paths) {
    for (std::size_t i = 0; i < paths.size(); ++i) {
        for (std::size_t j = i + 1; j < paths.size(); ++j) {
            const RunPath& a = paths[i];
            const RunPath& b = paths[j];
            if ((!a.output && !b.output) || a.path.empty() || b.path.empty() || !SameFile(a.path, b.path))
                continue;
            const RunPath& out = b.output ? b : a;
            const RunPath& other = b.output ? a : b;
            throw UsageError(out.what + " '" + out.path + "' names the same file as " + other.what +
                             (other.path == out.path ? "" : " '" + other.path + "'") +
                             "; name another file");
        }
    }
}

}  // namespace zrfgrab
