#pragma once
// Common face of the 32-bit checksum functions that are chosen by name.
#include <cstdint>

namespace VORN {

class CHashFunc {
  public:
    // The six operations keep the first six virtual slots; the destructor comes after them.

    // Feeds `length` bytes and returns the checksum of everything fed since the last reset.
    // A null `data` feeds nothing.
    virtual std::uint32_t Update(const void* data, std::uint32_t length) = 0;
    // Update over the text up to its terminator; does not reset. A null text feeds nothing.
    virtual std::uint32_t HashString(const char* text);
    // Checksum of a whole file from a reset state; 0 when the file cannot be opened or is empty.
    virtual std::uint32_t HashFile(const char* path);
    virtual void Reset() = 0;
    virtual bool IsKeyed() const = 0;
    // Stores a new 6-byte buffer holding the name and its terminator in `*name`; the caller
    // frees it with delete[]. Stores null when the buffer cannot be allocated.
    virtual void GetAlgorithmName(char** name) const = 0;

    virtual ~CHashFunc() = default;

  protected:
    // Shared by the derived classes' GetAlgorithmName.
    static void CopyAlgorithmName(const char (&algorithm)[6], char** name);
};

}  // namespace VORN
