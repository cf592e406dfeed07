// The exports through the C header, in libpx418usb.so, with the recording
// double loaded as the converter driver by its path: what the test programs
// of the exports share. Include it from one source file per program.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "d2xx_double.h"
#include "px418usb.h"
#include "test_env.h"
#include "virtual/virtual_generator.h"

namespace {

using d2xxdouble::Bytes;

// The driver is chosen at the library's first need: name the double before
// any test runs.
const bool driverNamed = [] {
    setenv("PX418USB_DRIVER", PX418_TEST_DOUBLE_LIBRARY, 1);
    return true;
}();

d2xxdouble::D2xxDouble &Double()
{
    return d2xxdouble::Instance();
}

std::string LastError()
{
    const char *text = nullptr;
    PX418_GetLastError(&text);
    return text != nullptr ? text : "<null>";
}

// Takes every converter off the double's bus and lets a search see the
// empty bus, so that the next search remembers nothing of the converters
// that were there (it probes each converter again).
void ForgetTheBus()
{
    Double().Reset();
    PX418_OpenDevice();
    Double().Reset();
}

Bytes Frame(std::uint8_t command, const Bytes &data)
{
    return oracle::Encode(command, data);
}

class ExportsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(driverNamed);
        PX418_CloseDevice();
        Double().Reset();
        generator_.Reset();
    }
    void TearDown() override { PX418_CloseDevice(); }

    // One converter with this responder, opened by the search; the calls of
    // the search are forgotten.
    void OpenWith(d2xxdouble::Responder responder)
    {
        Double().AddConverter(std::move(responder));
        ASSERT_TRUE(PX418_OpenDevice()) << LastError();
        Double().ClearCalls();
    }

    // A converter that answers the search's info request like a generator,
    // then whatever the test scripts.
    void OpenScripted()
    {
        converter_ = Double().AddConverter(d2xxdouble::Identity("PX-418"));
        ASSERT_TRUE(PX418_OpenDevice()) << LastError();
        Double().SetResponder(converter_, d2xxdouble::Silent());
        Double().ClearCalls();
    }

    void Answer(const Bytes &wire) { Double().SetResponder(converter_, d2xxdouble::Fixed(wire)); }
    // Requests with `command` get `wire`; any other gets an answer of its own.
    void Answer(std::uint8_t command, const Bytes &wire)
    {
        Double().SetResponder(converter_, d2xxdouble::AnswerTo(command, wire));
    }

    int converter_ = -1;
    px418virtual::VirtualGenerator generator_;
};

}  // namespace
