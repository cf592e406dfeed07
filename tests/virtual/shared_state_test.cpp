// The virtual generator's state file: its text form, what the parse refuses,
// and the virtual converter meeting the generator the file holds.
#include "virtual/shared_state.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "d2xx.h"
#include "px418_protocol.h"
#include "test_env.h"
#include "virtual/virtual_generator.h"
#include "wake_oracle.h"

using px418virtual::DeviceState;
using px418virtual::ParseStateText;
using px418virtual::StateText;
using px418virtual::TheVirtualGenerator;

namespace {

DeviceState Changed()
{
    DeviceState s = DeviceState::PowerOn();
    s.outputs[1][1] = 3000000;
    s.active[2][2] = -3600;
    s.calibration = {-999, 999, 5, 0};
    s.storedCalibration = {1, 2, 3, 4};
    s.contrast = 127;
    s.mode = 1;
    s.presets[9][0] = {1, 1, 1, 1};
    s.presetStored = 9;
    s.presetLoaded = 3;
    s.selectedGroup = 4;
    s.selectedNumber = 2;
    return s;
}

bool SameLasting(const DeviceState &a, const DeviceState &b)
{
    return a.outputs == b.outputs && a.active == b.active && a.calibration == b.calibration
           && a.storedCalibration == b.storedCalibration && a.contrast == b.contrast
           && a.mode == b.mode && a.presets == b.presets && a.presetStored == b.presetStored
           && a.presetLoaded == b.presetLoaded && a.selectedGroup == b.selectedGroup
           && a.selectedNumber == b.selectedNumber;
}

// The text with the line that starts with `key` replaced.
std::string WithLine(const std::string &key, const std::string &line)
{
    std::istringstream in(StateText(DeviceState::PowerOn()));
    std::string out, each;
    while (std::getline(in, each)) {
        out += (each.rfind(key + " ", 0) == 0 ? line : each) + "\n";
    }
    return out;
}

TEST(SharedStateTextTest, RoundTripKeepsTheLastingStateAndNotTheCounters)
{
    DeviceState into = DeviceState::PowerOn();
    into.beeps = 7;
    into.settingsConfirmed = 2;
    ASSERT_TRUE(ParseStateText(StateText(Changed()), into));
    EXPECT_TRUE(SameLasting(into, Changed()));
    EXPECT_EQ(into.beeps, 7);
    EXPECT_EQ(into.settingsConfirmed, 2);
}

TEST(SharedStateTextTest, RefusesAnythingElseAndLeavesTheStateAlone)
{
    const std::string good = StateText(DeviceState::PowerOn());
    const struct {
        const char *what;
        std::string text;
    } cases[] = {
        {"empty", ""},
        {"another header", "PX-418 virtual generator state 2\n" + good.substr(good.find('\n') + 1)},
        {"cut short", good.substr(0, good.size() / 2)},
        {"trailing text", good + "more\n"},
        {"frequency above range", WithLine("outputs", "outputs 0 3000001 0 1000 0 50000 -1200 1000 "
                                                      "0 50000 1200 1000")},
        {"mode 2",
         WithLine("active", "active 2 50000 0 1000 0 50000 -1200 1000 0 50000 1200 1000")},
        {"a value missing", WithLine("outputs", "outputs 0 50000 0 1000")},
        {"a word for a number", WithLine("contrast", "contrast many")},
        {"number glued to text", WithLine("contrast", "contrast 44x")},
        {"contrast 128", WithLine("contrast", "contrast 128")},
        {"calibration 1000", WithLine("calibration", "calibration 1000 0 0 0")},
        {"beyond 32 bits", WithLine("contrast", "contrast 4294967340")},
        {"preset slot 10", WithLine("preset-stored", "preset-stored 10")},
        {"a preset amplitude 1001",
         WithLine("preset4", "preset4 0 50000 0 1001 0 50000 -1200 1000 0 50000 1200 1000")},
        {"selection without a value", WithLine("selected", "selected 4 0")},
        {"mode byte 256", WithLine("mode", "mode 256")},
    };
    for (const auto &c : cases) {
        DeviceState state = Changed();
        EXPECT_FALSE(ParseStateText(c.text, state)) << c.what;
        EXPECT_TRUE(SameLasting(state, Changed())) << c.what;
    }
}

class SharedStateExchangeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        path_ = std::filesystem::temp_directory_path()
                / ("px418_shared_state_" + std::to_string(::getpid()));
        std::filesystem::remove(path_);
        ::setenv(px418virtual::kSharedStateVariable, path_.string().c_str(), 1);
        Restart();
    }
    void TearDown() override
    {
        ::unsetenv(px418virtual::kSharedStateVariable);
        std::filesystem::remove(path_);
        std::filesystem::remove(path_.string() + ".lock");
        std::filesystem::remove_all(dir_);
        Restart();
    }
    // A folder of the test's own, for names of every kind.
    std::filesystem::path Folder()
    {
        dir_ = path_.string() + ".d";
        std::filesystem::create_directories(dir_);
        return dir_;
    }
    // What another process meets: a generator in its power-on state.
    void Restart()
    {
        TheVirtualGenerator().Reset();
        px418virtual::ResetVirtualConverter();
    }
    // One request through the virtual converter: the write's status, and
    // the answer's bytes.
    FT_STATUS Send(const oracle::Bytes &request, oracle::Bytes &answer)
    {
        FT_HANDLE h = nullptr;
        EXPECT_EQ(api_.Open(0, &h), FT_OK);
        oracle::Bytes bytes = request;
        DWORD n = 0;
        const FT_STATUS status = api_.Write(h, bytes.data(), DWORD(bytes.size()), &n);
        std::uint8_t buffer[256];
        EXPECT_EQ(api_.Read(h, buffer, sizeof buffer, &n), FT_OK);
        api_.Close(h);
        answer.assign(buffer, buffer + n);
        return status;
    }
    oracle::Bytes Exchange(const oracle::Bytes &request)
    {
        oracle::Bytes answer;
        EXPECT_EQ(Send(request, answer), FT_OK);
        return answer;
    }
    // Points the variable at another name.
    void Name(const std::filesystem::path &path)
    {
        path_ = path;
        ::setenv(px418virtual::kSharedStateVariable, path_.string().c_str(), 1);
    }
    std::string FileText() { return FileText(path_); }
    static std::string FileText(const std::filesystem::path &path)
    {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::filesystem::path path_;
    std::filesystem::path dir_;
    const D2xxApi &api_ = *D2xxVirtualProvider();
};

