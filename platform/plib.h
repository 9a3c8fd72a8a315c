// The peripheral-library operations the drivers use: interrupt controller, UART, I2C and
// the performance set-up. All inline, so that on the chip each reduces to the register
// accesses it stands for.
#pragma once
#include <stdint.h>

#include "platform/cp0.h"
#include "platform/pic32mx.h"
#include "platform/types.h"

// Every operation is expanded where it is called, also when optimising for size: each
// stands for a register access or two, and a call would cost more than the access. Internal
// linkage: a module that takes an operation's address keeps its own copy, so no module
// exports a library name.
#define PLIB_INLINE [[gnu::always_inline]] static inline

// Peripheral bus clock: 80 MHz shifted right by OSCCON.PBDIV, read at the moment of use.
PLIB_INLINE uint32_t peripheralBusClock() { return 80000000u >> OSCCONbits.PBDIV; }

// ---------------------------------------------------------------- interrupts

typedef enum { INT_DISABLED = 0, INT_ENABLED = 1 } INT_EN_DIS;

// Library source numbers index the table below; they are not hardware request bits.
typedef enum {
    INT_CT = 0,
    INT_T1 = 8,
    INT_T2 = 9,
    INT_T3 = 10,
    INT_T4 = 11,
    INT_T5 = 12,
    INT_I2C1B = 23,
    INT_I2C1S = 24,
    INT_I2C1M = 25,
    INT_SPI2E = 28,
    INT_SPI2TX = 29,
    INT_SPI2RX = 30,
    INT_AD1 = 31,
    INT_CN = 32,
    INT_U1E = 33,
    INT_U1RX = 34,
    INT_U1 = 35,
    INT_U1TX = 36,
    INT_U2E = 37,
    INT_U2RX = 38,
    INT_U2TX = 40,
    INT_NUMBER_OF_SOURCES = 41
} INT_SOURCE;

// Library vector numbers are the hardware vector plus one.
typedef enum {
    INT_CORE_TIMER_VECTOR = 1,
    INT_TIMER_1_VECTOR = 5,
    INT_TIMER_2_VECTOR = 9,
    INT_TIMER_3_VECTOR = 13,
    INT_TIMER_4_VECTOR = 17,
    INT_TIMER_5_VECTOR = 21,
    INT_UART_1_VECTOR = 25,
    INT_I2C_1_VECTOR = 26,
    INT_CHANGE_NOTICE_VECTOR = 27,
    INT_ADC_VECTOR = 28,
    INT_SPI_2_VECTOR = 32,
    INT_UART_2_VECTOR = 33
} INT_VECTOR;

typedef enum {
    INT_PRIORITY_DISABLED = 0,
    INT_PRIORITY_LEVEL_1,
    INT_PRIORITY_LEVEL_2,
    INT_PRIORITY_LEVEL_3,
    INT_PRIORITY_LEVEL_4,
    INT_PRIORITY_LEVEL_5,
    INT_PRIORITY_LEVEL_6,
    INT_PRIORITY_LEVEL_7
} INT_PRIORITY;

typedef enum {
    INT_SUB_PRIORITY_LEVEL_0 = 0,
    INT_SUB_PRIORITY_LEVEL_1,
    INT_SUB_PRIORITY_LEVEL_2,
    INT_SUB_PRIORITY_LEVEL_3
} INT_SUB_PRIORITY;

namespace plib {
// Hardware request bit of each library source (0xFF: no such source).
constexpr uint8_t intSourceBit[INT_NUMBER_OF_SOURCES] = {
    0,    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 4,    8,    12,   16,   20,   0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 29,   30,   31,   0xFF, 0xFF,
    37,   38,   39,   33,   32,   26,   27,   0xFF, 28,   40,   41,   0xFF, 42};

constexpr uint32_t ifsAddress(unsigned bit) { return 0xBF881030u + 0x10u * (bit / 32); }
constexpr uint32_t iecAddress(unsigned bit) { return 0xBF881060u + 0x10u * (bit / 32); }
constexpr uint32_t ipcAddress(unsigned hwVector) { return 0xBF881090u + 0x10u * (hwVector / 4); }
}  // namespace plib

