#pragma once
// Kernels of the reflected CRC-32. The byte-wise kernel is the definition; the sliced kernel
// (sixteen bytes per step) and the folding kernel (carry-less multiplication, 64 bytes per
// step) give the same register for every input.
#include <cstddef>
#include <cstdint>

namespace VORN {

struct Crc32Tables {
    // byte[0] is the classic table; byte[k][i] is the register contribution of byte value i
    // followed by k zero bytes.
    alignas(64) std::uint32_t byte[16][256];
    // Folding constants, x^n mod P bit-reflected and shifted left by one: {n = 512 + 32,
    // n = 512 - 32} move a 16-byte lane 64 bytes on, {n = 128 + 32, n = 128 - 32} 16 bytes on,
    // {n = 4096 + 32, n = 4096 - 32} 512 bytes on, {n = 2048 + 32, n = 2048 - 32} 256 bytes on.
    std::uint64_t fold512[2];
    std::uint64_t fold256[2];
    std::uint64_t fold64[2];
    std::uint64_t fold16[2];
};

// Entry i: i reflected over 8 bits in the top byte, shifted out eight times through the
// polynomial, the result reflected over 32 bits.
void BuildCrc32Table(std::uint32_t polynomial, std::uint32_t (&table)[256]);

// Fills every table and the folding constants from the polynomial (byte[0] as
// BuildCrc32Table does).
void BuildCrc32Tables(std::uint32_t polynomial, Crc32Tables& tables);

// register = table[(register ^ b) & 0xFF] ^ (register >> 8) for each byte b.
std::uint32_t Crc32UpdateBytewise(const std::uint32_t (&table)[256], std::uint32_t reg,
                                  const unsigned char* data, std::size_t length);

// Same result as Crc32UpdateBytewise over tables.byte[0].
std::uint32_t Crc32UpdateSliced(const Crc32Tables& tables, std::uint32_t reg,
                                const unsigned char* data, std::size_t length);

// Same result as Crc32UpdateBytewise over tables.byte[0]; folds with carry-less
// multiplication where the processor has it and the input is long enough (long inputs 512
// bytes at a time, where it multiplies 64-byte vectors), else slices.
std::uint32_t Crc32UpdateFolded(const Crc32Tables& tables, std::uint32_t reg,
                                const unsigned char* data, std::size_t length);

// Whether Crc32UpdateFolded can fold on this processor, and whether 64-byte vectors at a time.
bool Crc32FoldingAvailable();
bool Crc32WideFoldingAvailable();
// Crc32UpdateFolded with 32-byte vectors (256 bytes at a time) where the processor multiplies
// them, whatever it has beyond them; else as Crc32UpdateFoldedNarrow.
std::uint32_t Crc32UpdateFoldedAvx2(const Crc32Tables& tables, std::uint32_t reg,
                                    const unsigned char* data, std::size_t length);
// Crc32UpdateFolded with the 16-byte lanes only, whatever the processor has beyond them.
std::uint32_t Crc32UpdateFoldedNarrow(const Crc32Tables& tables, std::uint32_t reg,
                                      const unsigned char* data, std::size_t length);

}  // namespace VORN
