// Wake packet framing: CRC-8, frame encoder and frame receiver.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wake {
constexpr std::uint8_t FEND = 0xC0;
constexpr std::uint8_t FESC = 0xDB;
constexpr std::uint8_t TFEND = 0xDC;
constexpr std::uint8_t TFESC = 0xDD;
constexpr std::uint8_t CRC_INIT = 0xDE;
// FEND, stuffed address, command, stuffed length, 255 stuffed data bytes and
// a stuffed CRC need 517 bytes.
constexpr std::size_t MAX_FRAME = 520;
}  // namespace wake

// Folds one byte into the CRC register (Dallas/Maxim CRC-8 bit update).
void WakeCrcUpdate(std::uint8_t value, std::uint8_t &crc);

// Builds one frame (address 0 = no address byte; bit 7 of the command is
// dropped) and hands it to the port in one FtdioWrite. True exactly when the
// port wrote every byte.
bool WakeSendFrame(std::uint8_t address, std::uint8_t command, std::uint8_t length,
                   const std::uint8_t *data);

// Sets the per-byte read timeout, hunts for FEND (at most 512 reads), reads
// and destuffs one frame and checks its CRC. Data bytes go to data[0..N-1];
// no byte is ever stored at or beyond `capacity`. A frame whose length byte
// announces more than `capacity` data bytes is read through its CRC byte, so
// that nothing of it is left in the port's queue, and then rejected.
bool WakeReceiveFrame(std::int32_t timeoutMs, std::uint8_t &address, std::uint8_t &command,
                      std::uint8_t *data, std::uint8_t &length, std::size_t capacity);
