// The special function registers of the PIC32MX440F256H (and port D of the PIC32MX795F512L,
// at the same addresses), with the data sheet's names: the one place where an SFR address
// or the position of a named bit is written. Preprocessor only, so that C++ (the firmware's
// registers, the board's models) and assembly (the run-time) both expand it.
//
//   PIC32MX_REGISTERS(X) calls X(name, KSEG1 address, kind, fields) for each register.
//   kind:   SFR  - a normal register, with CLR, SET and INV companions at +0x4, +0x8, +0xC
//           DATA - a buffer register (transmit, receive, result), read and written directly
//   fields: a field list, called as fields(F, name); it calls F(name, field, lsb, width).
#pragma once

#define PIC32MX_NO_FIELDS(F, r)

// One bit per pin, named prefix0 .. prefix15.
#define PIC32MX_PINS(F, r, p)                                                                          \
    F(r, p##0, 0, 1) F(r, p##1, 1, 1) F(r, p##2, 2, 1) F(r, p##3, 3, 1) F(r, p##4, 4, 1) F(r, p##5, 5, 1) \
    F(r, p##6, 6, 1) F(r, p##7, 7, 1) F(r, p##8, 8, 1) F(r, p##9, 9, 1) F(r, p##10, 10, 1)               \
    F(r, p##11, 11, 1) F(r, p##12, 12, 1) F(r, p##13, 13, 1) F(r, p##14, 14, 1) F(r, p##15, 15, 1)
// TRISx, LATx, ODCx: the pin bits carry the register's name (TRISD13, LATD1).
#define PIC32MX_PIN_FIELDS(F, r) PIC32MX_PINS(F, r, r)
// PORTx: the pin bits are Rx0 .. Rx15.
#define PIC32MX_RA_FIELDS(F, r) PIC32MX_PINS(F, r, RA)
#define PIC32MX_RB_FIELDS(F, r) PIC32MX_PINS(F, r, RB)
#define PIC32MX_RC_FIELDS(F, r) PIC32MX_PINS(F, r, RC)
#define PIC32MX_RD_FIELDS(F, r) PIC32MX_PINS(F, r, RD)
#define PIC32MX_RE_FIELDS(F, r) PIC32MX_PINS(F, r, RE)
#define PIC32MX_RF_FIELDS(F, r) PIC32MX_PINS(F, r, RF)
#define PIC32MX_RG_FIELDS(F, r) PIC32MX_PINS(F, r, RG)
#define PIC32MX_PCFG_FIELDS(F, r) PIC32MX_PINS(F, r, PCFG)

// Type B timers (Timer2 .. Timer5); TCKPS selects 1, 2, 4, 8, 16, 32, 64, 256.
#define PIC32MX_TxCON_FIELDS(F, r) \
    F(r, TCS, 1, 1) F(r, T32, 3, 1) F(r, TCKPS, 4, 3) F(r, TGATE, 7, 1) F(r, SIDL, 13, 1) F(r, ON, 15, 1)

#define PIC32MX_I2CxCON_FIELDS(F, r)                                                                        \
    F(r, SEN, 0, 1) F(r, RSEN, 1, 1) F(r, PEN, 2, 1) F(r, RCEN, 3, 1) F(r, ACKEN, 4, 1) F(r, ACKDT, 5, 1)     \
    F(r, STREN, 6, 1) F(r, GCEN, 7, 1) F(r, SMEN, 8, 1) F(r, DISSLW, 9, 1) F(r, A10M, 10, 1)                \
    F(r, STRICT, 11, 1) F(r, SCLREL, 12, 1) F(r, SIDL, 13, 1) F(r, ON, 15, 1)
#define PIC32MX_I2CxSTAT_FIELDS(F, r)                                                                     \
    F(r, TBF, 0, 1) F(r, RBF, 1, 1) F(r, R_W, 2, 1) F(r, S, 3, 1) F(r, P, 4, 1) F(r, D_A, 5, 1)             \
    F(r, I2COV, 6, 1) F(r, IWCOL, 7, 1) F(r, ADD10, 8, 1) F(r, GCSTAT, 9, 1) F(r, BCL, 10, 1)             \
    F(r, TRSTAT, 14, 1) F(r, ACKSTAT, 15, 1)

#define PIC32MX_SPIxCON_FIELDS(F, r)                                                                      \
    F(r, MSTEN, 5, 1) F(r, CKP, 6, 1) F(r, SSEN, 7, 1) F(r, CKE, 8, 1) F(r, SMP, 9, 1) F(r, MODE16, 10, 1) \
    F(r, MODE32, 11, 1) F(r, DISSDO, 12, 1) F(r, SIDL, 13, 1) F(r, ON, 15, 1) F(r, FRMEN, 31, 1)
#define PIC32MX_SPIxSTAT_FIELDS(F, r) \
    F(r, SPIRBF, 0, 1) F(r, SPITBF, 1, 1) F(r, SPITBE, 3, 1) F(r, SPIROV, 6, 1) F(r, SPIBUSY, 11, 1)

#define PIC32MX_UxMODE_FIELDS(F, r)                                                                         \
    F(r, STSEL, 0, 1) F(r, PDSEL, 1, 2) F(r, BRGH, 3, 1) F(r, RXINV, 4, 1) F(r, ABAUD, 5, 1)                 \
    F(r, LPBACK, 6, 1) F(r, WAKE, 7, 1) F(r, UEN, 8, 2) F(r, RTSMD, 11, 1) F(r, IREN, 12, 1) F(r, SIDL, 13, 1) \
    F(r, ON, 15, 1)
#define PIC32MX_UxSTA_FIELDS(F, r)                                                                         \
    F(r, URXDA, 0, 1) F(r, OERR, 1, 1) F(r, FERR, 2, 1) F(r, PERR, 3, 1) F(r, RIDLE, 4, 1) F(r, ADDEN, 5, 1) \
    F(r, URXISEL, 6, 2) F(r, TRMT, 8, 1) F(r, UTXBF, 9, 1) F(r, UTXEN, 10, 1) F(r, UTXBRK, 11, 1)          \
    F(r, URXEN, 12, 1) F(r, UTXINV, 13, 1) F(r, UTXISEL, 14, 2)

#define PIC32MX_AD1CON1_FIELDS(F, r)                                                                    \
    F(r, DONE, 0, 1) F(r, SAMP, 1, 1) F(r, ASAM, 2, 1) F(r, CLRASAM, 4, 1) F(r, SSRC, 5, 3) F(r, FORM, 8, 3) \
    F(r, SIDL, 13, 1) F(r, ON, 15, 1)
#define PIC32MX_AD1CON2_FIELDS(F, r)                                                                    \
    F(r, ALTS, 0, 1) F(r, BUFM, 1, 1) F(r, SMPI, 2, 4) F(r, BUFS, 7, 1) F(r, CSCNA, 10, 1) F(r, OFFCAL, 12, 1) \
    F(r, VCFG, 13, 3)
#define PIC32MX_AD1CON3_FIELDS(F, r) F(r, ADCS, 0, 8) F(r, SAMC, 8, 5) F(r, ADRC, 15, 1)
#define PIC32MX_AD1CHS_FIELDS(F, r) F(r, CH0SA, 16, 4) F(r, CH0NA, 23, 1) F(r, CH0SB, 24, 4) F(r, CH0NB, 31, 1)

#define PIC32MX_OSCCON_FIELDS(F, r)                                                                       \
    F(r, OSWEN, 0, 1) F(r, SOSCEN, 1, 1) F(r, CF, 3, 1) F(r, NOSC, 8, 3) F(r, COSC, 12, 3) F(r, PLLMULT, 16, 3) \
    F(r, PBDIV, 19, 2) F(r, PLLODIV, 27, 3)
#define PIC32MX_DDPCON_FIELDS(F, r) F(r, TROEN, 2, 1) F(r, JTAGEN, 3, 1)
#define PIC32MX_RSWRST_FIELDS(F, r) F(r, SWRST, 0, 1)
#define PIC32MX_INTCON_FIELDS(F, r) F(r, INTEP, 0, 5) F(r, TPC, 8, 3) F(r, MVEC, 12, 1) F(r, SS0, 16, 1)
#define PIC32MX_INTSTAT_FIELDS(F, r) F(r, VEC, 0, 6) F(r, SRIPL, 8, 3)
#define PIC32MX_BMXCON_FIELDS(F, r) F(r, BMXWSDRM, 6, 1)
#define PIC32MX_DMACON_FIELDS(F, r) F(r, DMABUSY, 11, 1) F(r, SUSPEND, 12, 1) F(r, ON, 15, 1)
#define PIC32MX_CHECON_FIELDS(F, r) F(r, PFMWS, 0, 3) F(r, PREFEN, 4, 2) F(r, DCSZ, 8, 2) F(r, CHECOH, 16, 1)

// The whole 1 MiB SFR window, for checks of addresses that no register claims.
#define PIC32MX_SFR_WINDOW 0xBF800000
#define PIC32MX_SFR_WINDOW_BYTES 0x00100000

#define PIC32MX_REGISTERS(X)                                   \
    /* Watchdog, timers */                                     \
    X(WDTCON, 0xBF800000, SFR, PIC32MX_NO_FIELDS)              \
    X(T1CON, 0xBF800600, SFR, PIC32MX_NO_FIELDS)               \
    X(TMR1, 0xBF800610, SFR, PIC32MX_NO_FIELDS)                \
    X(PR1, 0xBF800620, SFR, PIC32MX_NO_FIELDS)                 \
    X(T2CON, 0xBF800800, SFR, PIC32MX_TxCON_FIELDS)            \
    X(TMR2, 0xBF800810, SFR, PIC32MX_NO_FIELDS)                \
    X(PR2, 0xBF800820, SFR, PIC32MX_NO_FIELDS)                 \
    /* I2C1 and I2C2 */                                        \
    X(I2C1CON, 0xBF805000, SFR, PIC32MX_I2CxCON_FIELDS)        \
    X(I2C1STAT, 0xBF805010, SFR, PIC32MX_I2CxSTAT_FIELDS)      \
    X(I2C1ADD, 0xBF805020, SFR, PIC32MX_NO_FIELDS)             \
    X(I2C1MSK, 0xBF805030, SFR, PIC32MX_NO_FIELDS)             \
    X(I2C1BRG, 0xBF805040, SFR, PIC32MX_NO_FIELDS)             \
    X(I2C1TRN, 0xBF805050, DATA, PIC32MX_NO_FIELDS)            \
    X(I2C1RCV, 0xBF805060, DATA, PIC32MX_NO_FIELDS)            \
    X(I2C2CON, 0xBF805200, SFR, PIC32MX_I2CxCON_FIELDS)        \
    X(I2C2STAT, 0xBF805210, SFR, PIC32MX_I2CxSTAT_FIELDS)      \
    X(I2C2ADD, 0xBF805220, SFR, PIC32MX_NO_FIELDS)             \
    X(I2C2MSK, 0xBF805230, SFR, PIC32MX_NO_FIELDS)             \
    X(I2C2BRG, 0xBF805240, SFR, PIC32MX_NO_FIELDS)             \
    X(I2C2TRN, 0xBF805250, DATA, PIC32MX_NO_FIELDS)            \
    X(I2C2RCV, 0xBF805260, DATA, PIC32MX_NO_FIELDS)            \
    /* SPI2, the only SPI of the 64-pin part */                \
    X(SPI2CON, 0xBF805A00, SFR, PIC32MX_SPIxCON_FIELDS)        \
    X(SPI2STAT, 0xBF805A10, SFR, PIC32MX_SPIxSTAT_FIELDS)      \
    X(SPI2BUF, 0xBF805A20, DATA, PIC32MX_NO_FIELDS)            \
    X(SPI2BRG, 0xBF805A30, SFR, PIC32MX_NO_FIELDS)             \
    /* UART1 and UART2 */                                      \
    X(U1MODE, 0xBF806000, SFR, PIC32MX_UxMODE_FIELDS)          \
    X(U1STA, 0xBF806010, SFR, PIC32MX_UxSTA_FIELDS)            \
    X(U1TXREG, 0xBF806020, DATA, PIC32MX_NO_FIELDS)            \
    X(U1RXREG, 0xBF806030, DATA, PIC32MX_NO_FIELDS)            \
    X(U1BRG, 0xBF806040, SFR, PIC32MX_NO_FIELDS)               \
    X(U2MODE, 0xBF806200, SFR, PIC32MX_UxMODE_FIELDS)          \
    X(U2STA, 0xBF806210, SFR, PIC32MX_UxSTA_FIELDS)            \
    X(U2TXREG, 0xBF806220, DATA, PIC32MX_NO_FIELDS)            \
    X(U2RXREG, 0xBF806230, DATA, PIC32MX_NO_FIELDS)            \
    X(U2BRG, 0xBF806240, SFR, PIC32MX_NO_FIELDS)               \
    /* ADC1 */                                                 \
    X(AD1CON1, 0xBF809000, SFR, PIC32MX_AD1CON1_FIELDS)        \
    X(AD1CON2, 0xBF809010, SFR, PIC32MX_AD1CON2_FIELDS)        \
    X(AD1CON3, 0xBF809020, SFR, PIC32MX_AD1CON3_FIELDS)        \
    X(AD1CHS, 0xBF809040, SFR, PIC32MX_AD1CHS_FIELDS)          \
    X(AD1CSSL, 0xBF809050, SFR, PIC32MX_NO_FIELDS)             \
    X(AD1PCFG, 0xBF809060, SFR, PIC32MX_PCFG_FIELDS)           \
    X(ADC1BUF0, 0xBF809070, DATA, PIC32MX_NO_FIELDS)           \
    X(ADC1BUF1, 0xBF809080, DATA, PIC32MX_NO_FIELDS)           \
    X(ADC1BUF2, 0xBF809090, DATA, PIC32MX_NO_FIELDS)           \
    X(ADC1BUF3, 0xBF8090A0, DATA, PIC32MX_NO_FIELDS)           \
    X(ADC1BUF4, 0xBF8090B0, DATA, PIC32MX_NO_FIELDS)           \
    X(ADC1BUF5, 0xBF8090C0, DATA, PIC32MX_NO_FIELDS)           \
    X(ADC1BUF6, 0xBF8090D0, DATA, PIC32MX_NO_FIELDS)           \
    X(ADC1BUF7, 0xBF8090E0, DATA, PIC32MX_NO_FIELDS)           \
    X(ADC1BUF8, 0xBF8090F0, DATA, PIC32MX_NO_FIELDS)           \
    X(ADC1BUF9, 0xBF809100, DATA, PIC32MX_NO_FIELDS)           \
    X(ADC1BUFA, 0xBF809110, DATA, PIC32MX_NO_FIELDS)           \
    X(ADC1BUFB, 0xBF809120, DATA, PIC32MX_NO_FIELDS)           \
    X(ADC1BUFC, 0xBF809130, DATA, PIC32MX_NO_FIELDS)           \
    X(ADC1BUFD, 0xBF809140, DATA, PIC32MX_NO_FIELDS)           \
    X(ADC1BUFE, 0xBF809150, DATA, PIC32MX_NO_FIELDS)           \
    X(ADC1BUFF, 0xBF809160, DATA, PIC32MX_NO_FIELDS)           \
    /* Oscillator, system, reset */                            \
    X(OSCCON, 0xBF80F000, SFR, PIC32MX_OSCCON_FIELDS)          \
    X(OSCTUN, 0xBF80F010, SFR, PIC32MX_NO_FIELDS)              \
    X(DDPCON, 0xBF80F200, SFR, PIC32MX_DDPCON_FIELDS)          \
    X(DEVID, 0xBF80F220, SFR, PIC32MX_NO_FIELDS)               \
    X(SYSKEY, 0xBF80F230, DATA, PIC32MX_NO_FIELDS)             \
    X(RCON, 0xBF80F600, SFR, PIC32MX_NO_FIELDS)                \
    X(RSWRST, 0xBF80F610, SFR, PIC32MX_RSWRST_FIELDS)          \
    /* Interrupt controller; IPC10 is absent on this family */ \
    X(INTCON, 0xBF881000, SFR, PIC32MX_INTCON_FIELDS)          \
    X(INTSTAT, 0xBF881010, SFR, PIC32MX_INTSTAT_FIELDS)        \
    X(IPTMR, 0xBF881020, SFR, PIC32MX_NO_FIELDS)               \
    X(IFS0, 0xBF881030, SFR, PIC32MX_NO_FIELDS)                \
    X(IFS1, 0xBF881040, SFR, PIC32MX_NO_FIELDS)                \
    X(IEC0, 0xBF881060, SFR, PIC32MX_NO_FIELDS)                \
    X(IEC1, 0xBF881070, SFR, PIC32MX_NO_FIELDS)                \
    X(IPC0, 0xBF881090, SFR, PIC32MX_NO_FIELDS)                \
    X(IPC1, 0xBF8810A0, SFR, PIC32MX_NO_FIELDS)                \
    X(IPC2, 0xBF8810B0, SFR, PIC32MX_NO_FIELDS)                \
    X(IPC3, 0xBF8810C0, SFR, PIC32MX_NO_FIELDS)                \
    X(IPC4, 0xBF8810D0, SFR, PIC32MX_NO_FIELDS)                \
    X(IPC5, 0xBF8810E0, SFR, PIC32MX_NO_FIELDS)                \
    X(IPC6, 0xBF8810F0, SFR, PIC32MX_NO_FIELDS)                \
    X(IPC7, 0xBF881100, SFR, PIC32MX_NO_FIELDS)                \
    X(IPC8, 0xBF881110, SFR, PIC32MX_NO_FIELDS)                \
    X(IPC9, 0xBF881120, SFR, PIC32MX_NO_FIELDS)                \
    X(IPC11, 0xBF881140, SFR, PIC32MX_NO_FIELDS)               \
    /* Bus matrix, DMA, prefetch cache */                      \
    X(BMXCON, 0xBF882000, SFR, PIC32MX_BMXCON_FIELDS)          \
    X(DMACON, 0xBF883000, SFR, PIC32MX_DMACON_FIELDS)          \
    X(DMASTAT, 0xBF883010, SFR, PIC32MX_NO_FIELDS)             \
    X(DMAADDR, 0xBF883020, SFR, PIC32MX_NO_FIELDS)             \
    X(CHECON, 0xBF884000, SFR, PIC32MX_CHECON_FIELDS)          \
    /* Ports A to G */                                         \
    X(TRISA, 0xBF886000, SFR, PIC32MX_PIN_FIELDS)              \
    X(PORTA, 0xBF886010, SFR, PIC32MX_RA_FIELDS)               \
    X(LATA, 0xBF886020, SFR, PIC32MX_PIN_FIELDS)               \
    X(ODCA, 0xBF886030, SFR, PIC32MX_PIN_FIELDS)               \
    X(TRISB, 0xBF886040, SFR, PIC32MX_PIN_FIELDS)              \
    X(PORTB, 0xBF886050, SFR, PIC32MX_RB_FIELDS)               \
    X(LATB, 0xBF886060, SFR, PIC32MX_PIN_FIELDS)               \
    X(ODCB, 0xBF886070, SFR, PIC32MX_PIN_FIELDS)               \
    X(TRISC, 0xBF886080, SFR, PIC32MX_PIN_FIELDS)              \
    X(PORTC, 0xBF886090, SFR, PIC32MX_RC_FIELDS)               \
    X(LATC, 0xBF8860A0, SFR, PIC32MX_PIN_FIELDS)               \
    X(ODCC, 0xBF8860B0, SFR, PIC32MX_PIN_FIELDS)               \
    X(TRISD, 0xBF8860C0, SFR, PIC32MX_PIN_FIELDS)              \
    X(PORTD, 0xBF8860D0, SFR, PIC32MX_RD_FIELDS)               \
    X(LATD, 0xBF8860E0, SFR, PIC32MX_PIN_FIELDS)               \
    X(ODCD, 0xBF8860F0, SFR, PIC32MX_PIN_FIELDS)               \
    X(TRISE, 0xBF886100, SFR, PIC32MX_PIN_FIELDS)              \
    X(PORTE, 0xBF886110, SFR, PIC32MX_RE_FIELDS)               \
    X(LATE, 0xBF886120, SFR, PIC32MX_PIN_FIELDS)               \
    X(ODCE, 0xBF886130, SFR, PIC32MX_PIN_FIELDS)               \
    X(TRISF, 0xBF886140, SFR, PIC32MX_PIN_FIELDS)              \
    X(PORTF, 0xBF886150, SFR, PIC32MX_RF_FIELDS)               \
    X(LATF, 0xBF886160, SFR, PIC32MX_PIN_FIELDS)               \
    X(ODCF, 0xBF886170, SFR, PIC32MX_PIN_FIELDS)               \
    X(TRISG, 0xBF886180, SFR, PIC32MX_PIN_FIELDS)              \
    X(PORTG, 0xBF886190, SFR, PIC32MX_RG_FIELDS)               \
    X(LATG, 0xBF8861A0, SFR, PIC32MX_PIN_FIELDS)               \
    X(ODCG, 0xBF8861B0, SFR, PIC32MX_PIN_FIELDS)
