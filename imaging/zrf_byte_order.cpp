#include "imaging/zrf_byte_order.h"

#include <array>
#include <cstddef>
#include <cstring>
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
constexpr auto kInfoMap212 = Expand<77>(
    {{32, 1},  {16, 1},   {16, 1}, {16, 1}, {32, 1},  {8, 1},    {16, 1},  {8, 1},  {8, 1},
     {k32, 1}, {32, 1},   {16, 1}, {16, 1}, {k16, 2}, {k32, 14}, {32, 1},  {16, 1}, {16, 1},
     {k16, 2}, {k32, 14}, {32, 1}, {16, 1}, {16, 1},  {k16, 2},  {k32, 23}});
constexpr auto kInfoMap776 = Expand<15>({{k32, 2}, {k16, 4}, {k32, 8}});
constexpr auto kInfoMap824 = Expand<7>({{k32, 2}, {k16, 2}, {32, 1}, {k32, 1}});
constexpr auto kInfoMap872 = Expand<9>({{k32, 2}, {k16, 2}, {k32, 4}});
constexpr auto kInfoMap900 = Expand<52>({{k32, 15}, {k16, 4}, {k32, 1}, {k16, 6}, {k32, 25}});
constexpr auto kInfoMap1084 =
    Expand<19>({{16, 1}, {k16, 2}, {k32, 2}, {k16, 2}, {k32, 1}, {k16, 6}, {k32, 4}});

constexpr PlacedByteOrderMap kInfoMaps[] = {
    {0, kInfoMap0.data()},     {32, kInfoMap32.data()},   {80, kInfoMap80.data()},
    {212, kInfoMap212.data()}, {776, kInfoMap776.data()}, {824, kInfoMap824.data()},
    {872, kInfoMap872.data()}, {900, kInfoMap900.data()}, {1084, kInfoMap1084.data()},
};

static_assert(Span(kMainHeaderMap.data()) == 64);
static_assert(Span(kIndexEntryMap.data()) == 32);
// The block maps tile bytes 0 to 1147 without gaps or overlaps.
constexpr bool InfoMapsTile() {
    std::size_t next = 0;
    for (const PlacedByteOrderMap& m : kInfoMaps) {
        if (m.offset != next) return false;
        next += static_cast<std::size_t>(Span(m.map));
    }
    return next == 1148;
}
static_assert(InfoMapsTile());

// The block's maps compiled into runs of adjacent like units: a frame's conversion is then a few
// tight loops, not a code read and a branch for each of its 215 units (it runs for every field).
struct SwapRun {
    std::uint16_t offset;
    std::uint16_t units;
    std::uint8_t width;  // 2 or 4
};

struct SwapPlan {
    std::array<SwapRun, 64> runs{};
    std::size_t count = 0;

    constexpr void Add(std::size_t at, std::uint8_t width) {
        if (count > 0) {
            SwapRun& last = runs[count - 1];
            if (last.width == width && last.offset + std::size_t{last.units} * width == at) {
                ++last.units;
                return;
            }
        }
        if (count == runs.size()) throw "too many runs";  // compile-time check only
        runs[count++] = {static_cast<std::uint16_t>(at), 1, width};
    }
};

constexpr SwapPlan CompileInfoMaps() {
    SwapPlan plan;
    for (const PlacedByteOrderMap& m : kInfoMaps) {
        std::size_t at = m.offset;
        for (ByteOrderMap code = m.map; *code != 0; ++code) {
            if (*code == k16 || *code == k32) {
                const std::uint8_t width = *code == k16 ? 2 : 4;
                plan.Add(at, width);
                at += width;
            } else if (*code > 0) {
                at += static_cast<std::size_t>(*code);
            }
        }
    }
    return plan;
}

constexpr SwapPlan kInfoPlan = CompileInfoMaps();

template <class Unit>
void ReverseUnits(std::uint8_t* at, std::size_t units) {
    for (std::size_t i = 0; i < units; ++i, at += sizeof(Unit)) {
        Unit value;
        std::memcpy(&value, at, sizeof value);
        if constexpr (sizeof(Unit) == 2) {
            value = __builtin_bswap16(value);
        } else {
            value = __builtin_bswap32(value);
        }
        std::memcpy(at, &value, sizeof value);
    }
}

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
    for (std::size_t i = 0; i < kInfoPlan.count; ++i) {
        const SwapRun& run = kInfoPlan.runs[i];
        if (run.width == 2) {
            ReverseUnits<std::uint16_t>(block + run.offset, run.units);
        } else {
            ReverseUnits<std::uint32_t>(block + run.offset, run.units);
        }
    }
}

std::span<const PlacedByteOrderMap> FrameInfoByteOrderMaps() {
    return kInfoMaps;
}

ByteOrderMap MainHeaderByteOrderMap() {
    return kMainHeaderMap.data();
}
ByteOrderMap IndexEntryByteOrderMap() {
    return kIndexEntryMap.data();
}
int ByteOrderMapSpan(ByteOrderMap map) {
    return Span(map);
}
