// The Windows scalar types that the Simple and Extended MAPI declarations are written in.
#pragma once

#include <cstdint>

// Sizes as on Windows: ULONG and LONG are 32 bits whatever the platform's long is, and
// ULONG_PTR (window handles passed as ulUIParam) is pointer-sized.
typedef uint32_t ULONG;
typedef int32_t LONG;
typedef uint16_t USHORT;
typedef uint8_t BYTE;
typedef uintptr_t ULONG_PTR;
typedef ULONG FLAGS;
typedef ULONG* LPULONG;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void* LPVOID;
typedef BYTE* LPBYTE;
