/* Register names for the run-time's assembly. */
#pragma once

#define zero $0
#define AT $1
#define v0 $2
#define v1 $3
#define a0 $4
#define a1 $5
#define a2 $6
#define a3 $7
#define t0 $8
#define t1 $9
#define t2 $10
#define t3 $11
#define t4 $12
#define t5 $13
#define t6 $14
#define t7 $15
#define s0 $16
#define t8 $24
#define t9 $25
#define k0 $26
#define k1 $27
#define gp $28
#define sp $29
#define fp $30
#define ra $31

#define CP0_COUNT $9, 0
#define CP0_COMPARE $11, 0
#define CP0_STATUS $12, 0
#define CP0_INTCTL $12, 1
#define CP0_SRSCTL $12, 2
#define CP0_CAUSE $13, 0
#define CP0_EPC $14, 0
#define CP0_EBASE $15, 1
#define CP0_DEPC $24, 0
