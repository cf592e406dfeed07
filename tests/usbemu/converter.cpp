// One emulated FT232R: its descriptors, FTDI's vendor requests, and the two
// serial lines with their timing.
#include <algorithm>
#include <cstring>

#include "emulation.h"

namespace usbemu {

int DecodeBaudRate(std::uint16_t value, std::uint16_t index, bool amChip)
{
    // The divisor counts 3 MHz clocks in eighths: value[13:0] is the whole
    // part, value[15:14] (and index bit 0 from the BM on) code the eighths.
    // 0 and 1 are the two divisors below 2: 1 and 1.5.
    static const int kEighths[8] = {0, 4, 2, 1, 3, 5, 6, 7};
    const unsigned encoded = value | (amChip ? 0u : (index & 1u) << 16);
    if (encoded == 0) {
        return 3000000;
    }
    if (encoded == 1) {
        return 2000000;
    }
    const int eighths = static_cast<int>(encoded & 0x3FFF) * 8 + kEighths[(encoded >> 14) & 7];
    return (24000000 + eighths / 2) / eighths;
}

}  // namespace usbemu

namespace usbemu::detail {

namespace {

constexpr int kPacketSize = 64;
constexpr int kStatusBytes = 2;
constexpr std::size_t kTxBuffer = 128;  // FT232R transmit buffer

// FTDI vendor requests.
enum : std::uint8_t {
    kReset = 0x00,
    kModemCtrl = 0x01,
    kFlowCtrl = 0x02,
    kBaudRate = 0x03,
    kData = 0x04,
    kPollModemStatus = 0x05,
    kEventChar = 0x06,
    kErrorChar = 0x07,
    kSetLatency = 0x09,
    kGetLatency = 0x0A,
    kBitmode = 0x0B,
    kReadPins = 0x0C,
};

// Appends a UTF-16LE string descriptor of ASCII text.
Bytes StringBytes(const std::string &text)
{
    const std::size_t chars = std::min<std::size_t>(text.size(), 126);
    Bytes bytes{static_cast<std::uint8_t>(2 + 2 * chars), LIBUSB_DT_STRING};
    for (std::size_t i = 0; i < chars; ++i) {
        bytes.push_back(static_cast<std::uint8_t>(text[i]));
        bytes.push_back(0);
    }
    return bytes;
}

int CopyOut(const Bytes &bytes, unsigned char *data, std::uint16_t length)
{
    const std::size_t n = std::min<std::size_t>(bytes.size(), length);
    if (n > 0) {
        std::memcpy(data, bytes.data(), n);
    }
    return static_cast<int>(n);
}

}  // namespace

void Converter::PowerOn(TimePoint now)
{
    line = LineSettings{};
    tx.clear();
    rx.clear();
    txFree = now;
    rxFree = now;
    lastPacket = now;
    configuration = 1;
}

Duration Converter::ByteTime() const
{
    // Start bit, data bits, parity bit, stop bits (1.5 counted in halves).
    const int halfBits = 2 * (1 + line.dataBits + (line.parity != 0 ? 1 : 0))
                         + (line.stopBits == 1   ? 3
                            : line.stopBits == 2 ? 4
                                                 : 2);
    const long long baud = std::max(line.baud, 1);
    return std::chrono::duration_cast<Duration>(
        std::chrono::nanoseconds(halfBits * 1000000000LL / (2 * baud)));
}

void Converter::Deliver(TimePoint now)
{
    while (!tx.empty() && tx.front().End() <= now) {
        TxChunk chunk = std::move(tx.front());
        tx.pop_front();
        const TimePoint at = chunk.End();
        Bytes answer = peer ? peer(chunk.bytes.data(), chunk.bytes.size()) : Bytes{};
        Record(EventKind::Exchange, at, chunk.bytes, answer);
        if (!answer.empty()) {
            QueueRx(answer, at + turnaround);
        }
    }
}

TimePoint Converter::NextDelivery() const
{
    return tx.empty() ? kNever : tx.front().End();
}

void Converter::QueueRx(const Bytes &bytes, TimePoint from)
{
    const Duration byteTime = ByteTime();
    TimePoint at = std::max(from, rxFree);
    for (std::uint8_t b : bytes) {
        at += byteTime;
        rx.push_back({b, at});
    }
    rxFree = at;
}

void Converter::PurgeTx(TimePoint now)
{
    // The byte in the shift register still goes out; the rest of the
    // buffer is dropped.
    Deliver(now);
    if (!tx.empty()) {
        TxChunk &first = tx.front();
        std::size_t started = 0;
        while (started < first.bytes.size() && first.Finish(started) - first.byteTime < now) {
            ++started;
        }
        first.bytes.resize(started);
        tx.resize(started > 0 ? 1 : 0);
    }
    txFree = tx.empty() ? std::min(txFree, now) : tx.front().End();
}

void Converter::PurgeRx(TimePoint now)
{
    // Bytes still arriving on the wire are not in the buffer yet.
    while (!rx.empty() && rx.front().ready <= now) {
        rx.pop_front();
    }
}

int Converter::Control(std::uint8_t requestType, std::uint8_t request, std::uint16_t wValue,
                       std::uint16_t wIndex, unsigned char *data, std::uint16_t length,
                       TimePoint now)
{
    const bool in = (requestType & LIBUSB_ENDPOINT_IN) != 0;
    const int type = requestType & (0x03 << 5);

    if (type == LIBUSB_REQUEST_TYPE_STANDARD) {
        if (!in) {
            return LIBUSB_ERROR_PIPE;
        }
        switch (request) {
        case LIBUSB_REQUEST_GET_STATUS:
            return CopyOut({0, 0}, data, length);
        case LIBUSB_REQUEST_GET_CONFIGURATION:
            return CopyOut({static_cast<std::uint8_t>(configuration)}, data, length);
        case LIBUSB_REQUEST_GET_DESCRIPTOR: {
            const int kind = wValue >> 8;
            const int number = wValue & 0xFF;
            Bytes bytes;
            if (kind == LIBUSB_DT_DEVICE && number == 0) {
                const libusb_device_descriptor d = DeviceDescriptor();
                bytes.resize(sizeof d);
                std::memcpy(bytes.data(), &d, sizeof d);  // little-endian host
            } else if (kind == LIBUSB_DT_CONFIG && number == 0) {
                bytes = ConfigDescriptorBytes();
            } else if (kind == LIBUSB_DT_STRING) {
                bytes = StringDescriptor(static_cast<std::uint8_t>(number));
            }
            if (bytes.empty()) {
                return LIBUSB_ERROR_PIPE;
            }
            return CopyOut(bytes, data, length);
        }
        default:
            return LIBUSB_ERROR_PIPE;
        }
    }
    if (type != LIBUSB_REQUEST_TYPE_VENDOR) {
        return LIBUSB_ERROR_PIPE;
    }

    if (in) {
        switch (request) {
        case kPollModemStatus:
            return CopyOut({setup.modemStatus[0], setup.modemStatus[1]}, data, length);
        case kGetLatency:
            return CopyOut({static_cast<std::uint8_t>(line.latencyMs)}, data, length);
        case kReadPins:
            return CopyOut({0xFF}, data, length);
        default:
            return LIBUSB_ERROR_PIPE;
        }
    }

    switch (request) {
    case kReset:
        if (wValue == 0) {
            ++counters.resets;
            PurgeTx(now);
            PurgeRx(now);
        } else if (wValue == 1) {
            // libftdi 1.5 sends 1 from ftdi_tcoflush: the bytes on their way
            // out to the serial device.
            ++counters.txPurges;
            PurgeTx(now);
        } else if (wValue == 2) {
            // ... and 2 from ftdi_tciflush: the bytes on their way to the host.
            ++counters.rxPurges;
            PurgeRx(now);
        }
        return 0;
    case kModemCtrl:
        if (wValue & 0x0100) {
            line.dtr = (wValue & 0x01) != 0;
        }
        if (wValue & 0x0200) {
            line.rts = (wValue & 0x02) != 0;
        }
        return 0;
    case kFlowCtrl:
        line.flowControl = static_cast<std::uint16_t>(wIndex >> 8);
        line.xonXoff = wValue;
        return 0;
    case kBaudRate:
        line.divisorValue = wValue;
        line.divisorIndex = wIndex;
        line.baud = DecodeBaudRate(wValue, wIndex, setup.bcdDevice == 0x0200);
        bauds.push_back(line.baud);
        return 0;
    case kData:
        line.dataBits = wValue & 0xFF;
        line.parity = (wValue >> 8) & 0x07;
        line.stopBits = (wValue >> 11) & 0x03;
        line.breakOn = (wValue & 0x4000) != 0;
        return 0;
    case kEventChar:
        line.eventChar = wValue;
        return 0;
    case kErrorChar:
        line.errorChar = wValue;
        return 0;
    case kSetLatency:
        line.latencyMs = wValue & 0xFF;
        return 0;
    case kBitmode:
        line.bitmode = wValue;
        return 0;
    default:
        return LIBUSB_ERROR_PIPE;
    }
}

void Converter::StartOut(Flight &flight, TimePoint now)
{
    // The converter takes bytes while its transmit buffer has room: byte i
    // goes in once the byte kTxBuffer places ahead of it has started out.
    const Duration byteTime = ByteTime();
    const TimePoint start = std::max(now, txFree);
    const auto acceptedAt = [&](std::size_t i) {
        const TimePoint begins = start + byteTime * static_cast<Duration::rep>(i);
        const Duration ahead = byteTime * static_cast<Duration::rep>(kTxBuffer);
        return begins - ahead > now ? begins - ahead : now;
    };
    std::size_t count = static_cast<std::size_t>(flight.length);
    if (count > 0 && acceptedAt(count - 1) > flight.deadline) {
        // Only what the buffer takes before the timeout goes out.
        while (count > 0 && acceptedAt(count - 1) > flight.deadline) {
            --count;
        }
        flight.forcedTimeout = true;
    }
    flight.acceptedAt = count > 0 ? acceptedAt(count - 1) : now;
    if (flight.forcedTimeout) {
        flight.acceptedAt = flight.deadline;
    }
    flight.data.assign(flight.buffer, flight.buffer + count);
    flight.actual = static_cast<int>(count);
    if (count > 0) {
        tx.push_back({flight.data, start, byteTime});
        txFree = tx.back().End();
    }
}

TimePoint Converter::NextPacketTime(TimePoint pollFrom) const
{
    // A packet goes when 62 data bytes are waiting or when the latency
    // timer runs out, but not before the host asks for it, nor before the
    // packet that ended the transfer ahead of this one.
    const Duration latency = std::chrono::milliseconds(std::max(line.latencyMs, 1));
    const TimePoint timer = lastPacket + latency;
    const std::size_t full = kPacketSize - kStatusBytes;
    const TimePoint filled = rx.size() >= full ? rx[full - 1].ready : kNever;
    const TimePoint at = std::max({pollFrom, lastPacket, std::min(timer, filled)});
    if (setup.idleStatusPackets) {
        return at;
    }
    // A quiet converter sends its packet once a byte is there to send.
    return rx.empty() ? kNever : std::max(at, rx.front().ready);
}

bool Converter::StepIn(Flight &flight, TimePoint now, TimePoint &wake)
{
    const TimePoint limit = std::min(now, flight.deadline);
    for (;;) {
        const TimePoint at = NextPacketTime(flight.pollFrom);
        if (at > limit) {
            if (now >= flight.deadline) {
                flight.error = LIBUSB_ERROR_TIMEOUT;
                flight.ended = flight.deadline;
                return true;
            }
            wake = std::min(at, flight.deadline);
            return false;
        }
        std::size_t count = 0;
        while (count < rx.size() && count < kPacketSize - kStatusBytes && rx[count].ready <= at) {
            ++count;
        }
        const int space = flight.length - flight.actual;
        if (static_cast<int>(count) + kStatusBytes > space) {
            // The packet does not fit: a real host reports a babble. Its
            // bytes stay in the converter here.
            flight.error = LIBUSB_ERROR_OVERFLOW;
            flight.ended = at;
            return true;
        }
        unsigned char *out = flight.buffer + flight.actual;
        out[0] = setup.modemStatus[0];
        out[1] = setup.modemStatus[1];
        for (std::size_t i = 0; i < count; ++i) {
            out[kStatusBytes + i] = rx.front().value;
            flight.data.push_back(rx.front().value);
            rx.pop_front();
        }
        const int size = kStatusBytes + static_cast<int>(count);
        flight.actual += size;
        ++flight.packets;
        lastPacket = at;
        flight.pollFrom = at;
        if (size < kPacketSize || flight.actual == flight.length) {
            flight.error = LIBUSB_SUCCESS;
            flight.ended = at;
            return true;
        }
    }
}

int Converter::TakeFault(bool control, bool in)
{
    for (Fault &fault : faults) {
        if (fault.count <= 0) {
            continue;
        }
        const bool applies =
            fault.which == Transfers::All
            || (control ? fault.which == Transfers::Control
                        : fault.which == Transfers::Bulk
                              || fault.which == (in ? Transfers::BulkIn : Transfers::BulkOut));
        if (applies) {
            --fault.count;
            const int error = fault.error;
            faults.erase(std::remove_if(faults.begin(), faults.end(),
                                        [](const Fault &f) { return f.count <= 0; }),
                         faults.end());
            return error;
        }
    }
    return 0;
}

libusb_device_descriptor Converter::DeviceDescriptor() const
{
    libusb_device_descriptor d{};
    d.bLength = LIBUSB_DT_DEVICE_SIZE;
    d.bDescriptorType = LIBUSB_DT_DEVICE;
    d.bcdUSB = 0x0200;
    d.bDeviceClass = 0;
    d.bMaxPacketSize0 = 8;
    d.idVendor = setup.vendorId;
    d.idProduct = setup.productId;
    d.bcdDevice = setup.bcdDevice;
    d.iManufacturer = setup.manufacturer.empty() ? 0 : 1;
    d.iProduct = setup.product.empty() ? 0 : 2;
    d.iSerialNumber = setup.serial.empty() ? 0 : 3;
    d.bNumConfigurations = 1;
    return d;
}

Bytes Converter::ConfigDescriptorBytes() const
{
    // Configuration 1, bus powered, 90 mA; one interface of the vendor's own class
    // with a bulk endpoint each way.
    return {
        9,
        LIBUSB_DT_CONFIG,
        32,
        0,
        1,
        1,
        0,
        0xA0,
        45,
        9,
        LIBUSB_DT_INTERFACE,
        0,
        0,
        2,
        0xFF,
        0xFF,
        0xFF,
        2,
        7,
        LIBUSB_DT_ENDPOINT,
        0x81,
        LIBUSB_TRANSFER_TYPE_BULK,
        kPacketSize,
        0,
        0,
        7,
        LIBUSB_DT_ENDPOINT,
        0x02,
        LIBUSB_TRANSFER_TYPE_BULK,
        kPacketSize,
        0,
        0,
    };
}

Bytes Converter::StringDescriptor(std::uint8_t number) const
{
    switch (number) {
    case 0:
        return {4, LIBUSB_DT_STRING, 0x09, 0x04};  // US English
    case 1:
        return setup.manufacturer.empty() ? Bytes{} : StringBytes(setup.manufacturer);
    case 2:
        return setup.product.empty() ? Bytes{} : StringBytes(setup.product);
    case 3:
        return setup.serial.empty() ? Bytes{} : StringBytes(setup.serial);
    default:
        return {};
    }
}

void Converter::Record(EventKind kind, TimePoint time, Bytes data, Bytes answer)
{
    Event event;
    event.time = time;
    event.start = time;
    event.converter = index;
    event.kind = kind;
    event.data = std::move(data);
    event.answer = std::move(answer);
    Emu().Record(std::move(event));
}

}  // namespace usbemu::detail