PLIB_INLINE unsigned int INTDisableInterrupts(void) { return platform::cp0::disableInterrupts(); }

// Left to the compiler: the start-up's three restores share one copy when that is smaller.
static inline void INTRestoreInterrupts(unsigned int status) {
    if (status & platform::cp0::StatusIE)
        platform::cp0::enableInterrupts();
    else
        platform::cp0::disableInterrupts();
}

PLIB_INLINE void INTEnableSystemMultiVectoredInt(void) {
    platform::cp0::Cause = platform::cp0::Cause | platform::cp0::CauseIV;
    INTCONSET = 0x1000;  // MVEC
    platform::cp0::enableInterrupts();
}

PLIB_INLINE void INTEnable(INT_SOURCE source, INT_EN_DIS enable) {
    unsigned bit = plib::intSourceBit[source];
    uint32_t mask = 1u << (bit % 32);
    platform::sfrWrite(plib::iecAddress(bit) + (enable ? 0x8 : 0x4), mask);
}

PLIB_INLINE unsigned int INTGetFlag(INT_SOURCE source) {
    unsigned bit = plib::intSourceBit[source];
    return platform::sfrRead(plib::ifsAddress(bit)) & (1u << (bit % 32));
}

PLIB_INLINE void INTClearFlag(INT_SOURCE source) {
    unsigned bit = plib::intSourceBit[source];
    platform::sfrWrite(plib::ifsAddress(bit) + 0x4, 1u << (bit % 32));
}

PLIB_INLINE void INTSetVectorPriority(INT_VECTOR vector, INT_PRIORITY priority) {
    unsigned hw = unsigned(vector) - 1, shift = 8 * (hw % 4) + 2;
    platform::sfrWrite(plib::ipcAddress(hw) + 0x4, 7u << shift);
    platform::sfrWrite(plib::ipcAddress(hw) + 0x8, (uint32_t(priority) & 7u) << shift);
}

PLIB_INLINE void INTSetVectorSubPriority(INT_VECTOR vector, INT_SUB_PRIORITY subPriority) {
    unsigned hw = unsigned(vector) - 1, shift = 8 * (hw % 4);
    platform::sfrWrite(plib::ipcAddress(hw) + 0x4, 3u << shift);
    platform::sfrWrite(plib::ipcAddress(hw) + 0x8, (uint32_t(subPriority) & 3u) << shift);
}

// ---------------------------------------------------------------- cache and performance

PLIB_INLINE void CheKseg0CacheOn(void) { platform::cp0::Config = (platform::cp0::Config & ~7u) | 3u; }

// The system unlock: the three SYSKEY writes after which OSCCON and RSWRST take writes;
// any other SYSKEY value locks again. Interrupts and DMA must not split the sequence.
PLIB_INLINE void SYSTEMUnlock(void) {
    SYSKEY = 0;
    SYSKEY = 0xAA996655u;
    SYSKEY = 0x556699AAu;
}
PLIB_INLINE void SYSTEMLock(void) { SYSKEY = 0x33333333u; }

PLIB_INLINE unsigned int SYSTEMConfigPerformance(unsigned int sys_clock) {
    // Peripheral bus divider: 1 up to 80 MHz, 2 above.
    uint32_t pbdiv = 0, pb_clock = sys_clock;
    if (sys_clock > 80000000u) {
        pbdiv = 0x00080000u;
        pb_clock = sys_clock / 2;
    }

    unsigned int int_status = INTDisableInterrupts();
    bool dma_was_suspended = DMACONbits.SUSPEND;
    if (!dma_was_suspended) {
        DMACONSET = 0x1000;
        while (!DMACONbits.SUSPEND) {
        }
    }
    SYSTEMUnlock();
    OSCCON = (OSCCON & ~0x00180000u) | pbdiv;
    (void)static_cast<uint32_t>(OSCCON);  // the write has taken effect once it reads back
    SYSTEMLock();
    if (!dma_was_suspended) DMACONCLR = 0x1000;
    INTRestoreInterrupts(int_status);

    // Flash wait states: one per 30 MHz started.
    uint32_t wait_states = 0;
    for (uint32_t clock = sys_clock; clock > 30000000u; clock -= 30000000u) ++wait_states;
    int_status = INTDisableInterrupts();
    CHECON = wait_states;
    INTRestoreInterrupts(int_status);

    int_status = INTDisableInterrupts();
    BMXCONCLR = 0x40;         // no data-RAM wait state
    CHECON = CHECON | 0x30;   // predictive prefetch, cacheable and non-cacheable regions
    CheKseg0CacheOn();
    INTRestoreInterrupts(int_status);
    return pb_clock;
}

