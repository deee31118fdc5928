// The first command-line argument: which arguments start the saver, which launch the settings
// program (from the data folder, else the current folder, else a message) and which close at
// once; and the single-instance rule of the program entry, in every mode.
#include <spawn.h>
#include <sys/wait.h>

#include <fstream>

#include "platform/win/instance_lock.h"
#include "saver_fixture.h"
#include "shell/program.h"

extern char** environ;

namespace {

const std::string kFakeSettings = std::string(KLV_TEST_BIN_DIR) + "/fake_settei";
const std::string kSaverProgram = std::string(KLV_TEST_BIN_DIR) + "/../kalvor_saver";

void PlaceSettingsProgram(const std::filesystem::path& folder) {
  std::filesystem::copy_file(kFakeSettings, folder / "settei.exe");
}

// Waits up to ten seconds for the settings program's marker in `folder`; returns its content.
std::string WaitForLaunch(const std::filesystem::path& folder) {
  for (auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
       std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
    std::ifstream marker(folder / "settei-ran");
    if (marker) return std::string(std::istreambuf_iterator<char>(marker), {});
  }
  return "";
}

class SaverArgumentTest : public SaverTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(SaverArgumentTest, StartsTheSaver) {
  TKalvorGSaver& s = Start(GetParam());
  EXPECT_TRUE(s.Running);
  EXPECT_FALSE(s.QuitAfterBegin);
  EXPECT_FALSE(application->Terminated());
  EXPECT_TRUE(DisplayUp());
  EXPECT_TRUE(s.Settings.CheckBox5);
  EXPECT_TRUE(s.KalvorG1.FullScreen());
  const KlvWindowSettings& form = window->Settings();
  EXPECT_EQ(form.clientWidth, 640);
  EXPECT_EQ(form.clientHeight, 480);
  EXPECT_TRUE(form.stayOnTop);
  EXPECT_FALSE(form.border);
  EXPECT_EQ(form.left, 0);
  EXPECT_EQ(form.top, 0);
  EXPECT_TRUE(form.visible);
  EXPECT_TRUE(Idle(16));
  EXPECT_EQ(window->PresentCount(), 1);
  EXPECT_EQ(window->FrameWidth(), 640);
  EXPECT_EQ(window->FrameHeight(), 480);
  EXPECT_TRUE(boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(SaverMode, SaverArgumentTest, ::testing::Values("", "/s", "/S", "-s", "-S"));

class ClosingArgumentTest : public SaverTest, public ::testing::WithParamInterface<const char*> {};

// Only the whole argument counts, so these close at once: no message, no display, no window.
TEST_P(ClosingArgumentTest, ClosesAtOnceWithoutAMessage) {
  const std::filesystem::path data = Folder("data");
  PlaceSettingsProgram(data);
  SetDataPath(data.string() + "/");
  TKalvorGSaver& s = Start(GetParam());
  EXPECT_TRUE(application->Terminated());
  EXPECT_TRUE(s.QuitAfterBegin);
  EXPECT_FALSE(s.Running);
  EXPECT_FALSE(DisplayUp());
  EXPECT_FALSE(window->Settings().visible);
  EXPECT_EQ(window->PresentCount(), 0);
  EXPECT_TRUE(boxes.empty());
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(std::filesystem::exists(data / "settei-ran"));
  // Begin hides the cursor in every mode; nothing shows it again before the process ends.
  EXPECT_EQ(CursorCount(), cursorAtStart - 1);
}

INSTANTIATE_TEST_SUITE_P(OtherArguments, ClosingArgumentTest,
                         ::testing::Values("/s:1", "/sx", "/p", "/P", "s", "/s ", "--s", "/a"));

class ConfigurationTest : public SaverTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(ConfigurationTest, LaunchesTheSettingsProgramFromTheDataFolder) {
  const std::filesystem::path data = Folder("data");
  PlaceSettingsProgram(data);
  SetDataPath(data.string() + "/");
  TKalvorGSaver& s = Start(GetParam());
  EXPECT_TRUE(application->Terminated());
  EXPECT_FALSE(DisplayUp());
  EXPECT_EQ(WaitForLaunch(data), data.string());
  EXPECT_EQ(s.DataPath, data.string() + "/");
  EXPECT_TRUE(boxes.empty());
}

TEST_P(ConfigurationTest, FallsBackToTheCurrentFolder) {
  const std::filesystem::path current = Folder("current");
  PlaceSettingsProgram(current);
  SetDataPath(Folder("empty").string() + "/");
  std::filesystem::current_path(current);
  TKalvorGSaver& s = Start(GetParam());
  EXPECT_TRUE(application->Terminated());
  EXPECT_EQ(WaitForLaunch(current), current.string());
  EXPECT_EQ(s.DataPath, "");
  EXPECT_TRUE(boxes.empty());
}

TEST_P(ConfigurationTest, ShowsTheMessageWhenTheSettingsProgramIsNowhere) {
  SetDataPath(Folder("empty").string() + "/");
  std::filesystem::current_path(Folder("current"));
  Start(GetParam());
  EXPECT_TRUE(application->Terminated());
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0], Box(kSettingsMissingText, kErrorCaption));
}

// A substring test: any argument holding one of the four switches.
INSTANTIATE_TEST_SUITE_P(Switches, ConfigurationTest, ::testing::Values("/c", "/c:1234", "x-Cy", "-c", "a/Cb"));

// Takes the single-instance lock, waiting while another saver of this user (the window check) holds it.
std::unique_ptr<TKlvInstanceLock> HoldInstanceLock() {
  for (auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);;) {
    auto lock = std::make_unique<TKlvInstanceLock>(kSaverWindowClass);
    if (lock->Held() || std::chrono::steady_clock::now() > until) return lock;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

TEST_F(SaverTest, ASecondInstanceExitsAtOnceInEveryMode) {
  const std::filesystem::path data = Folder("data");
  PlaceSettingsProgram(data);
  SetDataPath(data.string() + "/");
  const auto lock = HoldInstanceLock();
  ASSERT_TRUE(lock->Held());
  for (const char* argument : {"/c", "/s", "/p"}) {
    char program[] = "kalvor_saver";
    std::string arg = argument;
    char* argv[] = {program, arg.data(), nullptr};
    EXPECT_EQ(RunSaverProgram(2, argv), 0) << argument;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(std::filesystem::exists(data / "settei-ran"));
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(CursorCount(), cursorAtStart);
}

// The program itself, started as a separate process while this one holds the lock.
TEST_F(SaverTest, TheSaverProgramExitsAtOnceWhileAnotherRuns) {
  const std::filesystem::path data = Folder("data");
  PlaceSettingsProgram(data);
  SetDataPath(data.string() + "/");
  const auto lock = HoldInstanceLock();
  ASSERT_TRUE(lock->Held());
  for (const char* argument : {"/c", "/s"}) {
    std::string program = kSaverProgram, arg = argument;
    char* argv[] = {program.data(), arg.data(), nullptr};
    pid_t pid = 0;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ), 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << argument;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << argument;
  }
  EXPECT_FALSE(std::filesystem::exists(data / "settei-ran"));
}

}  // namespace
