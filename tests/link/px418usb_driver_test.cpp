// libpx418usb.so with a converter driver that cannot be loaded.
#include <algorithm>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "px418usb.h"
#include "test_env.h"

namespace {

TEST(DriverMissingTest, OpenFailsWithOneLineOnStandardError)
{
    setenv("PX418USB_DRIVER", "/nonexistent/libftd2xx-missing.so", 1);
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(PX418_OpenDevice());
    EXPECT_FALSE(PX418_OpenDevice());
    // Nothing is open, so commands still succeed without I/O.
    EXPECT_TRUE(PX418_SetMode(0));
    EXPECT_TRUE(PX418_CloseDevice());
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_NE(err.find("/nonexistent/libftd2xx-missing.so"), std::string::npos) << err;
}

}  // namespace
