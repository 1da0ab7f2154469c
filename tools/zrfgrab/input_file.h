#pragma once
// Files read whole (a ZRF image, a camera sample, an identity document): only a regular file,
// and none larger than kMaxInputBytes, which is refused before anything is read.
#include <cstdint>
#include <string>
#include <vector>

namespace zrfgrab {

inline constexpr std::uint64_t kMaxInputBytes = 256u * 1024u * 1024u;

// The file's bytes; throws UsageError saying why it cannot be read.
std::vector<std::uint8_t> ReadInputFile(const std::string& path);

// Throws UsageError unless path names a regular file that can be opened for reading.
void CheckInputFile(const std::string& path);

}  // namespace zrfgrab
