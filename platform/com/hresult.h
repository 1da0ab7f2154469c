#pragma once
// Result codes as the platform defines them: negative values are failures.
#include "platform/com/win_types.h"

using HRESULT = LONG;

#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)

constexpr HRESULT MakeHResult(std::uint32_t value) {
    return static_cast<HRESULT>(value);
}

constexpr HRESULT HRESULT_FROM_WIN32(std::uint32_t error) {
    return error == 0 || static_cast<HRESULT>(error) < 0
               ? static_cast<HRESULT>(error)
               : MakeHResult((error & 0x0000FFFFu) | 0x80070000u);
}

constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_MORE_DATA = 234;
constexpr DWORD ERROR_NOT_FOUND = 1168;
constexpr DWORD ERROR_DEVICE_NOT_CONNECTED = 1167;
constexpr DWORD ERROR_NO_SYSTEM_RESOURCES = 1450;
constexpr DWORD ERROR_SET_NOT_FOUND = 1170;

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = MakeHResult(0x80004001u);
constexpr HRESULT E_NOINTERFACE = MakeHResult(0x80004002u);
constexpr HRESULT E_POINTER = MakeHResult(0x80004003u);
constexpr HRESULT E_ABORT = MakeHResult(0x80004004u);
constexpr HRESULT E_FAIL = MakeHResult(0x80004005u);
constexpr HRESULT E_UNEXPECTED = MakeHResult(0x8000FFFFu);
constexpr HRESULT E_OUTOFMEMORY = MakeHResult(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = MakeHResult(0x80070057u);
constexpr HRESULT REGDB_E_CLASSNOTREG = MakeHResult(0x80040154u);
constexpr HRESULT CLASS_E_NOAGGREGATION = MakeHResult(0x80040110u);
// Kernel-streaming property sets and ids the device does not serve.
constexpr HRESULT E_PROP_ID_UNSUPPORTED = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);       // 0x80070490
constexpr HRESULT E_PROP_SET_UNSUPPORTED = HRESULT_FROM_WIN32(ERROR_SET_NOT_FOUND);  // 0x80070492
