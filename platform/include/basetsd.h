// Pointer-sized integer types. On this platform pointers are 64 bits and `long` is 64 bits too,
// so the Windows 32-bit types are spelled with `int`.
#pragma once

#include <cstddef>
#include <cstdint>

typedef std::intptr_t INT_PTR, *PINT_PTR;
typedef std::uintptr_t UINT_PTR, *PUINT_PTR;
typedef std::intptr_t LONG_PTR, *PLONG_PTR;
typedef std::uintptr_t ULONG_PTR, *PULONG_PTR;
typedef ULONG_PTR DWORD_PTR, *PDWORD_PTR;
typedef ULONG_PTR SIZE_T, *PSIZE_T;
typedef LONG_PTR SSIZE_T, *PSSIZE_T;
typedef std::int32_t INT32;
typedef std::uint32_t UINT32;
typedef std::int64_t INT64, LONG64;
typedef std::uint64_t UINT64, ULONG64, DWORD64;
