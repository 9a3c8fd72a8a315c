#pragma once
#include "platform/plib.h"

#ifdef __cplusplus
extern "C" {
#endif

// UART1 console: 57600 baud requested (57471 achieved), 8N1, receive interrupt at level 2.
void initUART(void);
// Blocking output; each returns when its last character has left the transmitter.
void writeString(const int uartX, const char* string);
void putCharacter(const int uartX, const char character);
// Echoes each received byte (vector 24).
void intUart1Handler(void);

#ifdef __cplusplus
}
#endif
