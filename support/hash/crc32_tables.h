#pragma once
// Table-driven kernels of the reflected CRC-32. The byte-wise kernel is the definition; the
// sliced kernel gives the same register for every input, sixteen bytes per step.
#include <cstddef>
#include <cstdint>

namespace VORN {

struct Crc32Tables {
    // byte[0] is the classic table; byte[k][i] is the register contribution of byte value i
    // followed by k zero bytes.
    alignas(64) std::uint32_t byte[16][256];
};

// Entry i: i reflected over 8 bits in the top byte, shifted out eight times through the
// polynomial, the result reflected over 32 bits.
void BuildCrc32Table(std::uint32_t polynomial, std::uint32_t (&table)[256]);

// Fills every table from the polynomial (byte[0] as BuildCrc32Table does).
void BuildCrc32Tables(std::uint32_t polynomial, Crc32Tables& tables);

// register = table[(register ^ b) & 0xFF] ^ (register >> 8) for each byte b.
std::uint32_t Crc32UpdateBytewise(const std::uint32_t (&table)[256], std::uint32_t reg,
                                  const unsigned char* data, std::size_t length);

// Same result as Crc32UpdateBytewise over tables.byte[0].
std::uint32_t Crc32UpdateSliced(const Crc32Tables& tables, std::uint32_t reg,
                                const unsigned char* data, std::size_t length);

}  // namespace VORN
