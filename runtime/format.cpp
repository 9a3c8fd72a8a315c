// The formatter behind the clock demo's console line ("%d:%d:%d-%d-%d/%d/%d"): sprintf with
// %d, %u, %x, %c, %s and %%, no flags, width, precision or length modifiers. A conversion it
// does not know is copied as it stands.
#include <stdarg.h>

#include "runtime/runtime.h"

namespace {

char* putUnsigned(char* out, unsigned value, unsigned base) {
    char digits[10];  // a 32-bit value has at most ten decimal digits
    int count = 0;
    do {
        const unsigned digit = value % base;
        digits[count++] = char(digit < 10 ? '0' + digit : 'a' + digit - 10);
        value /= base;
    } while (value != 0);
    while (count > 0) *out++ = digits[--count];
    return out;
}

}  // namespace

extern "C" int RT_NAME(sprintf)(char* str, const char* format, ...) RT_NOEXCEPT {
    va_list args;
    va_start(args, format);
    char* out = str;
    for (const char* f = format; *f != '\0'; ++f) {
        if (*f != '%') {
            *out++ = *f;
            continue;
        }
        const char conversion = *++f;
        if (conversion == '\0') break;  // a lone '%' at the end
        switch (conversion) {
            case 'd': {
                const int value = va_arg(args, int);
                if (value < 0) *out++ = '-';
                // Negated as unsigned, so that INT_MIN has a magnitude too.
                out = putUnsigned(out, value < 0 ? 0u - unsigned(value) : unsigned(value), 10);
                break;
            }
            case 'u':
                out = putUnsigned(out, va_arg(args, unsigned), 10);
                break;
            case 'x':
                out = putUnsigned(out, va_arg(args, unsigned), 16);
                break;
            case 'c':
                *out++ = char(va_arg(args, int));
                break;
            case 's': {
                const char* s = va_arg(args, const char*);
                if (s == nullptr) s = "(null)";
                while (*s != '\0') *out++ = *s++;
                break;
            }
            case '%':
                *out++ = '%';
                break;
            default:
                *out++ = '%';
                *out++ = conversion;
                break;
        }
    }
    *out = '\0';
    va_end(args);
    return int(out - str);
}
