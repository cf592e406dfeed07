// Fuzz target: the Wake receiver (WakeReceiveFrame, reading through Ftdio
// from a scripted line) against a reading of the frame rules written here,
// independently of the product's code.
//
// Input: byte 0 is the capacity of the caller's data area (0 to 255); the
// other bytes are what arrives on the line, after which every read times
// out. The receiver is called again and again on what is left, as the
// exchanges of a session would, and each call must agree with the reading
// on the verdict, on how many bytes it consumed and, for a good frame, on
// address, command, length and data; it must never store at or beyond the
// capacity (AddressSanitizer watches an area of exactly that size) nor
// touch the area beyond the frame's data.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "d2xx.h"
#include "d2xx_table.h"
#include "ftdio.h"
#include "wake.h"
#include "wake_oracle.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// The line: the bytes still to arrive.
const std::uint8_t *lineBytes = nullptr;
std::size_t lineSize = 0;
std::size_t lineAt = 0;

// The converter in front of the line: reads take what is left of it, every
// write goes out whole, everything else succeeds and does nothing.
struct LineCalls : D2xxStub<FT_OK> {
    static FT_STATUS D2XX_CALL Read(FT_HANDLE, void *buffer, DWORD toRead, DWORD *returned)
    {
        *returned = 0;
        auto *out = static_cast<std::uint8_t *>(buffer);
        while (*returned < toRead && lineAt < lineSize) {
            out[(*returned)++] = lineBytes[lineAt++];
        }
        return FT_OK;
    }
    static FT_STATUS D2XX_CALL Open(int, FT_HANDLE *handle)
    {
        *handle = &lineAt;
        return FT_OK;
    }
    static FT_STATUS D2XX_CALL Write(FT_HANDLE, void *, DWORD toWrite, DWORD *written)
    {
        *written = toWrite;
        return FT_OK;
    }
};
constexpr D2xxApi kLineApi = D2xxTableOf<LineCalls>();

// What one receive should do, by the frame rules.
struct Expected {
    bool ok = false;
    std::size_t consumed = 0;
    std::uint8_t address = 0;
    std::uint8_t command = 0;
    std::uint8_t length = 0;
    Bytes data;
};

// Skip up to 512 bytes to the first 0xC0; then unstuffed values: an address
// byte (bit 7 set, kept without it) or none, the command (bit 7 clear), the
// length N, N data values and the CRC, which must equal the CRC-8 of 0xC0
// and all the values before it. A bare 0xC0 after the start is a value like
// any other; 0xDB must be followed by 0xDC or 0xDD. A frame of more data
// values than the capacity is read whole and refused.
Expected Read(const std::uint8_t *in, std::size_t size, std::size_t capacity)
{
    Expected e;
    std::size_t at = 0;
    bool started = false;
    while (!started && at < size && at < 512) {
        started = in[at++] == 0xC0;
    }
    e.consumed = at;
    if (!started) {
        return e;
    }

    // The next unstuffed value; false at the end of the line or on a bad
    // escape, having consumed what a receiver reads to find that out.
    const auto value = [&](std::uint8_t &v) {
        if (at == size) {
            return false;
        }
        v = in[at++];
        if (v != 0xDB) {
            return true;
        }
        if (at == size) {
            return false;
        }
        const std::uint8_t second = in[at++];
        v = second == 0xDC ? 0xC0 : 0xDB;
        return second == 0xDC || second == 0xDD;
    };

    Bytes crcInput{0xC0};
    std::uint8_t v = 0;
    bool whole = value(v);
    if (whole && (v & 0x80)) {
        e.address = v & 0x7F;
        crcInput.push_back(e.address);
        whole = value(v) && !(v & 0x80);
    }
    if (whole) {
        e.command = v;
        crcInput.push_back(v);
        whole = value(e.length);
        crcInput.push_back(e.length);
    }
    for (int i = 0; whole && i < e.length; ++i) {
        whole = value(v);
        e.data.push_back(v);
        crcInput.push_back(v);
    }
    whole = whole && value(v);
    e.consumed = at;
    e.ok = whole && v == oracle::Crc(crcInput) && e.length <= capacity;
    return e;
}

[[noreturn]] void Disagree(const char *what, std::size_t offset)
{
    std::fprintf(stderr, "receiver and frame rules disagree on %s (receive starting at byte %zu)\n",
                 what, offset);
    std::abort();
}

constexpr std::uint8_t kUntouched = 0xA5;
constexpr int kMaxReceives = 16;

}  // namespace

// Ftdio reaches the line through this table.
const D2xxApi &D2xx()
{
    return kLineApi;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *input, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    const std::size_t capacity = input[0];
    lineBytes = input + 1;
    lineSize = size - 1;
    lineAt = 0;
    FT_HANDLE handle = nullptr;
    FtdioOpen(0, handle);

    for (int receive = 0; receive < kMaxReceives && lineAt < lineSize; ++receive) {
        const std::size_t start = lineAt;
        const Expected expected = Read(lineBytes + start, lineSize - start, capacity);

        // Exactly the capacity, so that AddressSanitizer sees any store past it.
        std::unique_ptr<std::uint8_t[]> area(new std::uint8_t[capacity]);
        for (std::size_t i = 0; i < capacity; ++i) {
            area[i] = kUntouched;
        }
        std::uint8_t address = 0xEE;
        std::uint8_t command = 0xEE;
        std::uint8_t length = 0xEE;
        const bool ok = WakeReceiveFrame(50, address, command, area.get(), length, capacity);

        if (ok != expected.ok) {
            Disagree("the verdict", start);
        }
        if (lineAt - start != expected.consumed) {
            Disagree("the bytes consumed", start);
        }
        if (!ok) {
            continue;
        }
        if (address != expected.address || command != expected.command
            || length != expected.length) {
            Disagree("address, command or length", start);
        }
        for (std::size_t i = 0; i < capacity; ++i) {
            const std::uint8_t want = i < expected.data.size() ? expected.data[i] : kUntouched;
            if (area[i] != want) {
                Disagree(i < expected.data.size() ? "the data" : "the area beyond the data", start);
            }
        }
    }
    FtdioClose(handle);
    return 0;
}
