// An independent reading of the Wake frame rules, for tests: it encodes
// requests and scripted answers and decodes what went over the wire without
// any of the product's framing code, so that a fault in that code cannot
// hide behind itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace oracle {

using Bytes = std::vector<std::uint8_t>;

// CRC-8 (Dallas/Maxim bit update, reflected polynomial 0x8C) over values,
// from `init`.
std::uint8_t Crc(const Bytes &values, std::uint8_t init = 0xDE);

// One whole frame, stuffing and CRC included; address 0 sends no address
// byte; bit 7 of the command is dropped.
Bytes Encode(std::uint8_t command, const Bytes &data, std::uint8_t address = 0);
// The same without an address, the form of every request and answer.
inline Bytes Frame(std::uint8_t command, const Bytes &data = {})
{
    return Encode(command, data);
}

// Values as the protocol carries them.
Bytes Le32(std::int32_t value);
std::int32_t FromLe32(const Bytes &bytes, std::size_t at);
inline Bytes Text(const std::string &s)
{
    return Bytes(s.begin(), s.end());
}

// Requests.
Bytes SetPar(std::uint8_t group, std::uint8_t number, std::int32_t value);
Bytes GetPar(std::uint8_t group, std::uint8_t number);

// A decoded frame.
struct Decoded {
    bool valid = false;  // whole frame, good escapes, right CRC
    std::uint8_t address = 0;
    std::uint8_t command = 0;
    Bytes data;
    // Byte 0 of the data, the device's error code; 0xFF when there is none.
    std::uint8_t error() const { return data.empty() ? 0xFF : data[0]; }
};

// Exactly the bytes of one frame, FEND through CRC, nothing more; a second
// FEND inside counts as damage (frames interleaved or cut).
Decoded Decode(const Bytes &wire);

// The frame that starts at `at` (which must be FEND) in a stream; `at` moves
// past it. Empty when the frame there is damaged or incomplete.
std::optional<Decoded> DecodeAt(const Bytes &wire, std::size_t &at);

// Exactly one good frame and nothing else.
std::optional<Decoded> DecodeOnly(const Bytes &wire);

}  // namespace oracle
