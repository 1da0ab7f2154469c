#pragma once
// 32-bit checksums on the RIPEMD-160 compression function ("CRC00", "CRC01", "CRC02"). The
// result is the first chaining word; each Update call compresses its own tail at once and
// nothing is padded, so the result depends on how the input is split into calls.
#include <cstdint>

#include "support/hash/hash_func.h"

namespace VORN {

class CRMD160 : public CHashFunc {
  public:
    // Variant 0 starts from the standard initial words, 1 and 2 from their own. Any other
    // number is taken as 0, so name, initial words and IsKeyed always agree.
    explicit CRMD160(std::int32_t variant);

    std::uint32_t Update(const void* data, std::uint32_t length) override;
    void Reset() override;
    bool IsKeyed() const override { return variant_ != 0; }
    void GetAlgorithmName(char** name) const override;

    std::int32_t Variant() const { return variant_; }

  private:
    // Not virtual, so construction resets without dispatch.
    void LoadInitialWords();

    std::int32_t variant_;
    std::uint32_t state_[5];
};

}  // namespace VORN
