// The pure half of Wake framing: the CRC and the frame encoder.
#include "wake.h"

namespace {

// Appends one value to the frame under construction, stuffed.
void PutStuffed(std::uint8_t value, std::uint8_t *out, std::size_t &pos)
{
    if (value == wake::FEND) {
        out[pos++] = wake::FESC;
        out[pos++] = wake::TFEND;
    } else if (value == wake::FESC) {
        out[pos++] = wake::FESC;
        out[pos++] = wake::TFESC;
    } else {
        out[pos++] = value;
    }
}

}  // namespace

void WakeCrcUpdate(std::uint8_t value, std::uint8_t &crc)
{
    for (int bit = 0; bit < 8; ++bit) {
        if ((value ^ crc) & 0x01) {
            crc = static_cast<std::uint8_t>((crc >> 1) ^ 0x8C);
        } else {
            crc = static_cast<std::uint8_t>(crc >> 1);
        }
        value = static_cast<std::uint8_t>(value >> 1);
    }
}

std::size_t WakeEncodeFrame(std::uint8_t address, std::uint8_t command, std::uint8_t length,
                            const std::uint8_t *data, std::uint8_t *out)
{
    constexpr std::uint8_t kSevenBits = static_cast<std::uint8_t>(~wake::ADDRESS_MARK);
    std::size_t pos = 0;
    std::uint8_t crc = wake::CRC_INIT;

    WakeCrcUpdate(wake::FEND, crc);
    out[pos++] = wake::FEND;

    const std::uint8_t plainAddress = address & kSevenBits;
    if (plainAddress != 0) {
        WakeCrcUpdate(plainAddress, crc);
        PutStuffed(static_cast<std::uint8_t>(plainAddress | wake::ADDRESS_MARK), out, pos);
    }

    const std::uint8_t plainCommand = command & kSevenBits;
    WakeCrcUpdate(plainCommand, crc);
    PutStuffed(plainCommand, out, pos);

    WakeCrcUpdate(length, crc);
    PutStuffed(length, out, pos);

    for (std::size_t i = 0; i < length; ++i) {
        WakeCrcUpdate(data[i], crc);
        PutStuffed(data[i], out, pos);
    }

    PutStuffed(crc, out, pos);
    return pos;
}