// ---------------------------------------------------------------- UART

typedef enum { UART1 = 0, UART2 = 1, UART_NUMBER_OF_MODULES = 2 } UART_MODULE;

enum {
    UART_ENABLE_PINS_TX_RX_ONLY = 0,
    UART_INTERRUPT_ON_TX_NOT_FULL = 0,
    UART_INTERRUPT_ON_RX_NOT_EMPTY = 0,
    UART_DATA_SIZE_8_BITS = 0,
    UART_PARITY_NONE = 0,
    UART_STOP_BITS_1 = 0,
};

enum { UART_PERIPHERAL = 0x01, UART_RX = 0x02, UART_TX = 0x04, UART_ENABLE = 0x80 };

// A register and its CLR/SET/INV companions.
struct REG_SET {
    uint32_t reg;
    uint32_t clr() const { return reg + 0x4; }
    uint32_t set() const { return reg + 0x8; }
    uint32_t inv() const { return reg + 0xC; }
};
struct UART_REGS {
    REG_SET mode, sta, tx, rx, brg;
};
constexpr UART_REGS uartReg[UART_NUMBER_OF_MODULES] = {
    {{0xBF806000}, {0xBF806010}, {0xBF806020}, {0xBF806030}, {0xBF806040}},
    {{0xBF806200}, {0xBF806210}, {0xBF806220}, {0xBF806230}, {0xBF806240}},
};

PLIB_INLINE void UARTConfigure(UART_MODULE id, uint32_t flags) {
    platform::sfrWrite(uartReg[id].mode.clr(), 0x3BD8);
    platform::sfrWrite(uartReg[id].sta.clr(), 0x2000);
    platform::sfrWrite(uartReg[id].mode.set(), flags & 0xFFFFu);
    platform::sfrWrite(uartReg[id].sta.set(), flags >> 16);
}

PLIB_INLINE void UARTSetFifoMode(UART_MODULE id, uint32_t mode) {
    platform::sfrWrite(uartReg[id].sta.clr(), 0xC0C0);
    platform::sfrWrite(uartReg[id].sta.set(), mode & 0xC0C0u);
}

PLIB_INLINE void UARTSetLineControl(UART_MODULE id, uint32_t mode) {
    platform::sfrWrite(uartReg[id].mode.clr(), 0x7);
    platform::sfrWrite(uartReg[id].mode.set(), mode & 0x7u);
}

PLIB_INLINE uint32_t UARTSetDataRate(UART_MODULE id, uint32_t source_clock, uint32_t data_rate) {
    bool brgh = platform::sfrRead(uartReg[id].mode.reg) & (1u << 3);
    uint32_t d = brgh ? source_clock / 2 : source_clock / 8;
    uint32_t q = (d / data_rate + 1) / 2;
    platform::sfrWrite(uartReg[id].brg.reg, q - 1);
    return d / 2 / q;
}

PLIB_INLINE void UARTEnable(UART_MODULE id, uint32_t flags) {
    uint32_t sta = (flags & UART_ENABLE) ? uartReg[id].sta.set() : uartReg[id].sta.clr();
    uint32_t mode = (flags & UART_ENABLE) ? uartReg[id].mode.set() : uartReg[id].mode.clr();
    if (flags & UART_RX) platform::sfrWrite(sta, 1u << 12);          // URXEN
    if (flags & UART_TX) platform::sfrWrite(sta, 1u << 10);          // UTXEN
    if (flags & UART_PERIPHERAL) platform::sfrWrite(mode, 1u << 15);  // ON
}

