// The nine exports through the C header, in libpx418usb.so, with the
// recording double loaded as the converter driver by its path.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "exports_fixture.h"

namespace {

// Runs the export whose request carries this command code; SetMode for the
// codes that no export sends.
bool RequestWithCode(int code)
{
    std::int32_t a = 0, b = 0, c = 0;
    const unsigned char *info = nullptr;
    switch (code) {
    case 3:
        return PX418_GetInfo(&info);
    case 7:
        return PX418_GetMode(&a);
    case 8:
        return PX418_SetPar(0, 1, 2);
    case 9:
        return PX418_GetPar(0, 1, &a);
    case 10:
        return PX418_GetSelPar(&a, &b, &c);
    default:
        return PX418_SetMode(0);
    }
}

TEST_F(ExportsTest, WithoutADeviceEveryCommandSucceedsWithZeros)
{
    // Leave some text behind first, to see that it is emptied.
    OpenScripted();
    Answer(Frame(8, {4}));
    ASSERT_FALSE(PX418_SetPar(0, 1, 5));
    ASSERT_TRUE(PX418_CloseDevice());
    Double().ClearCalls();

    EXPECT_TRUE(PX418_SetPar(0, 1, 10000));
    EXPECT_EQ(LastError(), "");
    std::int32_t value = 77;
    EXPECT_TRUE(PX418_GetPar(0, 1, &value));
    EXPECT_EQ(value, 0);
    std::int32_t group = 7, number = 7, selected = 7;
    EXPECT_TRUE(PX418_GetSelPar(&group, &number, &selected));
    EXPECT_EQ(group, 0);
    EXPECT_EQ(number, 0);
    EXPECT_EQ(selected, 0);
    std::int32_t mode = 7;
    EXPECT_TRUE(PX418_GetMode(&mode));
    EXPECT_EQ(mode, 0);
    EXPECT_TRUE(PX418_SetMode(1));
    const unsigned char *info = nullptr;
    EXPECT_TRUE(PX418_GetInfo(&info));
    ASSERT_NE(info, nullptr);
    EXPECT_TRUE(std::all_of(info, info + 200, [](unsigned char c) { return c == 0; }));
    EXPECT_EQ(LastError(), "");
    EXPECT_TRUE(Double().Calls().empty()) << "no I/O without a device";
}

TEST_F(ExportsTest, RequestsOnTheWire)
{
    const struct {
        const char *name;
        std::function<bool()> call;
        Bytes wire;
    } cases[] = {
        {"info",
         [] {
             const unsigned char *a;
             return PX418_GetInfo(&a);
         },
         {0xC0, 0x03, 0x00, 0xEB}},
        {"get mode",
         [] {
             std::int32_t m;
             return PX418_GetMode(&m);
         },
         {0xC0, 0x07, 0x00, 0xD0}},
        {"get selected",
         [] {
             std::int32_t g, n, v;
             return PX418_GetSelPar(&g, &n, &v);
         },
         {0xC0, 0x0A, 0x00, 0x59}},
        {"set mode 1", [] { return PX418_SetMode(1); }, {0xC0, 0x06, 0x01, 0x01, 0x66}},
        {"set mode keeps the low 8 bits",
         [] { return PX418_SetMode(0x301); },
         {0xC0, 0x06, 0x01, 0x01, 0x66}},
        {"get parameter 0/1",
         [] {
             std::int32_t v;
             return PX418_GetPar(0, 1, &v);
         },
         {0xC0, 0x09, 0x02, 0x00, 0x01, 0x5C}},
        {"set parameter 0/1 10000",
         [] { return PX418_SetPar(0, 1, 10000); },
         {0xC0, 0x08, 0x06, 0x00, 0x01, 0x10, 0x27, 0x00, 0x00, 0xAB}},
        {"set parameter 0/0x81 1500",
         [] { return PX418_SetPar(0, 0x81, 1500); },
         {0xC0, 0x08, 0x06, 0x00, 0x81, 0xDC, 0x05, 0x00, 0x00, 0x90}},
        {"value -1, group and number truncated", [] { return PX418_SetPar(0x103, 0x2FF, -1); },
         Frame(8, {0x03, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})},
        {"negative group",
         [] {
             std::int32_t v;
             return PX418_GetPar(-1, 256, &v);
         },
         Frame(9, {0xFF, 0x00})},
    };
    OpenScripted();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Double().ClearCalls();
        Answer(Frame(1, {0}));
        EXPECT_TRUE(c.call());
        EXPECT_EQ(Double().Written(), std::vector<Bytes>{c.wire});
    }
}

