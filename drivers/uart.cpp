#include "drivers/uart.h"

#include "drivers/profile.h"
#include "platform/isr.h"
#include "platform/plib.h"

namespace {

// Only a UART that is on with its transmitter enabled can drain; anything else would
// wait for ever, or reach registers outside the UART table.
[[gnu::always_inline]] inline bool local_uartReady(int uartX) {
    if (uartX < 0 || uartX >= UART_NUMBER_OF_MODULES) return false;
    const UART_MODULE id = UART_MODULE(uartX);
    return (platform::sfrRead(uartReg[id].mode.reg) & U1MODE_ON.mask) &&
           (platform::sfrRead(uartReg[id].sta.reg) & U1STA_UTXEN.mask);
}

[[gnu::always_inline]] inline void local_sendByte(UART_MODULE id, char c) {
    while (!UARTTransmitterIsReady(id)) {
    }
    UARTSendDataByte(id, BYTE(c));
    while (!UARTTransmissionHasCompleted(id)) {
    }
}

// putCharacter's steps, expanded in the handler too: a handler that calls nothing saves
// only the registers it uses.
[[gnu::always_inline]] inline void local_putCharacter(int uartX, char character) {
    if (!local_uartReady(uartX)) return;
    local_sendByte(UART_MODULE(uartX), character);
}

}  // namespace

extern "C" void initUART(void) {
    UARTConfigure(UART1, UART_ENABLE_PINS_TX_RX_ONLY);
    UARTSetFifoMode(UART1, UART_INTERRUPT_ON_TX_NOT_FULL | UART_INTERRUPT_ON_RX_NOT_EMPTY);
    UARTSetLineControl(UART1, UART_DATA_SIZE_8_BITS | UART_PARITY_NONE | UART_STOP_BITS_1);
    UARTSetDataRate(UART1, peripheralBusClock(), 57600);
    UARTEnable(UART1, UART_ENABLE | UART_PERIPHERAL | UART_RX | UART_TX);
    INTEnable(INT_U1RX, INT_ENABLED);
    INTSetVectorPriority(INT_UART_1_VECTOR, INT_PRIORITY_LEVEL_2);
    INTSetVectorSubPriority(INT_UART_1_VECTOR, INT_SUB_PRIORITY_LEVEL_0);
    if constexpr (kCardDemoProfile) writeString(UART1, "init UART\r\n");
}

extern "C" void writeString(const int uartX, const char* string) {
    if (!string || !local_uartReady(uartX)) return;
    while (*string) {
        local_sendByte(UART_MODULE(uartX), *string);
        ++string;
    }
}

extern "C" void putCharacter(const int uartX, const char character) { local_putCharacter(uartX, character); }

PLATFORM_ISR(UART_1, 2, intUart1Handler) {
    if (INTGetFlag(INT_U1RX)) {
        INTClearFlag(INT_U1RX);
        const char byte = char(UARTGetDataByte(UART1));
        // An overrun stops the receiver until OERR is cleared, and clearing it empties the
        // buffer: clear it once the buffered characters have all been taken, so that only
        // the characters that did not fit are lost.
        if (U1STAbits.OERR && !U1STAbits.URXDA) U1STACLR = U1STA_OERR;
        local_putCharacter(UART1, byte);  // putCharacter(UART1, byte)
    }
    if (INTGetFlag(INT_U1TX)) INTClearFlag(INT_U1TX);
}
