#pragma once
// Video media subtypes: four-character codes in the standard subtype form
// {XXXXXXXX-0000-0010-8000-00AA00389B71}, XXXXXXXX being the code read little-endian.
#include <cstdint>

#include "platform/com/guid.h"

constexpr GUID FourCcSubtype(char a, char b, char c, char d) {
    return GUID{static_cast<std::uint32_t>(static_cast<unsigned char>(a)) |
                    static_cast<std::uint32_t>(static_cast<unsigned char>(b)) << 8 |
                    static_cast<std::uint32_t>(static_cast<unsigned char>(c)) << 16 |
                    static_cast<std::uint32_t>(static_cast<unsigned char>(d)) << 24,
                0x0000,
                0x0010,
                {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}

constexpr GUID kSubtypeF7M0 = FourCcSubtype('F', '7', 'M', '0');
constexpr GUID kSubtypeF7M2 = FourCcSubtype('F', '7', 'M', '2');
constexpr GUID kSubtypeY800 = FourCcSubtype('Y', '8', '0', '0');
constexpr GUID kSubtypeYUY2 = FourCcSubtype('Y', 'U', 'Y', '2');
constexpr GUID kSubtypeI420 = FourCcSubtype('I', '4', '2', '0');
constexpr GUID kSubtypeMJLS = FourCcSubtype('M', 'J', 'L', 'S');
constexpr GUID kSubtypeMJPG = FourCcSubtype('M', 'J', 'P', 'G');

// The four characters of a subtype GUID; false when it is not of the standard form.
bool SubtypeFourCc(const GUID& subtype, char (&code)[5]);
// The subtype for a four-character text; false unless the text has exactly four characters.
bool SubtypeFromFourCc(const char* text, GUID& subtype);