TEST_F(ExportsTest, EachExchangeWaits50MsPerByte)
{
    OpenScripted();
    Answer({0xC0, 0x07, 0x02, 0x00, 0x01, 0x49});
    std::int32_t mode = 0;
    ASSERT_TRUE(PX418_GetMode(&mode));
    const auto calls = Double().Calls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[0].name, "FT_Write");
    EXPECT_EQ(calls[1].name, "FT_SetTimeouts");
    EXPECT_EQ(calls[1].args, (std::vector<std::uint32_t>{50, 200}));
    EXPECT_EQ(Double().Count("FT_Read"), 6);
}

TEST_F(ExportsTest, ReadsAnswers)
{
    OpenScripted();
    std::int32_t mode = 0;
    Answer({0xC0, 0x07, 0x02, 0x00, 0x01, 0x49});
    EXPECT_TRUE(PX418_GetMode(&mode));
    EXPECT_EQ(mode, 1);
    Answer(Frame(7, {0x00, 0xFE}));
    EXPECT_TRUE(PX418_GetMode(&mode));
    EXPECT_EQ(mode, 254) << "zero-extended";

    Answer({0xC0, 0x06, 0x01, 0x00, 0x38});
    EXPECT_TRUE(PX418_SetMode(1));
    EXPECT_EQ(LastError(), "");

    const struct {
        Bytes value;
        std::int32_t expected;
    } values[] = {
        {{0xFF, 0xFF, 0xFF, 0xFF}, -1},
        {{0x10, 0x27, 0x00, 0x00}, 10000},
        {{0x00, 0x00, 0x00, 0x80}, INT32_MIN},
        {{0xFF, 0xFF, 0xFF, 0x7F}, INT32_MAX},
    };
    for (const auto &v : values) {
        Bytes data{0x00};
        data.insert(data.end(), v.value.begin(), v.value.end());
        Answer(Frame(9, data));
        std::int32_t value = 0;
        EXPECT_TRUE(PX418_GetPar(0, 1, &value));
        EXPECT_EQ(value, v.expected);
    }

    Answer(Frame(10, {0x00, 0xFE, 0x83, 0x18, 0xFC, 0xFF, 0xFF}));
    std::int32_t group = 0, number = 0, value = 0;
    EXPECT_TRUE(PX418_GetSelPar(&group, &number, &value));
    EXPECT_EQ(group, 254);
    EXPECT_EQ(number, 131);
    EXPECT_EQ(value, -1000);

    const unsigned char *info = nullptr;
    Answer(Frame(3, {'P', 'X', '-', '4', '1', '8', ' ', 'x'}));
    EXPECT_TRUE(PX418_GetInfo(&info));
    EXPECT_STREQ(reinterpret_cast<const char *>(info), "PX-418 x");
}

