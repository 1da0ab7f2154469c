// zrfgrab checksum NAME FILE: a file's checksum by the function's name, as eight hex digits.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "support/hash/create_hash_func.h"
#include "tools/zrfgrab/commands.h"

int RunChecksumCommand(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: zrfgrab checksum CRC32|CRC00|CRC01|CRC02 FILE\n");
        return 2;
    }
    auto hash = VORN::CreateHashFunc(argv[1]);
    if (!hash) {
        std::fprintf(stderr, "zrfgrab checksum: unknown checksum '%s' (CRC32, CRC00, CRC01, CRC02)\n",
                     argv[1]);
        return 2;
    }
    // The checksum of an unreadable file would be 0, like an empty one's: refuse it here.
    std::FILE* probe = std::fopen(argv[2], "rb");
    if (!probe) {
        std::fprintf(stderr, "zrfgrab checksum: cannot read '%s': %s\n", argv[2], std::strerror(errno));
        return 1;
    }
    std::fclose(probe);
    std::printf("%08X\n", hash->HashFile(argv[2]));
    return 0;
}
