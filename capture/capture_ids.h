#pragma once
// Identifiers of the maker's own capture-side filters and property sets, and the layout of
// the camera property replies. The platform headers do not know them, so they live here as
// plain constants that build the same against the stand-in and the platform.
#include <cstddef>

#include "platform/dshow/dshow.h"

namespace zrf::capture {

// The maker's transform filter ("VORNTransform") and IR output filter ("IROut").
inline constexpr CLSID kClsidVornTransform = {
    0xCC8636CA, 0x4AEE, 0x4483, {0x9A, 0xFC, 0xFC, 0x86, 0xE2, 0x6E, 0x03, 0xC2}};
inline constexpr CLSID kClsidIrOut = {
    0x5C5B942D, 0x480C, 0x4BEA, {0xA7, 0x67, 0x80, 0xA6, 0xA2, 0xDA, 0x8E, 0x5E}};

// The camera property set on the capture pin.
inline constexpr GUID kPropSetCamera = {
    0xFFC75AED, 0x46D5, 0x44E6, {0x86, 0x3C, 0x3B, 0x6C, 0x6C, 0x49, 0x09, 0xE9}};
inline constexpr DWORD kPropRawCommand = 0;
inline constexpr DWORD kPropDeviceInfo = 1;
inline constexpr DWORD kPropSerial = 2;
inline constexpr DWORD kPropModeValue = 3;

// Property 0 and 1 blocks: a 32-bit word, then up to 256 bytes.
inline constexpr std::size_t kPropBlockSize = 260;
inline constexpr std::size_t kRawCommandCapacity = 256;

// The camera's vendor-specific unit: its property set and the 256-byte mailbox control.
inline constexpr GUID kPropSetExtensionUnit = {
    0xFA591FD4, 0x9450, 0x3A46, {0xB3, 0xBB, 0xE7, 0x85, 0x8A, 0x83, 0x1F, 0xA3}};
inline constexpr ULONG kMailboxControl = 1;
inline constexpr std::size_t kMailboxSize = 256;

// The video-control frame-rate reply buffer.
inline constexpr std::size_t kFrameRateReplySize = 100;

}  // namespace zrf::capture
