// Choice and loading of the converter driver behind the D2XX table.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "d2xx.h"
#include "d2xx_double.h"
#include "test_env.h"

namespace {

class ProviderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char *driver = std::getenv("PX418USB_DRIVER");
        saved_ = driver != nullptr ? std::string(driver) : std::string();
        hadDriver_ = driver != nullptr;
    }
    void TearDown() override
    {
        if (hadDriver_) {
            setenv("PX418USB_DRIVER", saved_.c_str(), 1);
        } else {
            unsetenv("PX418USB_DRIVER");
        }
        D2xxInstall(nullptr);
    }

    std::string saved_;
    bool hadDriver_ = false;
};

TEST_F(ProviderTest, InstallReplacesTheTableAndNullChoosesAgain)
{
    D2xxInstall(&d2xxdouble::Api());
    EXPECT_EQ(&D2xx(), &d2xxdouble::Api());

    setenv("PX418USB_DRIVER", "virtual", 1);
    D2xxInstall(nullptr);
    EXPECT_EQ(&D2xx(), D2xxVirtualProvider());
    EXPECT_EQ(&D2xx(), D2xxVirtualProvider()) << "chosen once, then kept";
}

TEST_F(ProviderTest, FirstChoiceIsMadeOnceAcrossThreads)
{
    setenv("PX418USB_DRIVER", "virtual", 1);
    D2xxInstall(nullptr);
    std::vector<const D2xxApi *> seen(8, nullptr);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < seen.size(); ++i) {
        threads.emplace_back([&seen, i] { seen[i] = &D2xx(); });
    }
    for (auto &t : threads) {
        t.join();
    }
    for (const D2xxApi *api : seen) {
        EXPECT_EQ(api, D2xxVirtualProvider());
    }
}

TEST_F(ProviderTest, LoadsADriverLibraryByPath)
{
    const char *why = nullptr;
    const D2xxApi *api = D2xxLoadLibrary(PX418_TEST_DOUBLE_LIBRARY, &why);
    ASSERT_NE(api, nullptr) << why;
    DWORD count = 99;
    EXPECT_EQ(api->ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
    EXPECT_EQ(count, 0u);
}

TEST_F(ProviderTest, ExplainsWhyALibraryCannotBeUsed)
{
    const struct {
        const char *library;
        const char *reason;
    } cases[] = {
        {"/nonexistent/libftd2xx.so", "/nonexistent/libftd2xx.so"},
#if defined(_WIN32)
        {"kernel32.dll", "does not export FT_ListDevices"},
#else
        {"libm.so.6", "does not export FT_ListDevices"},
#endif
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.library);
        const char *why = nullptr;
        EXPECT_EQ(D2xxLoadLibrary(c.library, &why), nullptr);
        ASSERT_NE(why, nullptr);
        EXPECT_NE(std::string(why).find(c.reason), std::string::npos) << why;
    }
}

