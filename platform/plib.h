// The peripheral-library operations the drivers use: interrupt controller, UART, I2C and
// the performance set-up. All inline, so that on the chip each reduces to the register
// accesses it stands for.
#pragma once
#include <stdint.h>

#include "platform/cp0.h"
#include "platform/interrupts.h"
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

// Library source numbers index the library's own table; they are not hardware request bits.
typedef enum {
#define PLIB_SOURCE(lib, number) INT_##lib = number,
#define PLIB_SOURCE_ROW(name, bit, vector, ...) __VA_OPT__(PLIB_SOURCE(__VA_ARGS__))
    PIC32MX_INTERRUPT_SOURCES(PLIB_SOURCE_ROW)
#undef PLIB_SOURCE_ROW
#undef PLIB_SOURCE
    INT_U1 = PIC32MX_LIBRARY_UART_1_SOURCE,
    INT_NUMBER_OF_SOURCES = PIC32MX_LIBRARY_SOURCE_COUNT
} INT_SOURCE;

// Library vector numbers are the hardware vector plus one.
typedef enum {
#define PLIB_VECTOR(name) INT_##name##_VECTOR = PIC32MX_LIBRARY_VECTOR(PIC32_VECTOR_##name),
    PIC32MX_VECTORS(PLIB_VECTOR)
#undef PLIB_VECTOR
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
struct SourceBits {
    uint8_t of[INT_NUMBER_OF_SOURCES];
};
// Hardware request bit of each library source (0xFF: no such source).
inline constexpr SourceBits intSourceBit = [] {
    SourceBits t{};
    for (auto& b : t.of) b = 0xFF;
#define PLIB_SOURCE_BIT(lib, number, bit) t.of[number] = bit;
#define PLIB_SOURCE_BIT_ROW(name, bit, vector, ...) __VA_OPT__(PLIB_SOURCE_BIT(__VA_ARGS__, bit))
    PIC32MX_INTERRUPT_SOURCES(PLIB_SOURCE_BIT_ROW)
#undef PLIB_SOURCE_BIT_ROW
#undef PLIB_SOURCE_BIT
    return t;
}();

constexpr unsigned hardwareVector(INT_VECTOR vector) { return unsigned(vector) - PIC32MX_LIBRARY_VECTOR(0); }
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
    INTCONSET = INTCON_MVEC;
    platform::cp0::enableInterrupts();
}

PLIB_INLINE void INTEnable(INT_SOURCE source, INT_EN_DIS enable) {
    unsigned bit = plib::intSourceBit.of[source];
    uint32_t mask = 1u << (bit % 32);
    platform::sfrWrite(platform::iecAddress(bit) + (enable ? platform::kSetOffset : platform::kClrOffset), mask);
}

PLIB_INLINE unsigned int INTGetFlag(INT_SOURCE source) {
    unsigned bit = plib::intSourceBit.of[source];
    return platform::sfrRead(platform::ifsAddress(bit)) & (1u << (bit % 32));
}

PLIB_INLINE void INTClearFlag(INT_SOURCE source) {
    unsigned bit = plib::intSourceBit.of[source];
    platform::sfrWrite(platform::ifsAddress(bit) + platform::kClrOffset, 1u << (bit % 32));
}

PLIB_INLINE void INTSetVectorPriority(INT_VECTOR vector, INT_PRIORITY priority) {
    unsigned hw = plib::hardwareVector(vector), shift = platform::priorityShift(hw);
    platform::sfrWrite(platform::ipcAddress(hw) + platform::kClrOffset, platform::kPriorityMask << shift);
    platform::sfrWrite(platform::ipcAddress(hw) + platform::kSetOffset,
                       (uint32_t(priority) & platform::kPriorityMask) << shift);
}

