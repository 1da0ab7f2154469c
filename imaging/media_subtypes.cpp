#include "imaging/media_subtypes.h"

#include <cstring>

bool SubtypeFourCc(const GUID& subtype, char (&code)[5]) {
    GUID pattern = FourCcSubtype('\0', '\0', '\0', '\0');
    pattern.Data1 = subtype.Data1;
    if (!IsEqualGUID(pattern, subtype)) return false;
    for (int i = 0; i < 4; ++i) code[i] = static_cast<char>(subtype.Data1 >> (8 * i) & 0xFF);
    code[4] = '\0';
    return true;
}

bool SubtypeFromFourCc(const char* text, GUID& subtype) {
    if (text == nullptr || std::strlen(text) != 4) return false;
    subtype = FourCcSubtype(text[0], text[1], text[2], text[3]);
    return true;
}
