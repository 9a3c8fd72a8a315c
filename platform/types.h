// Basic types of the peripheral library, shared by every module.
#pragma once
#include <stdint.h>

typedef enum { FALSE = 0, TRUE = 1 } BOOL;
typedef uint8_t UINT8;
typedef uint8_t BYTE;
typedef uint16_t UINT16;
typedef uint32_t UINT32;