PLIB_INLINE void INTSetVectorSubPriority(INT_VECTOR vector, INT_SUB_PRIORITY subPriority) {
    unsigned hw = plib::hardwareVector(vector), shift = platform::subPriorityShift(hw);
    platform::sfrWrite(platform::ipcAddress(hw) + platform::kClrOffset, platform::kSubPriorityMask << shift);
    platform::sfrWrite(platform::ipcAddress(hw) + platform::kSetOffset,
                       (uint32_t(subPriority) & platform::kSubPriorityMask) << shift);
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
        pbdiv = OSCCON_PBDIV(1).value;
        pb_clock = sys_clock / 2;
    }

    unsigned int int_status = INTDisableInterrupts();
    bool dma_was_suspended = DMACONbits.SUSPEND;
    if (!dma_was_suspended) {
        DMACONSET = DMACON_SUSPEND;
        while (!DMACONbits.SUSPEND) {
        }
    }
    SYSTEMUnlock();
    OSCCON = (OSCCON & ~OSCCON_PBDIV.mask) | pbdiv;
    (void)static_cast<uint32_t>(OSCCON);  // the write has taken effect once it reads back
    SYSTEMLock();
    if (!dma_was_suspended) DMACONCLR = DMACON_SUSPEND;
    INTRestoreInterrupts(int_status);

    // Flash wait states: one per 30 MHz started.
    uint32_t wait_states = 0;
    for (uint32_t clock = sys_clock; clock > 30000000u; clock -= 30000000u) ++wait_states;
    int_status = INTDisableInterrupts();
    CHECON = wait_states;
    INTRestoreInterrupts(int_status);

    int_status = INTDisableInterrupts();
    BMXCONCLR = BMXCON_BMXWSDRM;
    CHECON |= CHECON_PREFEN(3);  // predictive prefetch, cacheable and non-cacheable regions
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
    uint32_t clr() const { return reg + platform::kClrOffset; }
    uint32_t set() const { return reg + platform::kSetOffset; }
    uint32_t inv() const { return reg + platform::kInvOffset; }
};
struct UART_REGS {
    REG_SET mode, sta, tx, rx, brg;
};
constexpr UART_REGS uartReg[UART_NUMBER_OF_MODULES] = {
    {{U1MODE.address}, {U1STA.address}, {U1TXREG.address}, {U1RXREG.address}, {U1BRG.address}},
    {{U2MODE.address}, {U2STA.address}, {U2TXREG.address}, {U2RXREG.address}, {U2BRG.address}},
};

// The module is chosen at run time: UART2's registers have UART1's fields, so the masks
// are taken from UART1's.
namespace plib {
constexpr uint32_t uartConfigureMode = (U1MODE_BRGH | U1MODE_RXINV | U1MODE_LPBACK | U1MODE_WAKE | U1MODE_UEN |
                                        U1MODE_RTSMD | U1MODE_IREN | U1MODE_SIDL).value;
constexpr uint32_t uartFifoMode = (U1STA_URXISEL | U1STA_UTXISEL).value;
constexpr uint32_t uartLineControl = (U1MODE_PDSEL | U1MODE_STSEL).value;
}  // namespace plib

PLIB_INLINE void UARTConfigure(UART_MODULE id, uint32_t flags) {
    platform::sfrWrite(uartReg[id].mode.clr(), plib::uartConfigureMode);
    platform::sfrWrite(uartReg[id].sta.clr(), U1STA_UTXINV.value);
    platform::sfrWrite(uartReg[id].mode.set(), flags & 0xFFFFu);
    platform::sfrWrite(uartReg[id].sta.set(), flags >> 16);
}

PLIB_INLINE void UARTSetFifoMode(UART_MODULE id, uint32_t mode) {
    platform::sfrWrite(uartReg[id].sta.clr(), plib::uartFifoMode);
    platform::sfrWrite(uartReg[id].sta.set(), mode & plib::uartFifoMode);
}

PLIB_INLINE void UARTSetLineControl(UART_MODULE id, uint32_t mode) {
    platform::sfrWrite(uartReg[id].mode.clr(), plib::uartLineControl);
    platform::sfrWrite(uartReg[id].mode.set(), mode & plib::uartLineControl);
}

PLIB_INLINE uint32_t UARTSetDataRate(UART_MODULE id, uint32_t source_clock, uint32_t data_rate) {
    bool brgh = platform::sfrRead(uartReg[id].mode.reg) & U1MODE_BRGH.mask;
    uint32_t d = brgh ? source_clock / 2 : source_clock / 8;
    uint32_t q = (d / data_rate + 1) / 2;
    platform::sfrWrite(uartReg[id].brg.reg, q - 1);
    return d / 2 / q;
}

PLIB_INLINE void UARTEnable(UART_MODULE id, uint32_t flags) {
    uint32_t sta = (flags & UART_ENABLE) ? uartReg[id].sta.set() : uartReg[id].sta.clr();
    uint32_t mode = (flags & UART_ENABLE) ? uartReg[id].mode.set() : uartReg[id].mode.clr();
    if (flags & UART_RX) platform::sfrWrite(sta, U1STA_URXEN.mask);
    if (flags & UART_TX) platform::sfrWrite(sta, U1STA_UTXEN.mask);
    if (flags & UART_PERIPHERAL) platform::sfrWrite(mode, U1MODE_ON.mask);
}

