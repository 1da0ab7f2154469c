#pragma once
// The classic reflected CRC-32 ("CRC32"): register starts with all bits set, the result is its
// complement.
#include <cstdint>
#include <memory>

#include "support/hash/hash_func.h"

namespace VORN {

struct Crc32Tables;

class CCrc32 : public CHashFunc {
  public:
    static constexpr std::uint32_t kStandardPolynomial = 0x04C11DB7;

    // The first construction in the process builds the class-wide tables from its polynomial.
    // An instance with another polynomial builds tables of its own, so its results are its
    // polynomial's CRC and never the class-wide one's.
    explicit CCrc32(std::uint32_t polynomial);
    ~CCrc32() override;

    std::uint32_t Update(const void* data, std::uint32_t length) override;
    void Reset() override;
    bool IsKeyed() const override { return false; }
    void GetAlgorithmName(char** name) const override;

    // Mirrors the low `bits` bits of value (bit 0 becomes bit bits - 1); higher bits are
    // dropped. Counts above 32 are taken as 32, counts below 1 give 0.
    static std::uint32_t Reflect(std::uint32_t value, int bits);

  private:
    std::unique_ptr<Crc32Tables> ownTables_;
    const Crc32Tables* tables_;
    std::uint32_t register_ = 0xFFFFFFFFu;
};

}  // namespace VORN
