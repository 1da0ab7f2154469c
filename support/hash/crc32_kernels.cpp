#include "support/hash/crc32_kernels.h"

#include "support/hash/crc32.h"

namespace VORN {
namespace {

// x^n mod P, not reflected.
std::uint32_t PowerOfXModP(std::uint32_t polynomial, int n) {
    std::uint32_t value = 1;
    for (int i = 0; i < n; ++i) {
        const bool out = (value & 0x80000000u) != 0;
        value <<= 1;
        if (out) value ^= polynomial;
    }
    return value;
}

// In the bit-reflected carry-less product the result lands one bit low; the shift makes up.
std::uint64_t FoldConstant(std::uint32_t polynomial, int n) {
    return std::uint64_t{CCrc32::Reflect(PowerOfXModP(polynomial, n), 32)} << 1;
}

}  // namespace

void BuildCrc32Table(std::uint32_t polynomial, std::uint32_t (&table)[256]) {
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t value = CCrc32::Reflect(i, 8) << 24;
        for (int bit = 0; bit < 8; ++bit) {
            const bool out = (value & 0x80000000u) != 0;
            value <<= 1;
            if (out) value ^= polynomial;
        }
        table[i] = CCrc32::Reflect(value, 32);
    }
}

void BuildCrc32Tables(std::uint32_t polynomial, Crc32Tables& tables) {
    BuildCrc32Table(polynomial, tables.byte[0]);
    // One more zero byte after byte value i: run the previous contribution through one
    // byte-wise step with a zero input byte.
    for (int k = 1; k < 16; ++k) {
        for (int i = 0; i < 256; ++i) {
            const std::uint32_t prev = tables.byte[k - 1][i];
            tables.byte[k][i] = tables.byte[0][prev & 0xFF] ^ (prev >> 8);
        }
    }
    tables.fold512[0] = FoldConstant(polynomial, 4096 + 32);
    tables.fold512[1] = FoldConstant(polynomial, 4096 - 32);
    tables.fold256[0] = FoldConstant(polynomial, 2048 + 32);
    tables.fold256[1] = FoldConstant(polynomial, 2048 - 32);
    tables.fold64[0] = FoldConstant(polynomial, 512 + 32);
    tables.fold64[1] = FoldConstant(polynomial, 512 - 32);
    tables.fold16[0] = FoldConstant(polynomial, 128 + 32);
    tables.fold16[1] = FoldConstant(polynomial, 128 - 32);
}

std::uint32_t Crc32UpdateBytewise(const std::uint32_t (&table)[256], std::uint32_t reg,
                                  const unsigned char* data, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) reg = table[(reg ^ data[i]) & 0xFF] ^ (reg >> 8);
    return reg;
}

std::uint32_t Crc32UpdateSliced(const Crc32Tables& tables, std::uint32_t reg,
                                const unsigned char* data, std::size_t length) {
    const auto& t = tables.byte;
    // The register overlaps only the first four bytes of each 16-byte step; every byte is
    // then looked up in the table for the number of bytes that follow it in the step.
    while (length >= 16) {
        const std::uint32_t x = reg ^ (std::uint32_t{data[0]} | std::uint32_t{data[1]} << 8 |
                                       std::uint32_t{data[2]} << 16 | std::uint32_t{data[3]} << 24);
        reg = t[15][x & 0xFF] ^ t[14][(x >> 8) & 0xFF] ^ t[13][(x >> 16) & 0xFF] ^ t[12][x >> 24] ^
              t[11][data[4]] ^ t[10][data[5]] ^ t[9][data[6]] ^ t[8][data[7]] ^ t[7][data[8]] ^
              t[6][data[9]] ^ t[5][data[10]] ^ t[4][data[11]] ^ t[3][data[12]] ^ t[2][data[13]] ^
              t[1][data[14]] ^ t[0][data[15]];
        data += 16;
        length -= 16;
    }
    return Crc32UpdateBytewise(t[0], reg, data, length);
}

}  // namespace VORN
