// Wake packet framing. The codec part (CRC-8 and the frame encoder, in
// wake_codec.cpp) is pure: it touches no port, so the virtual generator
// builds its answers with it. Sending and receiving (wake.cpp) go through
// Ftdio.
//
// A frame on the wire: FEND, [address | ADDRESS_MARK], command, length N,
// N data bytes, CRC. Every byte after the leading FEND is stuffed
// (FEND -> FESC TFEND, FESC -> FESC TFESC). The CRC runs over the unstuffed
// values, FEND included and the address without its marker bit, starting
// from CRC_INIT; with no final XOR, folding a good frame's own CRC byte in
// leaves the register at 0.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace wake {
constexpr std::uint8_t FEND = 0xC0;
constexpr std::uint8_t FESC = 0xDB;
constexpr std::uint8_t TFEND = 0xDC;
constexpr std::uint8_t TFESC = 0xDD;
constexpr std::uint8_t ADDRESS_MARK = 0x80;  // set on an address byte, clear on a command
constexpr std::uint8_t CRC_INIT = 0xDE;
constexpr std::size_t MAX_DATA = 255;
// FEND, stuffed address, command, stuffed length, 255 stuffed data bytes and
// a stuffed CRC need 517 bytes.
constexpr std::size_t MAX_FRAME = 520;
// How many reads the receiver spends hunting for FEND before it gives up.
constexpr int MAX_HUNT_READS = 512;
}  // namespace wake

// Folds one byte into the CRC register (Dallas/Maxim CRC-8 bit update).
void WakeCrcUpdate(std::uint8_t value, std::uint8_t &crc);

// Builds one whole frame into `out` (room for wake::MAX_FRAME bytes) and
// returns its length. Address 0 sends no address byte; bit 7 of the address
// and of the command is dropped.
std::size_t WakeEncodeFrame(std::uint8_t address, std::uint8_t command, std::uint8_t length,
                            const std::uint8_t *data, std::uint8_t *out);

// Encodes one frame and hands it to the port in one FtdioWrite. True exactly
// when the port wrote every byte.
bool WakeSendFrame(std::uint8_t address, std::uint8_t command, std::uint8_t length,
                   const std::uint8_t *data);

// Sets the per-byte read timeout, hunts for FEND (at most wake::MAX_HUNT_READS
// reads), reads and destuffs one frame and checks its CRC. Data bytes go to
// data[0..N-1]; no byte is ever stored at or beyond `capacity`. A frame whose
// length byte announces more than `capacity` data bytes is read through its
// CRC byte, so that nothing of it is left in the port's queue, and then
// rejected. With a `deadline`, no read waits past it (the one that would
// gets a shorter timeout) and the receive fails once it has passed, however
// the bytes keep coming.
bool WakeReceiveFrame(
    std::int32_t timeoutMs, std::uint8_t &address, std::uint8_t &command, std::uint8_t *data,
    std::uint8_t &length, std::size_t capacity,
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max());
