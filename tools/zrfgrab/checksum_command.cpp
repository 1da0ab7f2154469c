// zrfgrab checksum NAME FILE: a file's checksum by the function's name, as eight hex digits.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "host/system/exceptions.h"
#include "host/system/posix_files.h"
#include "host/system/regular_file.h"
#include "support/hash/create_hash_func.h"
#include "tools/zrfgrab/arguments.h"
#include "tools/zrfgrab/commands.h"

int RunChecksumCommand(int argc, char** argv) {
    return zrfgrab::ReportingErrors("checksum", [&] {
        if (argc != 3) throw zrfgrab::UsageError("expected NAME and FILE (zrfgrab checksum CRC32|CRC00|CRC01|CRC02 FILE)");
        auto hash = VORN::CreateHashFunc(argv[1]);
        if (!hash)
            throw zrfgrab::UsageError(std::string("unknown checksum '") + argv[1] + "' (CRC32, CRC00, CRC01, CRC02)");
        // Read here rather than by the hash's own file reader: an unreadable file or a folder
        // must be an error, not the checksum of nothing. Read in chunks, so any size will do;
        // but only a regular file, so nothing reads a device or waits on a pipe for ever.
        int fd = -1;
        try {
            fd = System::IO::OpenRegularFile(argv[2]);
        } catch (const System::IO::FileReadException& e) {
            throw zrfgrab::UsageError(e.Message());
        }
        hash->Reset();
        std::uint32_t sum = 0;
        unsigned char chunk[64 * 1024];
        for (;;) {
            const ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                const int error = errno;
                ::close(fd);
                throw System::IOException(std::string("cannot read '") + argv[2] + "': " + std::strerror(error));
            }
            if (n == 0) break;
            sum = hash->Update(chunk, static_cast<std::uint32_t>(n));
        }
        ::close(fd);
        std::printf("%08X\n", sum);
        return 0;
    });
}
