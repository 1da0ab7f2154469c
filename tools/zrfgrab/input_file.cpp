#include "tools/zrfgrab/input_file.h"

#include "host/system/posix_files.h"
#include "host/system/regular_file.h"
#include "tools/zrfgrab/arguments.h"

namespace zrfgrab {

void CheckInputFile(const std::string& path) {
    try {
        ::close(System::IO::OpenRegularFile(path));
    } catch (const System::IO::FileReadException& e) {
        throw UsageError(e.Message());
    }
}

std::vector<std::uint8_t> ReadInputFile(const std::string& path) {
    try {
        return System::IO::ReadRegularFile(path, kMaxInputBytes);
    } catch (const System::IO::FileReadException& e) {
        throw UsageError(e.Message());
    }
}

}  // namespace zrfgrab