PLIB_INLINE BOOL UARTTransmitterIsReady(UART_MODULE id) {
    return (platform::sfrRead(uartReg[id].sta.reg) & (1u << 9)) ? FALSE : TRUE;
}
PLIB_INLINE BOOL UARTTransmissionHasCompleted(UART_MODULE id) {
    return (platform::sfrRead(uartReg[id].sta.reg) & (1u << 8)) ? TRUE : FALSE;
}
PLIB_INLINE void UARTSendDataByte(UART_MODULE id, BYTE data) { platform::sfrWrite(uartReg[id].tx.reg, data); }
PLIB_INLINE BYTE UARTGetDataByte(UART_MODULE id) { return BYTE(platform::sfrRead(uartReg[id].rx.reg)); }

// ---------------------------------------------------------------- I2C

typedef enum { I2C1 = 0, I2C2 = 1, I2C_NUMBER_OF_MODULES = 2 } I2C_MODULE;
typedef enum { I2C_SUCCESS = 0, I2C_ERROR = 1, I2C_MASTER_BUS_COLLISION = 2, I2C_RECEIVE_OVERFLOW = 3 } I2C_RESULT;
typedef enum { I2C_WRITE = 0, I2C_READ = 1 } I2C_RW;

typedef uint32_t I2C_STATUS;
enum {
    I2C_TRANSMITTER_FULL = 0x0001,
    I2C_DATA_AVAILABLE = 0x0002,
    I2C_START = 0x0008,
    I2C_STOP = 0x0010,
    I2C_RECEIVER_OVERFLOW = 0x0040,
    I2C_TRANSMITTER_OVERFLOW = 0x0080,
    I2C_ARBITRATION_LOSS = 0x0400,
    I2C_TRANSMITTER_BUSY = 0x4000,
    I2C_BYTE_ACKNOWLEDGED = 0x8000,
};

typedef union {
    struct {
        uint8_t rw : 1;
        uint8_t address : 7;
    };
    uint8_t byte;
} I2C_7_BIT_ADDRESS;

namespace plib {
constexpr uint32_t i2cBase(I2C_MODULE id) { return 0xBF805000u + 0x200u * id; }
constexpr uint32_t I2C_CON = 0x00, I2C_STAT = 0x10, I2C_BRG = 0x40, I2C_TRN = 0x50, I2C_RCV = 0x60;
constexpr uint32_t CLR = 0x4, SET = 0x8;
constexpr uint32_t SEN = 1u << 0, RSEN = 1u << 1, PEN = 1u << 2, RCEN = 1u << 3, ACKEN = 1u << 4,
                   ACKDT = 1u << 5, I2CON = 1u << 15;
constexpr uint32_t TBF = 1u << 0, RBF = 1u << 1, S = 1u << 3, I2COV = 1u << 6, IWCOL = 1u << 7,
                   BCL = 1u << 10, TRSTAT = 1u << 14, ACKSTAT = 1u << 15;
PLIB_INLINE uint32_t i2cRead(I2C_MODULE id, uint32_t reg) { return platform::sfrRead(i2cBase(id) + reg); }
PLIB_INLINE void i2cWrite(I2C_MODULE id, uint32_t reg, uint32_t v) { platform::sfrWrite(i2cBase(id) + reg, v); }
}  // namespace plib

PLIB_INLINE uint32_t I2CSetFrequency(I2C_MODULE id, uint32_t source_clock, uint32_t i2c_clock) {
    uint32_t brg = (source_clock / i2c_clock) / 2 - 2;
    plib::i2cWrite(id, plib::I2C_BRG, brg);
    return (source_clock / (brg + 2)) / 2;
}

PLIB_INLINE void I2CEnable(I2C_MODULE id, BOOL enable) {
    plib::i2cWrite(id, plib::I2C_CON + (enable ? plib::SET : plib::CLR), plib::I2CON);
}

PLIB_INLINE I2C_RESULT I2CStart(I2C_MODULE id) {
    plib::i2cWrite(id, plib::I2C_CON + plib::SET, plib::SEN);
    return (plib::i2cRead(id, plib::I2C_STAT) & plib::BCL) ? I2C_MASTER_BUS_COLLISION : I2C_SUCCESS;
}

