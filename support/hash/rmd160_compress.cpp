#include "support/hash/rmd160_compress.h"

namespace VORN {
namespace {

// Word order, rotation and constant per step for the left and the right line.
// clang-format off
constexpr std::uint8_t kWordLeft[80] = {
     0,  1,  2,  3,  4,  5,  6,  7,  8,  9, 10, 11, 12, 13, 14, 15,
     7,  4, 13,  1, 10,  6, 15,  3, 12,  0,  9,  5,  2, 14, 11,  8,
     3, 10, 14,  4,  9, 15,  8,  1,  2,  7,  0,  6, 13, 11,  5, 12,
     1,  9, 11, 10,  0,  8, 12,  4, 13,  3,  7, 15, 14,  5,  6,  2,
     4,  0,  5,  9,  7, 12,  2, 10, 14,  1,  3,  8, 11,  6, 15, 13};
constexpr std::uint8_t kWordRight[80] = {
     5, 14,  7,  0,  9,  2, 11,  4, 13,  6, 15,  8,  1, 10,  3, 12,
     6, 11,  3,  7,  0, 13,  5, 10, 14, 15,  8, 12,  4,  9,  1,  2,
    15,  5,  1,  3,  7, 14,  6,  9, 11,  8, 12,  2, 10,  0,  4, 13,
     8,  6,  4,  1,  3, 11, 15,  0,  5, 12,  2, 13,  9,  7, 10, 14,
    12, 15, 10,  4,  1,  5,  8,  7,  6,  2, 13, 14,  0,  3,  9, 11};
constexpr std::uint8_t kRotateLeft[80] = {
    11, 14, 15, 12,  5,  8,  7,  9, 11, 13, 14, 15,  6,  7,  9,  8,
     7,  6,  8, 13, 11,  9,  7, 15,  7, 12, 15,  9, 11,  7, 13, 12,
    11, 13,  6,  7, 14,  9, 13, 15, 14,  8, 13,  6,  5, 12,  7,  5,
    11, 12, 14, 15, 14, 15,  9,  8,  9, 14,  5,  6,  8,  6,  5, 12,
     9, 15,  5, 11,  6,  8, 13, 12,  5, 12, 13, 14, 11,  8,  5,  6};
constexpr std::uint8_t kRotateRight[80] = {
     8,  9,  9, 11, 13, 15, 15,  5,  7,  7,  8, 11, 14, 14, 12,  6,
     9, 13, 15,  7, 12,  8,  9, 11,  7,  7, 12,  7,  6, 15, 13, 11,
     9,  7, 15, 11,  8,  6,  6, 14, 12, 13,  5, 14, 13, 13,  7,  5,
    15,  5,  8, 11, 14, 14,  6, 14,  6,  9, 12,  9, 12,  5, 15,  8,
     8,  5, 12,  9, 12,  5, 14,  6,  8, 13,  6,  5, 15, 13, 11, 11};
// clang-format on
constexpr std::uint32_t kConstLeft[5] = {0x00000000u, 0x5A827999u, 0x6ED9EBA1u, 0x8F1BBCDCu,
                                         0xA953FD4Eu};
constexpr std::uint32_t kConstRight[5] = {0x50A28BE6u, 0x5C4DD124u, 0x6D703EF3u, 0x7A6D76E9u,
                                          0x00000000u};

constexpr std::uint32_t Rotl(std::uint32_t x, unsigned n) {
    return (x << n) | (x >> (32 - n));
}

// The five boolean functions; the left line uses them in order 0..4, the right in 4..0.
constexpr std::uint32_t Mix(int round, std::uint32_t x, std::uint32_t y, std::uint32_t z) {
    switch (round) {
        case 0:
            return x ^ y ^ z;
        case 1:
            return (x & y) | (~x & z);
        case 2:
            return (x | ~y) ^ z;
        case 3:
            return (x & z) | (y & ~z);
        default:
            return x ^ (y | ~z);
    }
}

struct Line {
    std::uint32_t a, b, c, d, e;

    void Step(std::uint32_t mixed, std::uint32_t word, std::uint32_t constant, unsigned rotate) {
        const std::uint32_t t = Rotl(a + mixed + word + constant, rotate) + e;
        a = e;
        e = d;
        d = Rotl(c, 10);
        c = b;
        b = t;
    }
};

}  // namespace

void Rmd160Compress(std::uint32_t (&state)[5], const std::uint32_t (&words)[16]) {
    Line left{state[0], state[1], state[2], state[3], state[4]};
    Line right = left;
    for (int j = 0; j < 80; ++j) {
        const int round = j / 16;
        left.Step(Mix(round, left.b, left.c, left.d), words[kWordLeft[j]], kConstLeft[round],
                  kRotateLeft[j]);
        right.Step(Mix(4 - round, right.b, right.c, right.d), words[kWordRight[j]],
                   kConstRight[round], kRotateRight[j]);
    }
    const std::uint32_t t = state[1] + left.c + right.d;
    state[1] = state[2] + left.d + right.e;
    state[2] = state[3] + left.e + right.a;
    state[3] = state[4] + left.a + right.b;
    state[4] = state[0] + left.b + right.c;
    state[0] = t;
}

}  // namespace VORN
