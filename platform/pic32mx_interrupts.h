// The interrupt sources and vectors of the PIC32MX3xx/4xx: the one place where a request
// bit, a hardware vector or a peripheral-library interrupt number is written.
// Preprocessor only, like the register table.
//
// A vector v is served from IPC(v / 4): priority in bits 8*(v%4)+4 .. 8*(v%4)+2, sub-priority
// in bits 8*(v%4)+1 .. 8*(v%4). The library numbers a vector v + 1 (INT_<name>_VECTOR).
#pragma once

// Hardware vector numbers; a handler binds to one by name (PLATFORM_ISR(UART_1, ...)).
#define PIC32_VECTOR_CORE_TIMER 0
#define PIC32_VECTOR_CORE_SOFTWARE_0 1
#define PIC32_VECTOR_CORE_SOFTWARE_1 2
#define PIC32_VECTOR_EXTERNAL_0 3
#define PIC32_VECTOR_TIMER_1 4
#define PIC32_VECTOR_INPUT_CAPTURE_1 5
#define PIC32_VECTOR_OUTPUT_COMPARE_1 6
#define PIC32_VECTOR_EXTERNAL_1 7
#define PIC32_VECTOR_TIMER_2 8
#define PIC32_VECTOR_INPUT_CAPTURE_2 9
#define PIC32_VECTOR_OUTPUT_COMPARE_2 10
#define PIC32_VECTOR_EXTERNAL_2 11
#define PIC32_VECTOR_TIMER_3 12
#define PIC32_VECTOR_INPUT_CAPTURE_3 13
#define PIC32_VECTOR_OUTPUT_COMPARE_3 14
#define PIC32_VECTOR_EXTERNAL_3 15
#define PIC32_VECTOR_TIMER_4 16
#define PIC32_VECTOR_INPUT_CAPTURE_4 17
#define PIC32_VECTOR_OUTPUT_COMPARE_4 18
#define PIC32_VECTOR_EXTERNAL_4 19
#define PIC32_VECTOR_TIMER_5 20
#define PIC32_VECTOR_INPUT_CAPTURE_5 21
#define PIC32_VECTOR_OUTPUT_COMPARE_5 22
#define PIC32_VECTOR_SPI_1 23
#define PIC32_VECTOR_UART_1 24
#define PIC32_VECTOR_I2C_1 25
#define PIC32_VECTOR_CHANGE_NOTICE 26
#define PIC32_VECTOR_ADC 27
#define PIC32_VECTOR_PMP 28
#define PIC32_VECTOR_COMPARATOR_1 29
#define PIC32_VECTOR_COMPARATOR_2 30
#define PIC32_VECTOR_SPI_2 31
#define PIC32_VECTOR_UART_2 32
#define PIC32_VECTOR_I2C_2 33
#define PIC32_VECTOR_FAIL_SAFE_MONITOR 34
#define PIC32_VECTOR_RTCC 35
#define PIC32_VECTOR_DMA_0 36
#define PIC32_VECTOR_DMA_1 37
#define PIC32_VECTOR_DMA_2 38
#define PIC32_VECTOR_DMA_3 39
#define PIC32_VECTOR_FCE 44
#define PIC32_VECTOR_USB 45

#define PIC32MX_VECTORS(V)                                                                                  \
    V(CORE_TIMER) V(CORE_SOFTWARE_0) V(CORE_SOFTWARE_1) V(EXTERNAL_0) V(TIMER_1) V(INPUT_CAPTURE_1)          \
    V(OUTPUT_COMPARE_1) V(EXTERNAL_1) V(TIMER_2) V(INPUT_CAPTURE_2) V(OUTPUT_COMPARE_2) V(EXTERNAL_2)        \
    V(TIMER_3) V(INPUT_CAPTURE_3) V(OUTPUT_COMPARE_3) V(EXTERNAL_3) V(TIMER_4) V(INPUT_CAPTURE_4)            \
    V(OUTPUT_COMPARE_4) V(EXTERNAL_4) V(TIMER_5) V(INPUT_CAPTURE_5) V(OUTPUT_COMPARE_5) V(SPI_1) V(UART_1)   \
    V(I2C_1) V(CHANGE_NOTICE) V(ADC) V(PMP) V(COMPARATOR_1) V(COMPARATOR_2) V(SPI_2) V(UART_2) V(I2C_2)      \
    V(FAIL_SAFE_MONITOR) V(RTCC) V(DMA_0) V(DMA_1) V(DMA_2) V(DMA_3) V(FCE) V(USB)

