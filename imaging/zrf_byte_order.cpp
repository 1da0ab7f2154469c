#include "imaging/zrf_byte_order.h"

#include <array>
#include <cstddef>
#include <initializer_list>
#include <utility>

namespace {

constexpr std::int16_t k16 = -1;
constexpr std::int16_t k32 = -2;

struct Run {
    std::int16_t code;
    int count;
};

// Expands runs of like codes into a 0-terminated map.
template <std::size_t N>
constexpr std::array<std::int16_t, N> Expand(std::initializer_list<Run> runs) {
    std::array<std::int16_t, N> map{};
    std::size_t at = 0;
    for (const Run& run : runs) {
        for (int i = 0; i < run.count; ++i) map[at++] = run.code;
    }
    map[at++] = 0;
    if (at != N) throw "map length mismatch";  // compile-time check only
    return map;
}

constexpr int Span(const std::int16_t* map) {
    int bytes = 0;
    for (; *map != 0; ++map) bytes += *map == k16 ? 2 : *map == k32 ? 4 : *map;
    return bytes;
}

constexpr auto kMainHeaderMap = Expand<17>({{20, 1}, {k32, 4}, {k16, 8}, {k32, 3}});
constexpr auto kIndexEntryMap = Expand<10>({{k16, 2}, {k32, 7}});

constexpr auto kInfoMap0 = Expand<16>({{k16, 14}, {k32, 1}});
constexpr auto kInfoMap32 = Expand<13>({{k32, 12}});
constexpr auto kInfoMap80 = Expand<37>({{k32, 1}, {4, 1}, {k32, 23}, {k16, 6}, {k32, 5}});
constexpr auto kInfoMap212 = Expand<77>({{32, 1}, {16, 1}, {16, 1}, {16, 1}, {32, 1}, {8, 1},
                                         {16, 1}, {8, 1},  {8, 1},  {k32, 1}, {32, 1}, {16, 1},
                                         {16, 1}, {k16, 2}, {k32, 14}, {32, 1}, {16, 1}, {16, 1},
                                         {k16, 2}, {k32, 14}, {32, 1}, {16, 1}, {16, 1}, {k16, 2},
                                         {k32, 23}});
constexpr auto kInfoMap776 = Expand<15>({{k32, 2}, {k16, 4}, {k32, 8}});
constexpr auto kInfoMap824 = Expand<7>({{k32, 2}, {k16, 2}, {32, 1}, {k32, 1}});
constexpr auto kInfoMap872 = Expand<9>({{k32, 2}, {k16, 2}, {k32, 4}});
constexpr auto kInfoMap900 = Expand<52>({{k32, 15}, {k16, 4}, {k32, 1}, {k16, 6}, {k32, 25}});
constexpr auto kInfoMap1084 = Expand<19>({{16, 1}, {k16, 2}, {k32, 2}, {k16, 2}, {k32, 1},
                                          {k16, 6}, {k32, 4}});

struct PlacedMap {
    std::size_t offset;
    const std::int16_t* map;
    int span;
};

constexpr PlacedMap kInfoMaps[] = {
    {0, kInfoMap0.data(), 32},       {32, kInfoMap32.data(), 48},
    {80, kInfoMap80.data(), 132},    {212, kInfoMap212.data(), 564},
    {776, kInfoMap776.data(), 48},   {824, kInfoMap824.data(), 48},
    {872, kInfoMap872.data(), 28},   {900, kInfoMap900.data(), 184},
    {1084, kInfoMap1084.data(), 64},
};

static_assert(Span(kMainHeaderMap.data()) == 64);
static_assert(Span(kIndexEntryMap.data()) == 32);
// The block maps tile bytes 0 to 1147 without gaps or overlaps.
constexpr bool InfoMapsTile() {
    std::size_t next = 0;
    for (const PlacedMap& m : kInfoMaps) {
        if (m.offset != next || Span(m.map) != m.span) return false;
        next += static_cast<std::size_t>(m.span);
    }
    return next == 1148;
}
static_assert(InfoMapsTile());

}  // namespace

void SwapByMap(std::uint8_t* record, ByteOrderMap map) {
    for (; *map != 0; ++map) {
        if (*map == k16) {
            std::swap(record[0], record[1]);
            record += 2;
        } else if (*map == k32) {
            std::swap(record[0], record[3]);
            std::swap(record[1], record[2]);
            record += 4;
        } else if (*map > 0) {
            record += *map;
        }
        // Other negative codes are not part of the layout and are passed over.
    }
}

void SwapFrameInfoBlock(std::uint8_t* block) {
    for (const PlacedMap& m : kInfoMaps) SwapByMap(block + m.offset, m.map);
}

ByteOrderMap MainHeaderByteOrderMap() { return kMainHeaderMap.data(); }
ByteOrderMap IndexEntryByteOrderMap() { return kIndexEntryMap.data(); }
int ByteOrderMapSpan(ByteOrderMap map) { return Span(map); }