const oracle::Bytes kSetA1000 =
    oracle::SetPar(PX418_GROUP_OUT_A, PX418_OUT_FREQUENCY | PX418_FLAG_TAKE_EFFECT, 1000);

TEST_F(SharedStateExchangeTest, AWriteIsSeenByTheNextProcess)
{
    Exchange(
        oracle::SetPar(PX418_GROUP_OUT_B, PX418_OUT_FREQUENCY | PX418_FLAG_TAKE_EFFECT, 60500));
    Restart();
    EXPECT_EQ(TheVirtualGenerator().State().outputs[1][1], 50000);
    const oracle::Bytes answer = Exchange(oracle::GetPar(PX418_GROUP_OUT_B, PX418_OUT_FREQUENCY));
    EXPECT_EQ(TheVirtualGenerator().State().active[1][1], 60500);
    const auto decoded = oracle::DecodeOnly(answer);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(oracle::FromLe32(decoded->data, 1), 60500);
}

TEST_F(SharedStateExchangeTest, AChangeReplacesTheFileWholeAndAReadLeavesItAlone)
{
    // Another name of the file as it stands: a replaced file keeps it, a
    // rewritten one would change under it.
    const auto other = Folder() / "other-name";
    const auto nameTheFile = [&] {
        std::filesystem::remove(other);
        std::filesystem::create_hard_link(path_, other);
    };
    Exchange(oracle::SetPar(PX418_GROUP_OUT_A, PX418_OUT_FREQUENCY | PX418_FLAG_TAKE_EFFECT, 1000));
    // A process killed while writing must leave the earlier state whole: the
    // new state goes to a file of its own that replaces the old one.
    const std::string first = FileText();
    nameTheFile();
    Exchange(oracle::SetPar(PX418_GROUP_OUT_A, PX418_OUT_FREQUENCY | PX418_FLAG_TAKE_EFFECT, 2000));
    EXPECT_EQ(FileText(other), first);
    EXPECT_FALSE(std::filesystem::equivalent(path_, other));
    EXPECT_FALSE(std::filesystem::exists(path_.string() + ".new"));
    DeviceState read = DeviceState::PowerOn();
    ASSERT_TRUE(ParseStateText(FileText(), read));
    EXPECT_EQ(read.active[0][1], 2000);

    nameTheFile();
    Exchange(oracle::GetPar(PX418_GROUP_OUT_A, PX418_OUT_FREQUENCY));
    EXPECT_TRUE(std::filesystem::equivalent(path_, other));
}

