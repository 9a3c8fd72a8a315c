// The C library's memory and string functions the firmware uses. Byte at a time: the
// buffers are small (a 100-byte line), and flash is scarce.
#include "runtime/runtime.h"

extern "C" {

void* RT_NAME(memset)(void* dest, int c, size_t n) RT_NOEXCEPT {
    unsigned char* d = static_cast<unsigned char*>(dest);
    while (n--) *d++ = static_cast<unsigned char>(c);
    return dest;
}

void* RT_NAME(memcpy)(void* dest, const void* src, size_t n) RT_NOEXCEPT {
    unsigned char* d = static_cast<unsigned char*>(dest);
    const unsigned char* s = static_cast<const unsigned char*>(src);
    while (n--) *d++ = *s++;
    return dest;
}

void* RT_NAME(memmove)(void* dest, const void* src, size_t n) RT_NOEXCEPT {
    unsigned char* d = static_cast<unsigned char*>(dest);
    const unsigned char* s = static_cast<const unsigned char*>(src);
    if (reinterpret_cast<uintptr_t>(d) <= reinterpret_cast<uintptr_t>(s)) {
        while (n--) *d++ = *s++;
    } else {
        // Destination above the source: copy from the end, so that an overlap is read
        // before it is overwritten.
        while (n--) d[n] = s[n];
    }
    return dest;
}

int RT_NAME(memcmp)(const void* a, const void* b, size_t n) RT_NOEXCEPT {
    const unsigned char* x = static_cast<const unsigned char*>(a);
    const unsigned char* y = static_cast<const unsigned char*>(b);
    for (; n; --n, ++x, ++y) {
        if (*x != *y) return *x - *y;
    }
    return 0;
}

size_t RT_NAME(strlen)(const char* s) RT_NOEXCEPT {
    const char* end = s;
    while (*end) ++end;
    return size_t(end - s);
}

}  // extern "C"
