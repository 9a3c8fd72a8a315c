#pragma once
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Result codes of initMedia (0 = card ready).
#define SD_ERR_NOT_IDLE 0x80      // CMD0 not answered with 0x01 (or not at all)
#define SD_ERR_INIT_TIMEOUT 0x81  // CMD1 not answered with 0x00 within 10 000 attempts

// SD card in SPI mode on SPI2, card select RB13 (active low).
// Select line high and an output, SPI2 on in mode 0 at 400 kHz.
void initSD(void);
// Exchanges one byte; SPI2 must be on.
uint8_t writeSPI(uint8_t b);
// Sends one command frame and returns the card's R1 (0xFF if none); leaves the card selected.
int sendSDCmd(uint8_t c, uint32_t a);
// Reset (CMD0) and initialisation (CMD1) handshake; on success SPI2 runs at PBCLK / 2.
int initMedia(void);

#ifdef __cplusplus
}
#endif