TEST_F(SharedStateExchangeTest, AnExchangeWaitsForTheOneThatHoldsTheFile)
{
    // The lock holds across processes, and so between two exchanges of one
    // process too: the second loads the generator only once the first has
    // stored its change.
    px418virtual::VirtualGenerator first;
    px418virtual::VirtualGenerator second;
    std::atomic<bool> loaded{false};
    std::thread waiting;
    {
        px418virtual::SharedStateExchange holding(first);
        waiting = std::thread([&] {
            px418virtual::SharedStateExchange exchange(second);
            loaded = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_FALSE(loaded);
        first.Receive(kSetA1000.data(), kSetA1000.size());
        EXPECT_TRUE(holding.Store());
    }
    waiting.join();
    EXPECT_EQ(second.State().active[0][1], 1000);
}

TEST_F(SharedStateExchangeTest, AFileThatIsNotAStateFileIsLeftAlone)
{
    {
        std::ofstream out(path_);
        out << "[OUT A]\nF=50000\n";
    }
    Exchange(oracle::SetPar(PX418_GROUP_OUT_A, PX418_OUT_FREQUENCY | PX418_FLAG_TAKE_EFFECT, 1000));
    EXPECT_EQ(FileText(), "[OUT A]\nF=50000\n");
    EXPECT_EQ(TheVirtualGenerator().State().active[0][1], 1000);  // still works in-process
}

TEST_F(SharedStateExchangeTest, WithoutTheVariableNothingIsKept)
{
    ::unsetenv(px418virtual::kSharedStateVariable);
    Exchange(oracle::SetPar(PX418_GROUP_OUT_A, PX418_OUT_FREQUENCY | PX418_FLAG_TAKE_EFFECT, 1000));
    EXPECT_FALSE(std::filesystem::exists(path_));
    Restart();
    Exchange(oracle::GetPar(PX418_GROUP_OUT_A, PX418_OUT_FREQUENCY));
    EXPECT_EQ(TheVirtualGenerator().State().active[0][1], 50000);
}

TEST_F(SharedStateExchangeTest, ANameOfAnotherKindIsLeftAloneUnopened)
{
    // A pipe would block an open for reading, and a device must never be
    // replaced: neither is opened or written, and nothing is made beside
    // them. The generator goes on in this process, with one line said.
    const auto folder = Folder();
    const auto sub = folder / "folder.state";
    std::filesystem::create_directory(sub);
#if defined(_WIN32)
    // Names that the system takes for a device or a pipe, whatever is on
    // the disk.
    const std::vector<std::filesystem::path> names = {sub, folder / "nul.state", folder / "COM9",
                                                      "\\\\.\\pipe\\px418.state"};
    const std::ptrdiff_t entries = 1;
#else
    const auto pipe = folder / "pipe.state";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const auto link = folder / "link-to-pipe.state";
    std::filesystem::create_symlink(pipe, link);
    const std::vector<std::filesystem::path> names = {sub, pipe, link};
    const std::ptrdiff_t entries = 3;
#endif
    testing::internal::CaptureStderr();
    for (const auto &name : names) {
        SCOPED_TRACE(name);
        Restart();
        Name(name);
        Exchange(kSetA1000);
        EXPECT_EQ(TheVirtualGenerator().State().active[0][1], 1000);
    }
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("folder.state\" is not a regular file; it is left alone"),
              std::string::npos)
        << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_TRUE(std::filesystem::is_empty(sub));
#if !defined(_WIN32)
    EXPECT_TRUE(std::filesystem::is_fifo(pipe));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
#endif
    // Nothing was made beside them.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder),
                            std::filesystem::directory_iterator()),
              entries);
}

#if !defined(_WIN32)
TEST_F(SharedStateExchangeTest, ALinkIsFollowedSoThatBothNamesMeetOneGenerator)
{
    // The link's target does not exist yet: the first change makes it.
    const auto folder = Folder();
    const auto target = folder / "real.state";
    std::filesystem::create_symlink("real.state", folder / "link.state");
    Name(folder / "link.state");
    Exchange(kSetA1000);
    Exchange(oracle::SetPar(PX418_GROUP_OUT_A, PX418_OUT_FREQUENCY | PX418_FLAG_TAKE_EFFECT, 2000));
    EXPECT_TRUE(std::filesystem::is_symlink(folder / "link.state"));
    EXPECT_TRUE(std::filesystem::is_regular_file(target));
    EXPECT_TRUE(std::filesystem::exists(folder / "real.state.lock"));

    Restart();
    Name(target);
    Exchange(oracle::GetPar(PX418_GROUP_OUT_A, PX418_OUT_FREQUENCY));
    EXPECT_EQ(TheVirtualGenerator().State().active[0][1], 2000);
}
#endif

TEST_F(SharedStateExchangeTest, AChangeThatCannotReachTheFileFailsAndAReadIsAnswered)
{
    const auto folder = Folder();
    const auto file = folder / "g.state";
    const struct {
        const char *what;
        std::filesystem::path name;
        std::function<void()> spoil;
    } cases[] = {
        // Kinds of trouble that hold for every user, root included.
        {"the lock file is a folder", file,
         [&] {
             std::filesystem::remove(file.string() + ".lock");
             std::filesystem::create_directory(file.string() + ".lock");
         }},
        {"the name lies under a regular file", file / "under.state", [] {}},
        {"the new file cannot be made", file,
         [&] { std::filesystem::create_directories(file.string() + ".new/x"); }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        Name(file);
        Restart();
        Exchange(oracle::SetPar(PX418_GROUP_OUT_B, PX418_OUT_PHASE | PX418_FLAG_TAKE_EFFECT, 50));
        const std::string kept = FileText(file);
        c.spoil();
        Name(c.name);

        oracle::Bytes answer;
        EXPECT_EQ(Send(kSetA1000, answer), FT_IO_ERROR);
        EXPECT_TRUE(answer.empty());
        // The generator did not take it, in this process either.
        EXPECT_EQ(TheVirtualGenerator().State().active[0][1], 50000);
        EXPECT_EQ(FileText(file), kept);
        EXPECT_EQ(Send(oracle::GetPar(PX418_GROUP_OUT_A, PX418_OUT_FREQUENCY), answer), FT_OK);
        EXPECT_TRUE(oracle::DecodeOnly(answer).has_value());
    }
}

}  // namespace
