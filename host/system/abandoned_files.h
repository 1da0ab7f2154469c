#pragma once
// Files a writer leaves when it is killed before it renames or removes them: temporaries, a
// recording that never got its first frame. Every writer locks its file from just after making
// it for as long as it writes, so a file found unlocked is no one's now. A file is removed only
// when it is ours by name (the caller chooses which names) and by content (`ours` reads its first
// bytes), never by its size alone, and only while its name still names the file checked.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace System::IO {

// An advisory lock on the whole file, taken at once or not at all. On Windows it covers a byte
// far past any data, so readers are not kept out.
bool TryLockFile(int fd, bool exclusive);

// first: up to 64 of the file's first bytes (n of them); size: the file's size.
using ContentTest = std::function<bool(const unsigned char* first, std::size_t n, std::uint64_t size)>;

// Removes the file at path when it is unlocked and ours, or with emptyToo empty and a minute old
// (a temporary's writer locks it just after making it); true when removed.
bool RemoveIfAbandoned(const std::string& path, const ContentTest& ours, bool emptyToo = false);

// RemoveIfAbandoned for each file in folder named prefix, PROCESS-COUNT (digits), suffix: the
// names writers give their temporaries.
void RemoveAbandonedIn(const std::string& folder, const std::string& prefix, const std::string& suffix,
                       const ContentTest& ours);

}  // namespace System::IO