// Every answer command code against every device error code, each answering
// the request of its own code: the text is the prefix of the code followed by
// the reason of the error.
TEST_F(ExportsTest, ErrorTextForEveryCodeAndReason)
{
    const char *const prefixes[] = {
        "",
        "IO error: ",
        "Get echo error: ",
        "Get info error: ",
        "Set address error: ",
        "Get address error: ",
        "Set mode error: ",
        "Get mode error: ",
        "Set parameter error: ",
        "Get parameter error: ",
        "Get selected parameter error: ",
        "System error: ",
    };
    const char *const reasons[] = {
        "",
        "invalid packet.",
        "device busy.",
        "device not ready.",
        "invalid parameters.",
        "device not responding.",
        "unknown.",
    };
    OpenScripted();
    for (int code : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 20, 127}) {
        for (int error : {0, 1, 2, 3, 4, 5, 6, 7, 9, 255}) {
            SCOPED_TRACE("code " + std::to_string(code) + " error " + std::to_string(error));
            Answer(Frame(static_cast<std::uint8_t>(code), {static_cast<std::uint8_t>(error)}));
            const bool ok = RequestWithCode(code);
            const bool success = error == 0 || code == 2 || code == 3;
            EXPECT_EQ(ok, success);
            const std::string expected =
                success ? std::string()
                        : std::string(prefixes[std::min(code, 11)]) + reasons[std::min(error, 6)];
            EXPECT_EQ(LastError(), expected);
        }
    }
}

