// Wake packet framing: CRC-8, frame encoder and frame receiver.
//
// Frames travel as FEND, [address | 0x80], command, length N, N data bytes,
// CRC. Every byte after the leading FEND is stuffed (0xC0 -> DB DC,
// 0xDB -> DB DD). The CRC runs over the unstuffed values, FEND included and
// the address without its marker bit, starting from 0xDE; since there is no
// final XOR, folding a good frame's own CRC byte in leaves the register at 0.
#include "wake.h"

#include "ftdio.h"

namespace {

// Appends one value to the frame under construction, stuffed.
void PutStuffed(std::uint8_t value, std::uint8_t *buffer, std::size_t &pos)
{
    if (value == wake::FEND) {
        buffer[pos++] = wake::FESC;
        buffer[pos++] = wake::TFEND;
    } else if (value == wake::FESC) {
        buffer[pos++] = wake::FESC;
        buffer[pos++] = wake::TFESC;
    } else {
        buffer[pos++] = value;
    }
}

// How many FEND hunting reads are allowed before a receive gives up.
constexpr int kMaxHuntReads = 512;

// Positions of the receiver, in wire order; data byte i sits at kData + i
// and the CRC byte right after the last data byte.
constexpr int kAddress = 0;
constexpr int kCommand = 1;
constexpr int kLength = 2;
constexpr int kData = 3;

}  // namespace

void WakeCrcUpdate(std::uint8_t value, std::uint8_t &crc)
{
    for (int bit = 0; bit < 8; ++bit) {
        if ((value ^ crc) & 0x01)
            crc = static_cast<std::uint8_t>((crc >> 1) ^ 0x8C);
        else
            crc = static_cast<std::uint8_t>(crc >> 1);
        value = static_cast<std::uint8_t>(value >> 1);
    }
}

bool WakeSendFrame(std::uint8_t address, std::uint8_t command, std::uint8_t length,
                   const std::uint8_t *data)
{
    // The longest frame needs 517 bytes; the buffer is fixed so that sending
    // never allocates.
    std::uint8_t buffer[wake::MAX_FRAME];
    std::size_t pos = 0;
    std::uint8_t crc = wake::CRC_INIT;

    WakeCrcUpdate(wake::FEND, crc);
    buffer[pos++] = wake::FEND;

    if (address != 0) {
        const std::uint8_t plain = address & 0x7F;
        WakeCrcUpdate(plain, crc);
        PutStuffed(static_cast<std::uint8_t>(plain | 0x80), buffer, pos);
    }

    const std::uint8_t cmd = command & 0x7F;
    WakeCrcUpdate(cmd, crc);
    PutStuffed(cmd, buffer, pos);

    WakeCrcUpdate(length, crc);
    PutStuffed(length, buffer, pos);

    for (std::size_t i = 0; i < length; ++i) {
        WakeCrcUpdate(data[i], crc);
        PutStuffed(data[i], buffer, pos);
    }

    PutStuffed(crc, buffer, pos);

    return FtdioWrite(static_cast<std::int32_t>(pos), buffer);
}

bool WakeReceiveFrame(std::int32_t timeoutMs, std::uint8_t &address, std::uint8_t &command,
                      std::uint8_t *data, std::uint8_t &length, std::size_t capacity)
{
    if (!FtdioSetReadTimeout(timeoutMs))
        return false;

    // Hunt for the frame start. Anything before it is line noise or the tail
    // of an earlier frame; it is consumed and dropped.
    std::uint8_t byte = 0;
    bool started = false;
    for (int reads = 0; reads < kMaxHuntReads; ++reads) {
        if (!FtdioReadByte(byte))
            return false;
        if (byte == wake::FEND) {
            started = true;
            break;
        }
    }
    if (!started)
        return false;

    std::uint8_t crc = wake::CRC_INIT;
    WakeCrcUpdate(wake::FEND, crc);
    length = 0;
    address = 0;

    int pos = kAddress;
    int n = 0;  // the announced length; 0 until the length byte has arrived
    bool complete = false;
    for (;;) {
        if (pos > kData + n) {
            complete = true;
            break;
        }
        if (!FtdioReadByte(byte))
            break;
        std::uint8_t value = byte;
        if (byte == wake::FESC) {
            if (!FtdioReadByte(byte))
                break;
            if (byte == wake::TFEND)
                value = wake::FEND;
            else if (byte == wake::TFESC)
                value = wake::FESC;
            else
                break;  // a bad escape ends the frame
        }
        // A bare FEND inside a frame is taken as an ordinary 0xC0.

        int next = pos + 1;
        if (pos == kAddress) {
            if (value & 0x80) {
                value &= 0x7F;
                address = value;
            } else {
                command = value;
                next = kLength;
            }
        } else if (pos == kCommand) {
            if (value & 0x80)
                break;
            command = value;
        } else if (pos == kLength) {
            length = value;
            n = value;
        } else if (pos < kData + n) {
            // Surplus bytes of a frame longer than the caller's area are read
            // (so that nothing of the frame stays in the queue) but dropped.
            const std::size_t index = static_cast<std::size_t>(pos - kData);
            if (index < capacity)
                data[index] = value;
        }
        // else: the CRC byte, folded in but not stored.

        WakeCrcUpdate(value, crc);
        pos = next;
    }

    return complete && crc == 0 && static_cast<std::size_t>(n) <= capacity;
}
