// Test helpers for talking to the virtual generator: request builders and an
// answer decoder written independently of the generator's own decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "virtual/virtual_generator.h"

namespace vtest {

using Bytes = std::vector<std::uint8_t>;

inline std::uint8_t RefCrc(const Bytes &values)
{
    std::uint8_t crc = 0xDE;
    for (std::uint8_t b : values) {
        for (int i = 0; i < 8; ++i) {
            const bool mix = ((b ^ crc) & 1) != 0;
            crc = static_cast<std::uint8_t>(crc >> 1);
            if (mix)
                crc ^= 0x8C;
            b = static_cast<std::uint8_t>(b >> 1);
        }
    }
    return crc;
}

inline Bytes Le32(std::int32_t v)
{
    const auto u = static_cast<std::uint32_t>(v);
    return {static_cast<std::uint8_t>(u), static_cast<std::uint8_t>(u >> 8),
            static_cast<std::uint8_t>(u >> 16), static_cast<std::uint8_t>(u >> 24)};
}

inline std::int32_t FromLe32(const Bytes &b, std::size_t at)
{
    return static_cast<std::int32_t>(std::uint32_t{b.at(at)} | std::uint32_t{b.at(at + 1)} << 8
                                     | std::uint32_t{b.at(at + 2)} << 16
                                     | std::uint32_t{b.at(at + 3)} << 24);
}

inline Bytes Frame(std::uint8_t cmd, const Bytes &data = {})
{
    return px418virtual::EncodeFrame(cmd, data);
}
inline Bytes SetPar(std::uint8_t group, std::uint8_t number, std::int32_t value)
{
    Bytes data{group, number};
    const Bytes v = Le32(value);
    data.insert(data.end(), v.begin(), v.end());
    return Frame(8, data);
}
inline Bytes GetPar(std::uint8_t group, std::uint8_t number)
{
    return Frame(9, {group, number});
}

struct Answer {
    std::uint8_t command = 0;
    Bytes data;
    std::uint8_t error() const { return data.empty() ? 0xFF : data[0]; }
};

// Decodes the frame that starts at `at` (which must be FEND); checks the
// escapes and the CRC. `at` is moved past the frame.
inline std::optional<Answer> DecodeAt(const Bytes &wire, std::size_t &at)
{
    if (at >= wire.size() || wire[at] != 0xC0)
        return std::nullopt;
    ++at;
    Bytes values{0xC0};
    auto next = [&](std::uint8_t &v) -> bool {
        if (at >= wire.size())
            return false;
        std::uint8_t b = wire[at++];
        if (b == 0xDB) {
            if (at >= wire.size())
                return false;
            const std::uint8_t t = wire[at++];
            if (t == 0xDC)
                b = 0xC0;
            else if (t == 0xDD)
                b = 0xDB;
            else
                return false;
        }
        v = b;
        return true;
    };
    std::uint8_t cmd = 0;
    std::uint8_t len = 0;
    if (!next(cmd) || (cmd & 0x80) || !next(len))
        return std::nullopt;
    values.push_back(cmd);
    values.push_back(len);
    Answer a;
    a.command = cmd;
    for (int i = 0; i < len; ++i) {
        std::uint8_t v = 0;
        if (!next(v))
            return std::nullopt;
        values.push_back(v);
        a.data.push_back(v);
    }
    std::uint8_t crc = 0;
    if (!next(crc) || crc != RefCrc(values))
        return std::nullopt;
    return a;
}

// Exactly one well-formed frame and nothing else.
inline std::optional<Answer> DecodeOnly(const Bytes &wire)
{
    std::size_t at = 0;
    auto a = DecodeAt(wire, at);
    if (at != wire.size())
        return std::nullopt;
    return a;
}

inline Bytes Text(const std::string &s)
{
    return Bytes(s.begin(), s.end());
}

}  // namespace vtest
