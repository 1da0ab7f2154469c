#pragma once
// Table-driven byte-order conversion of the ZRF records. A map is a sequence of codes ending
// with 0: -1 reverses the next 2 bytes, -2 the next 4, a positive n skips n bytes. Every
// conversion is its own inverse.
#include <cstddef>
#include <cstdint>
#include <span>

using ByteOrderMap = const std::int16_t*;

// Converts the record at `record` in place; the map alone decides how many bytes it touches.
void SwapByMap(std::uint8_t* record, ByteOrderMap map);
// Converts the 2428-byte frame-information block (its first 1148 bytes; the rest is opaque).
void SwapFrameInfoBlock(std::uint8_t* block);

// The maps the frame-information block is converted by, each at its offset: SwapFrameInfoBlock
// does what SwapByMap would do with each of them.
struct PlacedByteOrderMap {
    std::size_t offset;
    ByteOrderMap map;
};
std::span<const PlacedByteOrderMap> FrameInfoByteOrderMaps();

ByteOrderMap MainHeaderByteOrderMap();
ByteOrderMap IndexEntryByteOrderMap();
// Bytes a map covers (sum of its units), for callers that check a record fits.
int ByteOrderMapSpan(ByteOrderMap map);