TEST_F(ExportsTest, NamedErrorTexts)
{
    const struct {
        const char *name;
        int request;  // command code of the request made
        Bytes answer;
        bool ok;
        const char *text;
    } cases[] = {
        {"invalid parameters", 8, Frame(8, {4}), false, "Set parameter error: invalid parameters."},
        {"device's own packet error", 8, Frame(1, {1}), false, "IO error: invalid packet."},
        {"device's packet error to a read", 9, Frame(1, {1}), false, "IO error: invalid packet."},
        {"unknown error", 8, Frame(8, {9}), false, "Set parameter error: unknown."},
        {"code above 11", 8, Frame(20, {2}), false, "System error: device busy."},
        {"code 0 gives the bare reason", 8, Frame(0, {3}), false, "device not ready."},
        {"answer without data", 8, Frame(8, {}), true, ""},
        {"another request's answer is no answer", 8, Frame(9, {0}), false,
         "IO error: device not responding."},
        {"a code no export sends is taken", 8, Frame(2, {7}), true, ""},
        {"address ignored", 8, oracle::Encode(8, {0}, 0x21), true, ""},
        {"silent device", 8, {}, false, "IO error: device not responding."},
        {"bad CRC", 8, {0xC0, 0x08, 0x01, 0x00, 0x00}, false, "IO error: device not responding."},
        {"longest text", 10, Frame(10, {5}), false,
         "Get selected parameter error: device not responding."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Double().Reset();
        OpenScripted();
        Answer(c.answer);
        EXPECT_EQ(RequestWithCode(c.request), c.ok);
        EXPECT_EQ(LastError(), c.text);
    }
}

TEST_F(ExportsTest, InfoAnswersCarryNoErrorCode)
{
    OpenScripted();
    Answer(Frame(3, {0x05, 'x'}));
    const unsigned char *info = nullptr;
    EXPECT_TRUE(PX418_GetInfo(&info));
    EXPECT_EQ(LastError(), "");
    EXPECT_EQ(info[0], 0x05);
}

TEST_F(ExportsTest, NullOutputsAreSkipped)
{
    OpenScripted();
    // Every request is answered under its own code.
    Double().SetResponder(converter_, [](const Bytes &written) {
        return Frame(oracle::Decode(written).command, {0x00, 0x01, 0x02, 0x03, 0x00, 0x00, 0x00});
    });
    EXPECT_TRUE(PX418_GetSelPar(nullptr, nullptr, nullptr));
    EXPECT_TRUE(PX418_GetMode(nullptr));
    EXPECT_TRUE(PX418_GetPar(0, 1, nullptr));
    EXPECT_TRUE(PX418_GetInfo(nullptr));
    EXPECT_EQ(Double().Count("FT_Write"), 4) << "the commands still run";
}

TEST_F(ExportsTest, SilentDeviceFailsAndStaysOpen)
{
    OpenScripted();
    std::int32_t value = 0;
    EXPECT_FALSE(PX418_GetPar(0, 1, &value));
    EXPECT_EQ(LastError(), "IO error: device not responding.");
    EXPECT_EQ(Double().Count("FT_Close"), 0);
    EXPECT_TRUE(Double().IsOpen(converter_));
    // One request, one answer: nothing is retried.
    EXPECT_EQ(Double().Count("FT_Write"), 1);
}

TEST_F(ExportsTest, ShortWriteIsNotRespondingAndReadsNothing)
{
    OpenScripted();
    Answer(Frame(8, {0}));
    Double().ShortWrite(5);
    EXPECT_FALSE(PX418_SetPar(0, 1, 2));
    EXPECT_EQ(LastError(), "IO error: device not responding.");
    EXPECT_EQ(Double().Count("FT_Read"), 0);
}

TEST_F(ExportsTest, OverlongAnswerIsRejectedAndLeavesNothingBehind)
{
    OpenScripted();
    Bytes data(255, 0x00);
    data[1] = 0x42;
    Answer(Frame(7, data));
    std::int32_t mode = 0;
    EXPECT_FALSE(PX418_GetMode(&mode));
    EXPECT_EQ(LastError(), "IO error: device not responding.");
    EXPECT_TRUE(Double().Pending(converter_).empty());

    Answer(PX418_CMD_GET_MODE, Frame(7, {0x00, 0x03}));
    EXPECT_TRUE(PX418_GetMode(&mode));
    EXPECT_EQ(mode, 3);
}

TEST_F(ExportsTest, ErrorTextAndAnswerAreaKeepTheirAddresses)
{
    const char *first = nullptr;
    const char **returned = PX418_GetLastError(&first);
    EXPECT_EQ(returned, &first);
    OpenScripted();
    Answer(Frame(8, {4}));
    EXPECT_FALSE(PX418_SetPar(0, 1, 2));
    const char *second = nullptr;
    PX418_GetLastError(&second);
    EXPECT_EQ(first, second);
    EXPECT_EQ(PX418_GetLastError(nullptr), nullptr);

    const unsigned char *a = nullptr;
    const unsigned char *b = nullptr;
    PX418_GetInfo(&a);
    PX418_GetInfo(&b);
    EXPECT_EQ(a, b);
}

TEST_F(ExportsTest, SearchSkipsConvertersThatAreNoGenerator)
{
    const int silent = Double().AddConverter(d2xxdouble::Silent());
    const int foreign = Double().AddConverter(d2xxdouble::Identity("FT232R USB UART"));
    const int generator = Double().AddConverter(d2xxdouble::Virtual(generator_));
    ASSERT_TRUE(PX418_OpenDevice());
    EXPECT_EQ(LastError(), "");
    EXPECT_FALSE(Double().IsOpen(silent));
    EXPECT_FALSE(Double().IsOpen(foreign));
    EXPECT_TRUE(Double().IsOpen(generator));

    // Per converter: open, the five settings, the info exchange; the two
    // that are no generator are closed again.
    const auto names = Double().CallNames();
    EXPECT_EQ(names.front(), "FT_ListDevices");
    EXPECT_EQ(std::count(names.begin(), names.end(), "FT_Open"), 3);
    EXPECT_EQ(std::count(names.begin(), names.end(), "FT_Close"), 2);
    for (const auto &call : Double().CallsOf("FT_SetBaudRate")) {
        EXPECT_EQ(call.args, std::vector<std::uint32_t>{38400});
    }
    for (int c : {silent, foreign, generator}) {
        EXPECT_EQ(Double().Written(c), (std::vector<Bytes>{{0xC0, 0x03, 0x00, 0xEB}}));
    }

    std::int32_t value = 0;
    EXPECT_TRUE(PX418_GetPar(0, 1, &value));
    EXPECT_EQ(value, 50000) << "the generator answers";
}

TEST_F(ExportsTest, SearchAcceptsOnlyTheIdentityPrefix)
{
    const struct {
        const char *answer;
        bool accepted;
    } cases[] = {
        {"PX-418", true},   {"PX-418 virtual generator", true},
        {"PX-4181", true},  {"PX-41", false},
        {"", false},        {"px-418", false},
        {" PX-418", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.answer);
        PX418_CloseDevice();
        ForgetTheBus();
        const int converter = Double().AddConverter(d2xxdouble::Identity(c.answer));
        EXPECT_EQ(PX418_OpenDevice(), c.accepted);
        EXPECT_EQ(Double().IsOpen(converter), c.accepted);
    }
}

TEST_F(ExportsTest, FailedSearchLeavesTheLastInfoExchangesText)
{
    const struct {
        const char *name;
        std::vector<d2xxdouble::Responder> converters;
        const char *text;
    } cases[] = {
        {"last one silent",
         {d2xxdouble::Identity("FT232R"), d2xxdouble::Identity("PX-4"), d2xxdouble::Silent()},
         "IO error: device not responding."},
        {"last one foreign",
         {d2xxdouble::Silent(), d2xxdouble::Identity("PX-4"), d2xxdouble::Identity("FT232R")},
         ""},
        {"last one refuses info", {d2xxdouble::AnswerFrame(1, {1})}, "IO error: invalid packet."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ForgetTheBus();
        for (const auto &responder : c.converters) {
            Double().AddConverter(responder);
        }
        EXPECT_FALSE(PX418_OpenDevice());
        EXPECT_EQ(LastError(), c.text);
        for (std::size_t i = 0; i < c.converters.size(); ++i) {
            EXPECT_FALSE(Double().IsOpen(static_cast<int>(i)));
        }
        EXPECT_EQ(Double().Count("FT_Close"), static_cast<int>(c.converters.size()));
        // Nothing open: commands succeed without I/O again.
        Double().ClearCalls();
        EXPECT_TRUE(PX418_SetMode(0));
        EXPECT_TRUE(Double().Calls().empty());
    }
}

TEST_F(ExportsTest, SearchWithoutInfoExchangeKeepsTheText)
{
    OpenScripted();
    Answer(Frame(6, {2}));
    ASSERT_FALSE(PX418_SetMode(1));
    ASSERT_TRUE(PX418_CloseDevice());

    const struct {
        const char *name;
        std::function<void()> arrange;
    } cases[] = {
        {"no converter", [] { ForgetTheBus(); }},
        {"count fails",
         [] {
             ForgetTheBus();
             Double().AddConverter(d2xxdouble::Identity("PX-418"));
             Double().FailCall("FT_ListDevices", FT_IO_ERROR);
         }},
        {"converter cannot be opened",
         [] {
             ForgetTheBus();
             Double().SetOpenable(Double().AddConverter(d2xxdouble::Identity("PX-418")), false);
         }},
        {"setup fails",
         [] {
             ForgetTheBus();
             Double().AddConverter(d2xxdouble::Identity("PX-418"));
             Double().FailCall("FT_SetBaudRate", FT_INVALID_BAUD_RATE);
         }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        c.arrange();
        EXPECT_FALSE(PX418_OpenDevice());
        EXPECT_EQ(LastError(), "Set mode error: device busy.");
        EXPECT_EQ(Double().Count("FT_Write"), 0);
    }
}

TEST_F(ExportsTest, SearchGoesOnAfterAConverterThatFailsSetup)
{
    const int first = Double().AddConverter(d2xxdouble::Identity("PX-418"));
    const int unopenable = Double().AddConverter(d2xxdouble::Identity("PX-418"));
    const int second = Double().AddConverter(d2xxdouble::Identity("PX-418"));
    Double().SetOpenable(unopenable, false);
    Double().FailCall("FT_Purge", FT_IO_ERROR);
    ASSERT_TRUE(PX418_OpenDevice());
    EXPECT_FALSE(Double().IsOpen(first));
    EXPECT_TRUE(Double().IsOpen(second));
    EXPECT_TRUE(Double().Written(first).empty()) << "no info request before a good setup";
    EXPECT_EQ(Double().Count("FT_Close"), 1) << "only the port that was opened is closed";
}

TEST_F(ExportsTest, OpenWhileOpenClosesOnceAndSearchesAgain)
{
    const int converter = Double().AddConverter(d2xxdouble::Virtual(generator_));
    ASSERT_TRUE(PX418_OpenDevice());
    const FT_HANDLE firstHandle = Double().CallsOf("FT_Open").at(0).handle;
    Double().ClearCalls();

    ASSERT_TRUE(PX418_OpenDevice());
    const auto closes = Double().CallsOf("FT_Close");
    ASSERT_EQ(closes.size(), 1u);
    EXPECT_EQ(closes[0].handle, firstHandle);
    EXPECT_EQ(closes[0].status, FT_OK);
    EXPECT_EQ(Double().CallNames().at(0), "FT_Close") << "closed before the new search";
    EXPECT_TRUE(Double().IsOpen(converter));

    // Exactly one handle is open now, and it is closed exactly once.
    EXPECT_TRUE(PX418_CloseDevice());
    EXPECT_TRUE(PX418_CloseDevice());
    EXPECT_EQ(Double().Count("FT_Close"), 2);
    for (const auto &call : Double().CallsOf("FT_Close")) {
        EXPECT_EQ(call.status, FT_OK);
    }
}

TEST_F(ExportsTest, CloseWithNothingOpen)
{
    EXPECT_TRUE(PX418_CloseDevice());
    EXPECT_EQ(Double().Count("FT_Close"), 0);
}

TEST_F(ExportsTest, FailedCloseStillForgetsTheDevice)
{
    OpenScripted();
    Answer(Frame(8, {4}));
    ASSERT_FALSE(PX418_SetPar(0, 1, 2));
    Double().FailCall("FT_Close", FT_IO_ERROR);
    EXPECT_FALSE(PX418_CloseDevice());
    EXPECT_EQ(LastError(), "Set parameter error: invalid parameters.") << "close keeps the text";
    Double().ClearCalls();
    EXPECT_TRUE(PX418_SetPar(0, 1, 2));
    EXPECT_TRUE(PX418_CloseDevice());
    EXPECT_TRUE(Double().Calls().empty());
}

TEST_F(ExportsTest, UnpluggedDeviceFailsCommands)
{
    OpenWith(d2xxdouble::Virtual(generator_));
    Double().SetPlugged(0, false);
    EXPECT_FALSE(PX418_SetMode(1));
    EXPECT_EQ(LastError(), "IO error: device not responding.");
    PX418_CloseDevice();
    EXPECT_FALSE(PX418_OpenDevice());
}

// Two threads share the device; the lock keeps every exchange whole, so the
// wire carries only whole frames and each call reads its own answer.
TEST_F(ExportsTest, ConcurrentCallsNeverInterleave)
{
    OpenWith(d2xxdouble::Virtual(generator_));
    generator_.ClearLog();
    constexpr int kRounds = 150;
    std::vector<int> failures(2, 0);
    auto worker = [&failures](int channel) {
        for (int i = 0; i < kRounds; ++i) {
            const std::int32_t value = 1000 * (channel + 1) + i;
            std::int32_t read = -1;
            if (!PX418_SetPar(channel, 0x81, value) || !PX418_GetPar(channel, 1, &read)
                || read != value) {
                ++failures[static_cast<std::size_t>(channel)];
            }
            std::int32_t mode = -1;
            if (!PX418_GetMode(&mode) || mode != 0) {
                ++failures[static_cast<std::size_t>(channel)];
            }
        }
    };
    std::thread a(worker, 0);
    std::thread b(worker, 1);
    a.join();
    b.join();
    EXPECT_EQ(failures, (std::vector<int>{0, 0}));

    const auto frames = generator_.FrameLog();
    EXPECT_EQ(frames.size(), static_cast<std::size_t>(2 * kRounds * 3));
    for (const auto &frame : frames) {
        ASSERT_TRUE(frame.valid);
    }
    const auto writes = Double().Written();
    EXPECT_EQ(writes.size(), frames.size());
    for (const Bytes &wire : writes) {
        ASSERT_TRUE(oracle::Decode(wire).valid);
    }
}

}  // namespace
