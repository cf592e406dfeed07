// Wake frames over the port: one write per frame out, one byte per read in.
#include "wake.h"

#include "ftdio.h"

namespace {

// Positions of the receiver, in wire order; data byte i sits at kData + i
// and the CRC byte right after the last data byte.
constexpr int kAddress = 0;
constexpr int kCommand = 1;
constexpr int kLength = 2;
constexpr int kData = 3;

using Clock = std::chrono::steady_clock;

// Single-byte reads with the per-byte timeout, none of them waiting past the
// deadline.
class ByteReader {
public:
    ByteReader(std::int32_t timeoutMs, Clock::time_point deadline)
        : timeoutMs_(timeoutMs), deadline_(deadline)
    {}

    bool Read(std::uint8_t &byte)
    {
        if (deadline_ != Clock::time_point::max()) {
            const auto left = deadline_ - Clock::now();
            if (left <= Clock::duration::zero()) {
                return false;
            }
            const auto leftMs = std::chrono::ceil<std::chrono::milliseconds>(left).count();
            if (leftMs < timeoutMs_) {
                timeoutMs_ = static_cast<std::int32_t>(leftMs);
                if (!FtdioSetReadTimeout(timeoutMs_)) {
                    return false;
                }
            }
        }
        return FtdioReadByte(byte);
    }

private:
    std::int32_t timeoutMs_;  // the port's read timeout as last set
    Clock::time_point deadline_;
};

}  // namespace

bool WakeSendFrame(std::uint8_t address, std::uint8_t command, std::uint8_t length,
                   const std::uint8_t *data)
{
    // The buffer is fixed so that sending never allocates.
    std::uint8_t frame[wake::MAX_FRAME];
    const std::size_t size = WakeEncodeFrame(address, command, length, data, frame);
    return FtdioWrite(static_cast<std::int32_t>(size), frame);
}

bool WakeReceiveFrame(std::int32_t timeoutMs, std::uint8_t &address, std::uint8_t &command,
                      std::uint8_t *data, std::uint8_t &length, std::size_t capacity,
                      Clock::time_point deadline)
{
    if (!FtdioSetReadTimeout(timeoutMs)) {
        return false;
    }
    ByteReader reader(timeoutMs, deadline);

    // Hunt for the frame start. Anything before it is line noise or the tail
    // of an earlier frame; it is consumed and dropped.
    std::uint8_t byte = 0;
    bool started = false;
    for (int reads = 0; reads < wake::MAX_HUNT_READS; ++reads) {
        if (!reader.Read(byte)) {
            return false;
        }
        if (byte == wake::FEND) {
            started = true;
            break;
        }
    }
    if (!started) {
        return false;
    }

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
        if (!reader.Read(byte)) {
            break;
        }
        std::uint8_t value = byte;
        if (byte == wake::FESC) {
            if (!reader.Read(byte)) {
                break;
            }
            if (byte == wake::TFEND) {
                value = wake::FEND;
            } else if (byte == wake::TFESC) {
                value = wake::FESC;
            } else {
                break;  // a bad escape ends the frame
            }
        }
        // A bare FEND inside a frame is taken as an ordinary 0xC0.

        int next = pos + 1;
        if (pos == kAddress) {
            if (value & wake::ADDRESS_MARK) {
                value &= static_cast<std::uint8_t>(~wake::ADDRESS_MARK);
                address = value;
            } else {
                command = value;
                next = kLength;
            }
        } else if (pos == kCommand) {
            if (value & wake::ADDRESS_MARK) {
                break;
            }
            command = value;
        } else if (pos == kLength) {
            length = value;
            n = value;
        } else if (pos < kData + n) {
            // Surplus bytes of a frame longer than the caller's area are read
            // (so that nothing of the frame stays in the queue) but dropped.
            const std::size_t index = static_cast<std::size_t>(pos - kData);
            if (index < capacity) {
                data[index] = value;
            }
        }
        // else: the CRC byte, folded in but not stored.

        WakeCrcUpdate(value, crc);
        pos = next;
    }

    return complete && crc == 0 && static_cast<std::size_t>(n) <= capacity;
}