PLIB_INLINE I2C_RESULT I2CRepeatStart(I2C_MODULE id) {
    plib::i2cWrite(id, plib::I2C_CON + plib::SET, plib::RSEN);
    return (plib::i2cRead(id, plib::I2C_STAT) & (plib::BCL | plib::IWCOL)) ? I2C_MASTER_BUS_COLLISION : I2C_SUCCESS;
}

PLIB_INLINE void I2CStop(I2C_MODULE id) { plib::i2cWrite(id, plib::I2C_CON + plib::SET, plib::PEN); }

PLIB_INLINE I2C_RESULT I2CSendByte(I2C_MODULE id, BYTE data) {
    plib::i2cWrite(id, plib::I2C_TRN, data);
    return (plib::i2cRead(id, plib::I2C_STAT) & (plib::BCL | plib::IWCOL)) ? I2C_MASTER_BUS_COLLISION : I2C_SUCCESS;
}

PLIB_INLINE I2C_RESULT I2CReceiverEnable(I2C_MODULE id, BOOL enable) {
    plib::i2cWrite(id, plib::I2C_CON + (enable ? plib::SET : plib::CLR), plib::RCEN);
    return (plib::i2cRead(id, plib::I2C_STAT) & plib::I2COV) ? I2C_RECEIVE_OVERFLOW : I2C_SUCCESS;
}

PLIB_INLINE I2C_STATUS I2CGetStatus(I2C_MODULE id) {
    uint32_t con = plib::i2cRead(id, plib::I2C_CON);
    I2C_STATUS status = plib::i2cRead(id, plib::I2C_STAT);
    if (con & (plib::SEN | plib::RSEN)) status &= ~uint32_t(I2C_START);
    if (con & plib::PEN) status &= ~uint32_t(I2C_STOP);
    return status;
}

PLIB_INLINE BOOL I2CBusIsIdle(I2C_MODULE id) { return (plib::i2cRead(id, plib::I2C_STAT) & plib::S) ? FALSE : TRUE; }
PLIB_INLINE BOOL I2CTransmitterIsReady(I2C_MODULE id) {
    return (plib::i2cRead(id, plib::I2C_STAT) & plib::TBF) ? FALSE : TRUE;
}
PLIB_INLINE BOOL I2CTransmissionHasCompleted(I2C_MODULE id) {
    return (plib::i2cRead(id, plib::I2C_STAT) & plib::TRSTAT) ? FALSE : TRUE;
}
PLIB_INLINE BOOL I2CByteWasAcknowledged(I2C_MODULE id) {
    return (plib::i2cRead(id, plib::I2C_STAT) & plib::ACKSTAT) ? FALSE : TRUE;
}
PLIB_INLINE BOOL I2CAcknowledgeHasCompleted(I2C_MODULE id) {
    return (plib::i2cRead(id, plib::I2C_CON) & plib::ACKEN) ? FALSE : TRUE;
}
PLIB_INLINE BOOL I2CReceivedDataIsAvailable(I2C_MODULE id) {
    return (plib::i2cRead(id, plib::I2C_STAT) & plib::RBF) ? TRUE : FALSE;
}

PLIB_INLINE void I2CAcknowledgeByte(I2C_MODULE id, BOOL ack) {
    plib::i2cWrite(id, plib::I2C_CON + (ack ? plib::CLR : plib::SET), plib::ACKDT);
    plib::i2cWrite(id, plib::I2C_CON + plib::SET, plib::ACKEN);
}

PLIB_INLINE BYTE I2CGetByte(I2C_MODULE id) { return BYTE(plib::i2cRead(id, plib::I2C_RCV)); }

// Clears the error flags named in `status` (I2C_ARBITRATION_LOSS, I2C_TRANSMITTER_OVERFLOW,
// I2C_RECEIVER_OVERFLOW); the other status bits belong to the hardware.
PLIB_INLINE void I2CClearStatus(I2C_MODULE id, I2C_STATUS status) {
    plib::i2cWrite(id, plib::I2C_STAT + plib::CLR, status & (plib::BCL | plib::IWCOL | plib::I2COV));
}
