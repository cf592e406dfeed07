#include "wake_oracle.h"

namespace oracle {

namespace {

constexpr std::uint8_t kFend = 0xC0;
constexpr std::uint8_t kFesc = 0xDB;
constexpr std::uint8_t kTfend = 0xDC;
constexpr std::uint8_t kTfesc = 0xDD;

void Stuff(std::uint8_t value, Bytes &out)
{
    if (value == kFend) {
        out.push_back(kFesc);
        out.push_back(kTfend);
    } else if (value == kFesc) {
        out.push_back(kFesc);
        out.push_back(kTfesc);
    } else {
        out.push_back(value);
    }
}

}  // namespace

std::uint8_t Crc(const Bytes &values, std::uint8_t init)
{
    std::uint8_t crc = init;
    for (std::uint8_t b : values) {
        for (int i = 0; i < 8; ++i) {
            const bool mix = ((b ^ crc) & 1) != 0;
            crc = static_cast<std::uint8_t>(crc >> 1);
            if (mix) {
                crc ^= 0x8C;
            }
            b = static_cast<std::uint8_t>(b >> 1);
        }
    }
    return crc;
}

Bytes Encode(std::uint8_t command, const Bytes &data, std::uint8_t address)
{
    Bytes plain{kFend};
    if ((address & 0x7F) != 0) {
        plain.push_back(address & 0x7F);
    }
    plain.push_back(command & 0x7F);
    plain.push_back(static_cast<std::uint8_t>(data.size()));
    plain.insert(plain.end(), data.begin(), data.end());
    const std::uint8_t crc = Crc(plain);

    Bytes out{kFend};
    std::size_t i = 1;
    if ((address & 0x7F) != 0) {
        Stuff(static_cast<std::uint8_t>(plain[i++] | 0x80), out);
    }
    for (; i < plain.size(); ++i) {
        Stuff(plain[i], out);
    }
    Stuff(crc, out);
    return out;
}

Bytes Le32(std::int32_t value)
{
    const auto u = static_cast<std::uint32_t>(value);
    return {static_cast<std::uint8_t>(u), static_cast<std::uint8_t>(u >> 8),
            static_cast<std::uint8_t>(u >> 16), static_cast<std::uint8_t>(u >> 24)};
}

std::int32_t FromLe32(const Bytes &b, std::size_t at)
{
    return static_cast<std::int32_t>(std::uint32_t{b.at(at)} | std::uint32_t{b.at(at + 1)} << 8
                                     | std::uint32_t{b.at(at + 2)} << 16
                                     | std::uint32_t{b.at(at + 3)} << 24);
}

Bytes SetPar(std::uint8_t group, std::uint8_t number, std::int32_t value)
{
    Bytes data{group, number};
    const Bytes v = Le32(value);
    data.insert(data.end(), v.begin(), v.end());
    return Frame(8, data);
}

Bytes GetPar(std::uint8_t group, std::uint8_t number)
{
    return Frame(9, {group, number});
}

std::optional<Decoded> DecodeAt(const Bytes &wire, std::size_t &at)
{
    if (at >= wire.size() || wire[at] != kFend) {
        return std::nullopt;
    }
    ++at;
    Bytes values{kFend};
    auto next = [&](std::uint8_t &v) -> bool {
        if (at >= wire.size() || wire[at] == kFend) {
            return false;
        }
        std::uint8_t b = wire[at++];
        if (b == kFesc) {
            if (at >= wire.size()) {
                return false;
            }
            const std::uint8_t t = wire[at++];
            if (t == kTfend) {
                b = kFend;
            } else if (t == kTfesc) {
                b = kFesc;
            } else {
                return false;
            }
        }
        v = b;
        return true;
    };
    Decoded frame;
    std::uint8_t first = 0;
    if (!next(first)) {
        return std::nullopt;
    }
    if (first & 0x80) {
        frame.address = first & 0x7F;
        values.push_back(frame.address);
        if (!next(first) || (first & 0x80)) {
            return std::nullopt;
        }
    }
    frame.command = first;
    values.push_back(first);
    std::uint8_t length = 0;
    if (!next(length)) {
        return std::nullopt;
    }
    values.push_back(length);
    for (int i = 0; i < length; ++i) {
        std::uint8_t v = 0;
        if (!next(v)) {
            return std::nullopt;
        }
        values.push_back(v);
        frame.data.push_back(v);
    }
    std::uint8_t crc = 0;
    if (!next(crc) || crc != Crc(values)) {
        return std::nullopt;
    }
    frame.valid = true;
    return frame;
}

std::optional<Decoded> DecodeOnly(const Bytes &wire)
{
    std::size_t at = 0;
    auto frame = DecodeAt(wire, at);
    if (at != wire.size()) {
        return std::nullopt;
    }
    return frame;
}

Decoded Decode(const Bytes &wire)
{
    std::size_t at = 0;
    auto frame = DecodeAt(wire, at);
    if (!frame || at != wire.size()) {
        Decoded bad;
        if (frame) {
            bad = *frame;
            bad.valid = false;
        }
        return bad;
    }
    return *frame;
}

}  // namespace oracle
