#pragma once
// The files a run reads and writes: no output may be an input or another output. Paths are
// compared by the file they name where both exist (device and file number, so a link or another
// spelling is caught), and by their absolute, normal names before one does.
#include <string>
#include <vector>

namespace zrfgrab {

bool SameFile(const std::string& a, const std::string& b);

struct RunPath {
    std::string what;  // how the run names it: "--record", "the recording", ...
    std::string path;
    bool output = true;
};

// Whether `file` lies in `folder` under a name that `pattern` (a regular expression of the whole
// name) matches: a name an output picks only as it writes (a frame's file, a numbered run).
bool NamedInFolder(const std::string& file, const std::string& folder, const std::string& pattern);

// Throws UsageError naming the first two that are one file, an output among them.
void RefuseSharedFiles(const std::vector<RunPath>& paths);

}  // namespace zrfgrab
