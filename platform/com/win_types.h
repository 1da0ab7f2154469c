#pragma once
// The platform's basic scalar types, with the platform's widths (LONG and ULONG are 32-bit).
#include <cstdint>

// Shared with the time functions' header, which declares the same five.
#ifndef ZRF_WINDOWS_BASIC_TYPES
#define ZRF_WINDOWS_BASIC_TYPES
typedef std::uint32_t DWORD;
typedef std::int32_t LONG;
typedef std::int64_t LONGLONG;
typedef std::uint32_t UINT;
typedef int BOOL;
#endif
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using ULONG = std::uint32_t;
using ULONGLONG = std::uint64_t;
using DWORD_PTR = std::uintptr_t;
using WCHAR = wchar_t;
using OLECHAR = wchar_t;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
using LPVOID = void*;
using HWND = void*;
using LCID = DWORD;
using VARTYPE = std::uint16_t;

// The platform's calling convention for interface methods; the stand-in has just one.
#ifndef STDMETHODCALLTYPE
#define STDMETHODCALLTYPE
#endif

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};

struct SIZE {
    LONG cx;
    LONG cy;
};
