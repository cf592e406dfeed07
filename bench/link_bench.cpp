// The device link library's own cost of one set-parameter exchange, next to
// the time the same exchange takes on the wire.
//
// At 38400 baud with 8N1 framing a byte takes 10 bit times. A set-parameter
// exchange moves a 10-byte request (C0 08 06 00 81 DC 05 00 00 90) and a
// 5-byte answer: 150 bit times, about 3.9 ms. Each benchmark reports
// "wire_over_library", how many times the library's cost fits into that.
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <benchmark/benchmark.h>

#include "d2xx.h"
#include "d2xx_table.h"
#include "ftdio.h"
#include "px418usb.h"
#include "virtual/virtual_generator.h"
#include "wake.h"

namespace {

constexpr double kBaud = 38400.0;
constexpr double kExchangeBytes = 10 + 5;
constexpr double kWireSeconds = kExchangeBytes * 10 / kBaud;

// An instant device: every write is answered at once with the same
// set-parameter answer (command 8, error 0), so no device processing is
// timed, only the library's encoding, port calls, decoding and copying.
struct InstantDevice {
    std::uint8_t answer[64] = {};
    std::size_t answerLength = 0;
    std::size_t next = 0;
    std::size_t available = 0;
} device;

// Its driver: one converter; every other call succeeds and does nothing.
struct InstantCalls : D2xxStub<FT_OK> {
    static FT_STATUS D2XX_CALL ListDevices(void *pArg1, void *, DWORD)
    {
        *static_cast<DWORD *>(pArg1) = 1;
        return FT_OK;
    }
    static FT_STATUS D2XX_CALL Open(int, FT_HANDLE *pHandle)
    {
        *pHandle = &device;
        return FT_OK;
    }
    static FT_STATUS D2XX_CALL Read(FT_HANDLE, void *buffer, DWORD toRead, DWORD *pReturned)
    {
        DWORD n = 0;
        auto *out = static_cast<std::uint8_t *>(buffer);
        while (n < toRead && device.next < device.available) {
            out[n++] = device.answer[device.next++];
        }
        *pReturned = n;
        return FT_OK;
    }
    static FT_STATUS D2XX_CALL Write(FT_HANDLE, void *buffer, DWORD toWrite, DWORD *pWritten)
    {
        benchmark::DoNotOptimize(buffer);
        device.next = 0;
        device.available = device.answerLength;
        *pWritten = toWrite;
        return FT_OK;
    }
};
constexpr D2xxApi kInstantApi = D2xxTableOf<InstantCalls>();

void UseInstantDevice(std::uint8_t command, const std::vector<std::uint8_t> &data)
{
    const auto frame = px418virtual::EncodeFrame(command, data);
    if (frame.size() > sizeof device.answer) {
        std::abort();
    }
    std::memcpy(device.answer, frame.data(), frame.size());
    device.answerLength = frame.size();
    D2xxInstall(&kInstantApi);
}

// Runs the loop, timing it with a clock of its own, and reports the cost of
// one exchange and the wire time's multiple of it.
template <typename Exchange>
void TimeExchanges(benchmark::State &state, Exchange exchange)
{
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (!exchange()) {
            state.SkipWithError("exchange failed");
        }
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    const double perExchange = elapsed.count() / static_cast<double>(state.iterations());
    state.counters["library_us"] = perExchange * 1e6;
    state.counters["wire_us"] = kWireSeconds * 1e6;
    state.counters["wire_over_library"] = kWireSeconds / perExchange;
}

void BM_SetParExchange_InstantDevice(benchmark::State &state)
{
    // Open against an identity answer, then switch to set-parameter answers.
    UseInstantDevice(3, {'P', 'X', '-', '4', '1', '8'});
    if (!PX418_OpenDevice()) {
        state.SkipWithError("open failed");
        return;
    }
    UseInstantDevice(8, {0x00});
    TimeExchanges(state, [] { return PX418_SetPar(0, 0x81, 1500); });
    PX418_CloseDevice();
    D2xxInstall(nullptr);
}
BENCHMARK(BM_SetParExchange_InstantDevice);

void BM_SetParExchange_VirtualGenerator(benchmark::State &state)
{
    D2xxInstall(D2xxVirtualProvider());
    px418virtual::TheVirtualGenerator().Reset();
    if (!PX418_OpenDevice()) {
        state.SkipWithError("open failed");
        return;
    }
    TimeExchanges(state, [] { return PX418_SetPar(0, 0x81, 1500); });
    PX418_CloseDevice();
    D2xxInstall(nullptr);
}
BENCHMARK(BM_SetParExchange_VirtualGenerator);

// The parts: encoding one request alone, and receiving one answer alone.
void BM_EncodeSetParRequest(benchmark::State &state)
{
    UseInstantDevice(8, {0x00});
    FT_HANDLE handle = nullptr;
    FtdioOpen(0, handle);
    const std::uint8_t request[6] = {0x00, 0x81, 0xDC, 0x05, 0x00, 0x00};
    for (auto _ : state) {
        benchmark::DoNotOptimize(WakeSendFrame(0, 8, 6, request));
    }
    FtdioClose(handle);
    D2xxInstall(nullptr);
}
BENCHMARK(BM_EncodeSetParRequest);

void BM_ReceiveSetParAnswer(benchmark::State &state)
{
    UseInstantDevice(8, {0x00});
    FT_HANDLE handle = nullptr;
    FtdioOpen(0, handle);
    std::uint8_t area[200];
    std::uint8_t address = 0, command = 0, length = 0;
    for (auto _ : state) {
        device.next = 0;
        device.available = device.answerLength;
        benchmark::DoNotOptimize(WakeReceiveFrame(50, address, command, area, length, sizeof area));
    }
    FtdioClose(handle);
    D2xxInstall(nullptr);
}
BENCHMARK(BM_ReceiveSetParAnswer);

}  // namespace

BENCHMARK_MAIN();
