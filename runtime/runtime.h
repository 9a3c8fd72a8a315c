// The library routines the firmware links from the run-time: a few C library functions,
// the formatter, single-precision soft-float with libgcc's names and sqrtf.
//
// On the chip they carry their real names, so that GCC's calls (memset, memcpy, __addsf3 for
// a float addition under -msoft-float, ...) reach them. Natively the same sources are
// compiled as rt_<name> (rt_memset, rt___addsf3), beside the host's C library and FPU,
// which the tests compare them with.
#pragma once
#include <stddef.h>
#include <stdint.h>

#if defined(__mips__)
#define RT_NAME(name) name
#else
#define RT_NAME(name) rt_##name
#endif

// The C library's headers declare these noexcept in C++; match them, so that a source may
// include both.
#ifdef __cplusplus
#define RT_NOEXCEPT noexcept
extern "C" {
#else
#define RT_NOEXCEPT
#endif

void* RT_NAME(memset)(void* dest, int c, size_t n) RT_NOEXCEPT;
void* RT_NAME(memcpy)(void* dest, const void* src, size_t n) RT_NOEXCEPT;
void* RT_NAME(memmove)(void* dest, const void* src, size_t n) RT_NOEXCEPT;
int RT_NAME(memcmp)(const void* a, const void* b, size_t n) RT_NOEXCEPT;
size_t RT_NAME(strlen)(const char* s) RT_NOEXCEPT;

// %d %u %x %c %s and %%, without flags, width or precision; any other conversion is copied
// as it stands. Returns the number of characters written, the terminating zero not counted.
int RT_NAME(sprintf)(char* str, const char* format, ...) RT_NOEXCEPT __attribute__((format(printf, 2, 3)));

// IEEE 754 single precision, rounded to nearest even, subnormals kept.
float RT_NAME(__addsf3)(float a, float b) RT_NOEXCEPT;
float RT_NAME(__subsf3)(float a, float b) RT_NOEXCEPT;
float RT_NAME(__mulsf3)(float a, float b) RT_NOEXCEPT;
float RT_NAME(__divsf3)(float a, float b) RT_NOEXCEPT;
float RT_NAME(__floatsisf)(int32_t i) RT_NOEXCEPT;
float RT_NAME(__floatunsisf)(uint32_t u) RT_NOEXCEPT;
// Truncating toward zero. Out of range: the nearest representable integer (INT32_MIN or
// INT32_MAX; 0 or UINT32_MAX), a NaN by its sign bit as an infinity would be.
int32_t RT_NAME(__fixsfsi)(float a) RT_NOEXCEPT;
uint32_t RT_NAME(__fixunssfsi)(float a) RT_NOEXCEPT;
// libgcc's comparison results: eq/ne 0 when equal; lt/le negative, 0, positive for
// a < b, a == b, a > b and positive when unordered; gt/ge the same but negative when
// unordered; unord nonzero when either is a NaN.
int RT_NAME(__eqsf2)(float a, float b) RT_NOEXCEPT;
int RT_NAME(__nesf2)(float a, float b) RT_NOEXCEPT;
int RT_NAME(__ltsf2)(float a, float b) RT_NOEXCEPT;
int RT_NAME(__lesf2)(float a, float b) RT_NOEXCEPT;
int RT_NAME(__gtsf2)(float a, float b) RT_NOEXCEPT;
int RT_NAME(__gesf2)(float a, float b) RT_NOEXCEPT;
int RT_NAME(__unordsf2)(float a, float b) RT_NOEXCEPT;
float RT_NAME(sqrtf)(float a) RT_NOEXCEPT;

#ifdef __cplusplus
}
#endif