TEST_F(ProviderTest, UnloadableDriverFailsEveryCallAndSaysSoOnce)
{
    setenv("PX418USB_DRIVER", "/nonexistent/libnothing.so", 1);
    D2xxInstall(nullptr);
    ::testing::internal::CaptureStderr();
    const D2xxApi &api = D2xx();
    DWORD count = 5;
    FT_HANDLE handle = reinterpret_cast<FT_HANDLE>(0x1);
    EXPECT_NE(api.ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
    EXPECT_NE(api.Open(0, &handle), FT_OK);
    EXPECT_EQ(handle, nullptr);
    DWORD moved = 7;
    unsigned char byte = 0;
    EXPECT_NE(api.Read(nullptr, &byte, 1, &moved), FT_OK);
    EXPECT_EQ(moved, 0u);
    EXPECT_NE(api.Write(nullptr, &byte, 1, &moved), FT_OK);
    EXPECT_NE(api.Close(nullptr), FT_OK);

    D2xxInstall(nullptr);  // a second choice fails the same way, silently
    EXPECT_NE(D2xx().ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);

    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("/nonexistent/libnothing.so"), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
}

TEST_F(ProviderTest, AChoiceOfConverterThatADriverCannotApplyIsSaidOnce)
{
    setenv("PX418USB_SERIAL", "A50285BI", 1);
    ::testing::internal::CaptureStderr();
    setenv("PX418USB_DRIVER", "virtual", 1);
    D2xxInstall(nullptr);
    EXPECT_EQ(&D2xx(), D2xxVirtualProvider());
    setenv("PX418USB_DRIVER", PX418_TEST_DOUBLE_LIBRARY, 1);
    D2xxInstall(nullptr);
    D2xx();
    const std::string err = ::testing::internal::GetCapturedStderr();
    unsetenv("PX418USB_SERIAL");
    EXPECT_NE(err.find("PX418USB_SERIAL is not applied by converter driver \"virtual\""),
              std::string::npos)
        << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
}

// A bare name is looked for where the system keeps libraries, never in the
// current folder, so that a library planted there is not loaded; a path to
// it is taken as given.
TEST_F(ProviderTest, ABareNameIsNeverLoadedFromTheCurrentFolder)
{
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path()
        / ("px418_planted_" + std::to_string(std::random_device{}()));
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::create_directories(folder);
#if defined(_WIN32)
    const std::string planted = "px418_planted_d2xx.dll";
#else
    const std::string planted = "libpx418_planted_d2xx.so";
#endif
    std::filesystem::copy_file(PX418_TEST_DOUBLE_LIBRARY, folder / planted);
    std::filesystem::current_path(folder);

    const char *why = nullptr;
    const D2xxApi *bare = D2xxLoadLibrary(planted.c_str(), &why);
    const std::string refusal = why != nullptr ? why : "";
    const D2xxApi *path = D2xxLoadLibrary(("./" + planted).c_str(), &why);

    std::filesystem::current_path(previous);
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);  // a loaded DLL stays where it is
    EXPECT_EQ(bare, nullptr);
    EXPECT_NE(refusal.find(planted), std::string::npos) << refusal;
    EXPECT_NE(path, nullptr) << why;
}

#if !defined(_WIN32)
// No converter (or no USB at all) must give a count or a failure, never a
// crash; handles that were never opened are refused.
TEST_F(ProviderTest, LibftdiCopesWithoutConverters)
{
    const char *why = nullptr;
    const D2xxApi *api = D2xxLibftdiProvider(&why);
    if (api == nullptr) {
        GTEST_SKIP() << "libusb unavailable here: " << why;
    }
    DWORD count = 0;
    const FT_STATUS counted = api->ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY);
    if (counted == FT_OK && count > 0) {
        GTEST_SKIP() << "converters are attached; not touching them";
    }

    FT_HANDLE handle = reinterpret_cast<FT_HANDLE>(0x1);
    EXPECT_NE(api->Open(0, &handle), FT_OK);
    EXPECT_EQ(handle, nullptr);
    EXPECT_NE(api->Open(-1, &handle), FT_OK);
    EXPECT_EQ(api->ListDevices(&count, nullptr, 0), FT_INVALID_PARAMETER);

    int notAPort = 0;
    unsigned char byte = 0;
    DWORD moved = 3;
    EXPECT_EQ(api->Read(&notAPort, &byte, 1, &moved), FT_INVALID_HANDLE);
    EXPECT_EQ(moved, 0u);
    EXPECT_EQ(api->Write(&notAPort, &byte, 1, &moved), FT_INVALID_HANDLE);
    EXPECT_EQ(api->SetTimeouts(&notAPort, 50, 200), FT_INVALID_HANDLE);
    EXPECT_EQ(api->Purge(&notAPort, 3), FT_INVALID_HANDLE);
    EXPECT_EQ(api->Close(&notAPort), FT_INVALID_HANDLE);
    EXPECT_EQ(api->Close(nullptr), FT_INVALID_HANDLE);
}
#endif

}  // namespace