PLIB_INLINE BOOL UARTTransmitterIsReady(UART_MODULE id) {
    return (platform::sfrRead(uartReg[id].sta.reg) & U1STA_UTXBF.mask) ? FALSE : TRUE;
}
PLIB_INLINE BOOL UARTTransmissionHasCompleted(UART_MODULE id) {
    return (platform::sfrRead(uartReg[id].sta.reg) & U1STA_TRMT.mask) ? TRUE : FALSE;
}
PLIB_INLINE void UARTSendDataByte(UART_MODULE id, BYTE data) { platform::sfrWrite(uartReg[id].tx.reg, data); }
PLIB_INLINE BYTE UARTGetDataByte(UART_MODULE id) { return BYTE(platform::sfrRead(uartReg[id].rx.reg)); }

// ---------------------------------------------------------------- I2C

typedef enum { I2C1 = 0, I2C2 = 1, I2C_NUMBER_OF_MODULES = 2 } I2C_MODULE;
typedef enum { I2C_SUCCESS = 0, I2C_ERROR = 1, I2C_MASTER_BUS_COLLISION = 2, I2C_RECEIVE_OVERFLOW = 3 } I2C_RESULT;
typedef enum { I2C_WRITE = 0, I2C_READ = 1 } I2C_RW;

typedef uint32_t I2C_STATUS;
// The status flags are I2CxSTAT's bits (I2C2's have I2C1's layout).
enum : uint32_t {
    I2C_TRANSMITTER_FULL = I2C1STAT_TBF.mask,
    I2C_DATA_AVAILABLE = I2C1STAT_RBF.mask,
    I2C_START = I2C1STAT_S.mask,
    I2C_STOP = I2C1STAT_P.mask,
    I2C_RECEIVER_OVERFLOW = I2C1STAT_I2COV.mask,
    I2C_TRANSMITTER_OVERFLOW = I2C1STAT_IWCOL.mask,
    I2C_ARBITRATION_LOSS = I2C1STAT_BCL.mask,
    I2C_TRANSMITTER_BUSY = I2C1STAT_TRSTAT.mask,
    I2C_BYTE_ACKNOWLEDGED = I2C1STAT_ACKSTAT.mask,
};

typedef union {
    struct {
        uint8_t rw : 1;
        uint8_t address : 7;
    };
    uint8_t byte;
} I2C_7_BIT_ADDRESS;

namespace plib {
// A module's registers as offsets from its I2CxCON; I2C2's have I2C1's layout and fields.
constexpr uint32_t i2cBase(I2C_MODULE id) { return I2C1CON.address + (I2C2CON.address - I2C1CON.address) * id; }
constexpr uint32_t I2C_CON = 0, I2C_STAT = I2C1STAT.address - I2C1CON.address,
                   I2C_BRG = I2C1BRG.address - I2C1CON.address, I2C_TRN = I2C1TRN.address - I2C1CON.address,
                   I2C_RCV = I2C1RCV.address - I2C1CON.address;
constexpr uint32_t CLR = platform::kClrOffset, SET = platform::kSetOffset;
constexpr uint32_t SEN = I2C1CON_SEN.mask, RSEN = I2C1CON_RSEN.mask, PEN = I2C1CON_PEN.mask,
                   RCEN = I2C1CON_RCEN.mask, ACKEN = I2C1CON_ACKEN.mask, ACKDT = I2C1CON_ACKDT.mask,
                   I2CON = I2C1CON_ON.mask;
constexpr uint32_t TBF = I2C1STAT_TBF.mask, RBF = I2C1STAT_RBF.mask, S = I2C1STAT_S.mask,
                   I2COV = I2C1STAT_I2COV.mask, IWCOL = I2C1STAT_IWCOL.mask, BCL = I2C1STAT_BCL.mask,
                   TRSTAT = I2C1STAT_TRSTAT.mask, ACKSTAT = I2C1STAT_ACKSTAT.mask;
static_assert(I2C2STAT.address - I2C2CON.address == I2C_STAT && I2C2RCV.address - I2C2CON.address == I2C_RCV);
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