// X(name, request bit, vector [, library name, library number]): request bit n is IFSx/IECx
// bit n % 32 with x = n / 32. The library's numbers are its own (they index its table),
// given only for the sources it knows.
#define PIC32MX_INTERRUPT_SOURCES(X)            \
    X(CoreTimer, 0, CORE_TIMER, CT, 0)          \
    X(CS0, 1, CORE_SOFTWARE_0)                  \
    X(CS1, 2, CORE_SOFTWARE_1)                  \
    X(INT0, 3, EXTERNAL_0)                      \
    X(T1, 4, TIMER_1, T1, 8)                    \
    X(IC1, 5, INPUT_CAPTURE_1)                  \
    X(OC1, 6, OUTPUT_COMPARE_1)                 \
    X(INT1, 7, EXTERNAL_1)                      \
    X(T2, 8, TIMER_2, T2, 9)                    \
    X(IC2, 9, INPUT_CAPTURE_2)                  \
    X(OC2, 10, OUTPUT_COMPARE_2)                \
    X(INT2, 11, EXTERNAL_2)                     \
    X(T3, 12, TIMER_3, T3, 10)                  \
    X(IC3, 13, INPUT_CAPTURE_3)                 \
    X(OC3, 14, OUTPUT_COMPARE_3)                \
    X(INT3, 15, EXTERNAL_3)                     \
    X(T4, 16, TIMER_4, T4, 11)                  \
    X(IC4, 17, INPUT_CAPTURE_4)                 \
    X(OC4, 18, OUTPUT_COMPARE_4)                \
    X(INT4, 19, EXTERNAL_4)                     \
    X(T5, 20, TIMER_5, T5, 12)                  \
    X(IC5, 21, INPUT_CAPTURE_5)                 \
    X(OC5, 22, OUTPUT_COMPARE_5)                \
    X(SPI1E, 23, SPI_1)                         \
    X(SPI1TX, 24, SPI_1)                        \
    X(SPI1RX, 25, SPI_1)                        \
    X(U1E, 26, UART_1, U1E, 33)                 \
    X(U1RX, 27, UART_1, U1RX, 34)               \
    X(U1TX, 28, UART_1, U1TX, 36)               \
    X(I2C1B, 29, I2C_1, I2C1B, 23)              \
    X(I2C1S, 30, I2C_1, I2C1S, 24)              \
    X(I2C1M, 31, I2C_1, I2C1M, 25)              \
    X(CN, 32, CHANGE_NOTICE, CN, 32)            \
    X(AD1, 33, ADC, AD1, 31)                    \
    X(PMP, 34, PMP)                             \
    X(CMP1, 35, COMPARATOR_1)                   \
    X(CMP2, 36, COMPARATOR_2)                   \
    X(SPI2E, 37, SPI_2, SPI2E, 28)              \
    X(SPI2TX, 38, SPI_2, SPI2TX, 29)            \
    X(SPI2RX, 39, SPI_2, SPI2RX, 30)            \
    X(U2E, 40, UART_2, U2E, 37)                 \
    X(U2RX, 41, UART_2, U2RX, 38)               \
    X(U2TX, 42, UART_2, U2TX, 40)               \
    X(I2C2B, 43, I2C_2)                         \
    X(I2C2S, 44, I2C_2)                         \
    X(I2C2M, 45, I2C_2)                         \
    X(FSCM, 46, FAIL_SAFE_MONITOR)              \
    X(RTCC, 47, RTCC)                           \
    X(DMA0, 48, DMA_0)                          \
    X(DMA1, 49, DMA_1)                          \
    X(DMA2, 50, DMA_2)                          \
    X(DMA3, 51, DMA_3)                          \
    X(FCE, 56, FCE)                             \
    X(USB, 57, USB)

// Library numbers with no single request bit behind them: UART1 as a whole, and the size
// of the library's table.
#define PIC32MX_LIBRARY_UART_1_SOURCE 35
#define PIC32MX_LIBRARY_SOURCE_COUNT 41
// The library numbers a vector one above the hardware.
#define PIC32MX_LIBRARY_VECTOR(hardwareVector) ((hardwareVector) + 1)
