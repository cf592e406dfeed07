// D2XX tables made by name: every call of a forwarding table reaches the
// member of its own name with its own arguments. (The stub calls are checked
// with the table of an unloadable driver in d2xx_provider_test.cpp, and the
// stand-ins built on them by the fuzz target's seed replay and the bench.)
#include "d2xx_table.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "d2xx.h"

namespace {

// Records each call as its name and arguments; answers a status of its own
// per call, so that a result returned by the wrong member shows too.
struct Recorder {
    std::vector<std::string> calls;

    FT_STATUS Note(const std::string &call, FT_STATUS status)
    {
        calls.push_back(call);
        return status;
    }
    FT_STATUS ListDevices(void *pArg1, void *pArg2, DWORD flags)
    {
        return Note("ListDevices " + std::to_string(pArg1 != nullptr) + " "
                        + std::to_string(pArg2 != nullptr) + " " + std::to_string(flags),
                    1);
    }
    FT_STATUS Open(int index, FT_HANDLE *) { return Note("Open " + std::to_string(index), 2); }
    FT_STATUS Close(FT_HANDLE) { return Note("Close", 3); }
    FT_STATUS Read(FT_HANDLE, void *, DWORD count, DWORD *)
    {
        return Note("Read " + std::to_string(count), 4);
    }
    FT_STATUS Write(FT_HANDLE, void *, DWORD count, DWORD *)
    {
        return Note("Write " + std::to_string(count), 5);
    }
    FT_STATUS SetBaudRate(FT_HANDLE, ULONG baud)
    {
        return Note("SetBaudRate " + std::to_string(baud), 6);
    }
    FT_STATUS SetDataCharacteristics(FT_HANDLE, UCHAR bits, UCHAR stop, UCHAR parity)
    {
        return Note("SetDataCharacteristics " + std::to_string(bits) + " " + std::to_string(stop)
                        + " " + std::to_string(parity),
                    7);
    }
    FT_STATUS SetTimeouts(FT_HANDLE, ULONG read, ULONG write)
    {
        return Note("SetTimeouts " + std::to_string(read) + " " + std::to_string(write), 8);
    }
    FT_STATUS SetLatencyTimer(FT_HANDLE, UCHAR latency)
    {
        return Note("SetLatencyTimer " + std::to_string(latency), 9);
    }
    FT_STATUS Purge(FT_HANDLE, ULONG mask) { return Note("Purge " + std::to_string(mask), 10); }
};

Recorder &TheRecorder()
{
    static Recorder recorder;
    return recorder;
}

TEST(D2xxTableTest, EveryForwardedCallReachesItsOwnMember)
{
    const D2xxApi &api = kD2xxForwardingApi<&TheRecorder>;
    DWORD count = 0;
    FT_HANDLE handle = nullptr;
    std::uint8_t byte = 0;
    const std::vector<FT_STATUS> statuses = {
        api.ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY),
        api.Open(3, &handle),
        api.Close(handle),
        api.Read(handle, &byte, 1, &count),
        api.Write(handle, &byte, 2, &count),
        api.SetBaudRate(handle, 38400),
        api.SetDataCharacteristics(handle, 8, 0, 1),
        api.SetTimeouts(handle, 50, 200),
        api.SetLatencyTimer(handle, 2),
        api.Purge(handle, 3),
    };
    EXPECT_EQ(statuses, (std::vector<FT_STATUS>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(
        TheRecorder().calls,
        (std::vector<std::string>{"ListDevices 1 0 2147483648", "Open 3", "Close", "Read 1",
                                  "Write 2", "SetBaudRate 38400", "SetDataCharacteristics 8 0 1",
                                  "SetTimeouts 50 200", "SetLatencyTimer 2", "Purge 3"}));
    EXPECT_EQ(api.Probed, nullptr);
}

}  // namespace
