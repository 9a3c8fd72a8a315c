#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// RD1 (the LED) and RG6 become outputs driven low.
void initDigitalIO(void);

#ifdef __cplusplus
}
#endif
