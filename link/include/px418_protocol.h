/*
 * px418_protocol.h - the PX-418's command vocabulary on the wire.
 *
 * Command codes, device error codes, the parameter groups and numbers, the
 * flag bits of a written parameter number, the ranges the device accepts,
 * and the little-endian byte helpers of the request and answer data. Every
 * part of PX418 takes these from here; px418usb.h includes this header, so
 * a program that calls the library has them too.
 *
 * A device parameter is a triple: group, number and a signed 32-bit value.
 * Group and number travel as one byte each, the value as four bytes, lowest
 * first. Reads use the plain number; writes may add the flag bits.
 *
 * Plain C99, header only.
 */
#ifndef PX418_PROTOCOL_H
#define PX418_PROTOCOL_H

#include <stdint.h>

/* Command codes of request and answer frames. */
#define PX418_CMD_NOP 0
#define PX418_CMD_ERROR 1 /* error report; also the code of local I/O failures */
#define PX418_CMD_ECHO 2
#define PX418_CMD_INFO 3
#define PX418_CMD_SET_ADDRESS 4
#define PX418_CMD_GET_ADDRESS 5
#define PX418_CMD_SET_MODE 6
#define PX418_CMD_GET_MODE 7
#define PX418_CMD_SET_PAR 8
#define PX418_CMD_GET_PAR 9
#define PX418_CMD_GET_SEL_PAR 10
#define PX418_CMD_SYSTEM 11 /* 11 and above: no command of the device */

/* Device error codes: byte 0 of an answer's data (not for echo and info). */
#define PX418_ERR_NONE 0
#define PX418_ERR_INVALID_PACKET 1
#define PX418_ERR_BUSY 2
#define PX418_ERR_NOT_READY 3
#define PX418_ERR_INVALID_PARAMETERS 4
#define PX418_ERR_NOT_RESPONDING 5
#define PX418_ERR_UNKNOWN 6 /* 6 and above */

/* The mode byte: bit 0 locks the front panel. */
#define PX418_MODE_UNLOCKED 0
#define PX418_MODE_LOCKED 1

/* Groups 0, 1, 2: outputs A, B, C. */
#define PX418_GROUP_OUT_A 0
#define PX418_GROUP_OUT_B 1
#define PX418_GROUP_OUT_C 2
#define PX418_OUTPUTS 3
/* Their numbers, the quantities of an output. */
#define PX418_OUT_MODE 0      /* coupling: 0 "A.B.C", 1 "A+B+C" */
#define PX418_OUT_FREQUENCY 1 /* millihertz */
#define PX418_OUT_PHASE 2     /* tenths of a degree */
#define PX418_OUT_AMPLITUDE 3 /* hundredths of a volt, peak */
#define PX418_QUANTITIES 4

/* Group 3: calibration. */
#define PX418_GROUP_CALIBRATION 3
#define PX418_CAL_FREQUENCY 0   /* tenths of a PPM */
#define PX418_CAL_AMPLITUDE_A 1 /* hundredths of a percent; B and C follow */
#define PX418_CAL_ROWS 4
#define PX418_CAL_STORE 4 /* value 0: makes the calibration permanent */

/* Group 4: presets, contrast and the settings confirmation. */
#define PX418_GROUP_SYSTEM 4
#define PX418_SYS_PRESET_STORE 0 /* value: preset slot */
#define PX418_SYS_PRESET_LOAD 1  /* value: preset slot */
#define PX418_SYS_CONTRAST 2
#define PX418_SYS_CONFIRM 3 /* value 0: the settings dialog was confirmed */

/* Flag bits of a written number. */
#define PX418_FLAG_TAKE_EFFECT 0x80 /* every value written so far takes effect */
#define PX418_FLAG_BEEP 0x40        /* the device beeps */
#define PX418_NUMBER_MASK 0x3F      /* the number without its flags */

/* What the device accepts. */
#define PX418_MODE_MIN 0
#define PX418_MODE_MAX 1
#define PX418_FREQUENCY_MIN 0
#define PX418_FREQUENCY_MAX 3000000
#define PX418_PHASE_MIN (-3600)
#define PX418_PHASE_MAX 3600
#define PX418_AMPLITUDE_MIN 0
#define PX418_AMPLITUDE_MAX 1000
#define PX418_CALIBRATION_MIN (-999)
#define PX418_CALIBRATION_MAX 999
#define PX418_CONTRAST_MIN 0
#define PX418_CONTRAST_MAX 127
#define PX418_PRESET_SLOTS 10

/* Data lengths of the requests that carry data. */
#define PX418_SET_MODE_LENGTH 1
#define PX418_SET_PAR_LENGTH 6
#define PX418_GET_PAR_LENGTH 2

/* The first characters of a generator's info answer. */
#define PX418_IDENTITY "PX-418"
#define PX418_IDENTITY_LENGTH 6

/* Writes a 32-bit value as four bytes, lowest first. */
static inline void px418_put_le32(uint8_t *at, int32_t value)
{
    const uint32_t bits = (uint32_t)value;
    at[0] = (uint8_t)bits;
    at[1] = (uint8_t)(bits >> 8);
    at[2] = (uint8_t)(bits >> 16);
    at[3] = (uint8_t)(bits >> 24);
}

/* Reads four bytes, lowest first, as a signed 32-bit value. */
static inline int32_t px418_get_le32(const uint8_t *at)
{
    const uint32_t bits =
        (uint32_t)at[0] | (uint32_t)at[1] << 8 | (uint32_t)at[2] << 16 | (uint32_t)at[3] << 24;
    return (int32_t)bits;
}

#endif /* PX418_PROTOCOL_H */
