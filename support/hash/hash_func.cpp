#include "support/hash/hash_func.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace VORN {
namespace {

constexpr std::size_t kFileChunk = 1024;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

std::uint32_t CHashFunc::HashString(const char* text) {
    if (text == nullptr) return Update(nullptr, 0);
    std::size_t remaining = std::strlen(text);
    // Texts beyond 4 GiB go in several calls, since Update takes a 32-bit length.
    std::uint32_t result;
    do {
        const auto part = static_cast<std::uint32_t>(
            remaining <= UINT32_MAX ? remaining : std::size_t{UINT32_MAX} & ~std::size_t{63});
        result = Update(text, part);
        text += part;
        remaining -= part;
    } while (remaining > 0);
    return result;
}

std::uint32_t CHashFunc::HashFile(const char* path) {
    if (path == nullptr) return 0;
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "rb"));
    if (!file) return 0;
    Reset();
    unsigned char chunk[kFileChunk];
    std::uint32_t result = 0;
    // A read error ends the loop like end of file: the result covers what was read.
    for (;;) {
        const std::size_t got = std::fread(chunk, 1, sizeof chunk, file.get());
        if (got == 0) break;
        result = Update(chunk, static_cast<std::uint32_t>(got));
    }
    return result;
}

void CHashFunc::CopyAlgorithmName(const char (&algorithm)[6], char** name) {
    if (name == nullptr) return;
    *name = new (std::nothrow) char[6];
    if (*name != nullptr) std::memcpy(*name, algorithm, 6);
}

}  // namespace VORN
