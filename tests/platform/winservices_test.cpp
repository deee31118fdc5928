// Window-system services: the single-instance lock, cursor counter and position, the key table,
// and the shell launch.
#include <SDL.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/win/instance_lock.h"
#include "platform/win/shellapi.h"
#include "platform/win/winuser.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Runs `body` in a child process and returns its exit status.
template <typename Body>
int InChild(Body body) {
  pid_t child = fork();
  if (child == 0) _exit(body());
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(InstanceLockTest, SecondHolderFailsUntilTheFirstReleases) {
  auto lockedInChild = [] { return InChild([] { return TKlvInstanceLock("KlvLockTestClass").Held() ? 1 : 0; }); };
  {
    TKlvInstanceLock first("KlvLockTestClass");
    ASSERT_TRUE(first.Held());
    EXPECT_FALSE(TKlvInstanceLock("KlvLockTestClass").Held());
    EXPECT_TRUE(TKlvInstanceLock("KlvOtherClass").Held());
    EXPECT_EQ(lockedInChild(), 0);
  }
  EXPECT_TRUE(TKlvInstanceLock("KlvLockTestClass").Held());
  EXPECT_EQ(lockedInChild(), 1);
}

// Each test has its own class name: CTest runs tests of this file side by side in separate processes.
TEST(InstanceLockTest, KernelReleasesTheLockOfAProcessThatDies) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t holder = fork();
  if (holder == 0) {
    TKlvInstanceLock lock("KlvDyingHolderClass");
    char held = lock.Held() ? 1 : 0;
    if (write(ready[1], &held, 1) != 1) _exit(2);
    pause();
    _exit(0);
  }
  char held = 0;
  ASSERT_EQ(read(ready[0], &held, 1), 1);
  EXPECT_EQ(held, 1);
  EXPECT_FALSE(TKlvInstanceLock("KlvDyingHolderClass").Held());
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  EXPECT_TRUE(TKlvInstanceLock("KlvDyingHolderClass").Held());
  close(ready[0]);
  close(ready[1]);
}

// Sets environment variables for one scope and puts the old values back.
class ScopedEnvironment {
 public:
  ScopedEnvironment(std::initializer_list<std::pair<const char*, const char*>> values) {
    for (const auto& [name, value] : values) {
      const char* old = getenv(name);
      saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
      if (value)
        setenv(name, value, 1);
      else
        unsetenv(name);
    }
  }
  ~ScopedEnvironment() {
    for (const auto& [name, value] : saved_) {
      if (value)
        setenv(name.c_str(), value->c_str(), 1);
      else
        unsetenv(name.c_str());
    }
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// A child forked without starting a program (SDL shows its message boxes from one) does not keep
// the lock: once the holder lets go, or ends, another holder takes it while the child lives on.
// Checked with the lock file in a runtime folder and with the socket used without.
TEST(InstanceLockTest, AForkedChildDoesNotKeepTheLock) {
  char pattern[] = "/tmp/klv_runtime_XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string runtime = pattern;
  for (const char* runtimeFolder : {runtime.c_str(), static_cast<const char*>(nullptr)}) {
    SCOPED_TRACE(runtimeFolder ? "lock file" : "socket");
    const ScopedEnvironment base(
        {{"XDG_RUNTIME_DIR", runtimeFolder}, {"DISPLAY", ":93"}, {"WAYLAND_DISPLAY", nullptr}});
    int running[2];
    ASSERT_EQ(pipe(running), 0);
    pid_t child = -1;
    {
      TKlvInstanceLock holder("KlvForkedChildClass");
      ASSERT_TRUE(holder.Held());
      child = fork();
      if (child == 0) {
        if (write(running[1], "r", 1) != 1) _exit(2);
        pause();
        _exit(0);
      }
      ASSERT_GT(child, 0);
      char byte = 0;
      ASSERT_EQ(read(running[0], &byte, 1), 1);  // the child's fork has returned
      EXPECT_FALSE(TKlvInstanceLock("KlvForkedChildClass").Held()) << "the holder still has it";
    }
    EXPECT_TRUE(TKlvInstanceLock("KlvForkedChildClass").Held()) << "the forked child kept the lock";
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    close(running[0]);
    close(running[1]);
  }
  fs::remove_all(runtime);
}

// The lock stands for a window search on one display by one user: another display (another X
// server, or a Wayland display) or another user has its own lock; another screen of the same X
// server does not. Checked with the lock file in a runtime folder and with the socket used without.
TEST(InstanceLockTest, OneLockPerUserAndDisplay) {
  char pattern[] = "/tmp/klv_runtime_XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string runtime = pattern;
  fs::permissions(runtime, fs::perms::all | fs::perms::sticky_bit);  // others may make their own lock
  for (const char* runtimeFolder : {runtime.c_str(), static_cast<const char*>(nullptr)}) {
    SCOPED_TRACE(runtimeFolder ? "lock file" : "socket");
    const ScopedEnvironment base(
        {{"XDG_RUNTIME_DIR", runtimeFolder}, {"DISPLAY", ":91"}, {"WAYLAND_DISPLAY", nullptr}});
    TKlvInstanceLock first("KlvScopeClass");
    ASSERT_TRUE(first.Held());
    {
      const ScopedEnvironment screen({{"DISPLAY", ":91.1"}});
      EXPECT_FALSE(TKlvInstanceLock("KlvScopeClass").Held());
    }
    {
      const ScopedEnvironment other({{"DISPLAY", ":92"}});
      EXPECT_TRUE(TKlvInstanceLock("KlvScopeClass").Held());
    }
    {
      const ScopedEnvironment wayland({{"DISPLAY", nullptr}, {"WAYLAND_DISPLAY", "wayland-91"}});
      TKlvInstanceLock onWayland("KlvScopeClass");
      EXPECT_TRUE(onWayland.Held());
      EXPECT_FALSE(TKlvInstanceLock("KlvScopeClass").Held());
    }
    EXPECT_EQ(InChild([] { return TKlvInstanceLock("KlvScopeClass").Held() ? 1 : 0; }), 0);
    if (geteuid() == 0) {  // another user on the same display
      EXPECT_EQ(InChild([] { return setuid(65534) == 0 && TKlvInstanceLock("KlvScopeClass").Held() ? 1 : 0; }), 1);
    }
  }
  fs::remove_all(runtime);
}

TEST(CursorTest, CounterHasTheWindowsMeaningAndPositionIsSettableWithoutDisplay) {
  int start = ShowCursor(TRUE) - 1;
  EXPECT_EQ(ShowCursor(FALSE), start);
  EXPECT_EQ(ShowCursor(FALSE), start - 1);
  EXPECT_EQ(ShowCursor(TRUE), start);
  ASSERT_TRUE(SetCursorPos(-3, 700));
  POINT p{};
  ASSERT_TRUE(GetCursorPos(&p));
  EXPECT_EQ(p.x, -3);
  EXPECT_EQ(p.y, 700);
  EXPECT_FALSE(GetCursorPos(nullptr));
}

TEST(KeyboardTest, TableFollowsKeysAndSidedModifiersSetTheNeutralCode) {
  KlvReleaseAllKeys();
  BYTE keys[256];
  KlvSetKeyState(VK_NUMPAD8, true);
  KlvSetKeyState(VK_LSHIFT, true);
  KlvSetKeyState(VK_RSHIFT, true);
  KlvSetKeyState(VK_LSHIFT, false);
  ASSERT_TRUE(GetKeyboardState(keys));
  EXPECT_TRUE(keys[VK_NUMPAD8] & kKeyDownBit);
  EXPECT_FALSE(keys[VK_NUMPAD2] & kKeyDownBit);
  EXPECT_FALSE(keys[VK_LSHIFT] & kKeyDownBit);
  EXPECT_TRUE(keys[VK_SHIFT] & kKeyDownBit);  // the right one is still down
  KlvSetKeyState(VK_RSHIFT, false);
  KlvSetKeyState(VK_NUMPAD8, false);
  ASSERT_TRUE(GetKeyboardState(keys));
  EXPECT_FALSE(keys[VK_SHIFT] & kKeyDownBit);
  EXPECT_FALSE(keys[VK_NUMPAD8] & kKeyDownBit);
  EXPECT_EQ(KlvMessageKey(VK_RCONTROL), VK_CONTROL);
  EXPECT_EQ(KlvMessageKey('A'), 'A');
}

TEST(KeyboardTest, PressesToggleBitZeroButRepeatsDoNot) {
  KlvReleaseAllKeys();
  BYTE keys[256];
  GetKeyboardState(keys);
  BYTE toggled = keys[VK_CAPITAL] & kKeyToggleBit;
  KlvSetKeyState(VK_CAPITAL, true);
  KlvSetKeyState(VK_CAPITAL, true);  // auto-repeat
  KlvSetKeyState(VK_CAPITAL, false);
  GetKeyboardState(keys);
  EXPECT_NE(keys[VK_CAPITAL] & kKeyToggleBit, toggled);
}

TEST(KeyboardTest, ScancodesMapToWindowsVirtualKeys) {
  EXPECT_EQ(KlvVirtualKeyFromScancode(SDL_SCANCODE_KP_2), VK_NUMPAD2);
  EXPECT_EQ(KlvVirtualKeyFromScancode(SDL_SCANCODE_KP_4), VK_NUMPAD4);
  EXPECT_EQ(KlvVirtualKeyFromScancode(SDL_SCANCODE_KP_6), VK_NUMPAD6);
  EXPECT_EQ(KlvVirtualKeyFromScancode(SDL_SCANCODE_KP_8), VK_NUMPAD8);
  EXPECT_EQ(KlvVirtualKeyFromScancode(SDL_SCANCODE_KP_0), VK_NUMPAD0);
  EXPECT_EQ(KlvVirtualKeyFromScancode(SDL_SCANCODE_KP_PLUS), VK_ADD);
  EXPECT_EQ(KlvVirtualKeyFromScancode(SDL_SCANCODE_A), 'A');
  EXPECT_EQ(KlvVirtualKeyFromScancode(SDL_SCANCODE_Z), 'Z');
  EXPECT_EQ(KlvVirtualKeyFromScancode(SDL_SCANCODE_0), '0');
  EXPECT_EQ(KlvVirtualKeyFromScancode(SDL_SCANCODE_9), '9');
  EXPECT_EQ(KlvVirtualKeyFromScancode(SDL_SCANCODE_F12), VK_F1 + 11);
  EXPECT_EQ(KlvVirtualKeyFromScancode(SDL_SCANCODE_UP), VK_UP);
  EXPECT_EQ(KlvVirtualKeyFromScancode(SDL_SCANCODE_RSHIFT), VK_RSHIFT);
  EXPECT_EQ(KlvVirtualKeyFromScancode(SDL_SCANCODE_UNKNOWN), 0);
}

class ShellExecuteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/klv_shell_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = fs::canonical(pattern);
    fs::create_directories(root_ / "data");
    // A program that records the folder it runs in and its arguments.
    std::ofstream(root_ / "data" / "settei.exe")
        << "#!/bin/sh\npwd > ran.txt\nfor a in \"$@\"; do echo \"$a\" >> ran.txt; done\n";
    fs::permissions(root_ / "data" / "settei.exe", fs::perms::owner_all);
  }
  void TearDown() override { fs::remove_all(root_); }

  // The recorded lines once the program has written them (within ten generous seconds).
  std::vector<std::string> Ran() {
    for (auto until = std::chrono::steady_clock::now() + 10s; std::chrono::steady_clock::now() < until;) {
      std::ifstream in(root_ / "data" / "ran.txt");
      std::vector<std::string> lines;
      for (std::string line; std::getline(in, line);) lines.push_back(line);
      if (!lines.empty() && lines.size() >= expectedLines_) return lines;
      std::this_thread::sleep_for(5ms);
    }
    return {};
  }

  fs::path root_;
  size_t expectedLines_ = 1;
};

TEST_F(ShellExecuteTest, OpenRunsTheFileFromAndInTheWorkingFolder) {
  std::string folder = (root_ / "data").string() + "/";
  EXPECT_GT(ShellExecuteA(nullptr, "open", "settei.exe", "", folder.c_str(), SW_SHOW), 32);
  auto lines = Ran();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], (root_ / "data").string());
}

TEST_F(ShellExecuteTest, ParametersArePassedAsWordsNotThroughAShell) {
  expectedLines_ = 5;
  std::string folder = (root_ / "data").string();
  EXPECT_GT(ShellExecuteA(nullptr, nullptr, "settei.exe", "one \"two words\" $(echo no)", folder.c_str(), SW_SHOW), 32);
  auto lines = Ran();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[1], "one");
  EXPECT_EQ(lines[2], "two words");
  EXPECT_EQ(lines[3], "$(echo");
  EXPECT_EQ(lines[4], "no)");
}

TEST_F(ShellExecuteTest, EmptyWorkingFolderMeansTheCurrentFolder) {
  fs::path saved = fs::current_path();
  fs::current_path(root_ / "data");
  HINSTANCE result = ShellExecuteA(nullptr, "open", "settei.exe", "", "", SW_SHOW);
  fs::current_path(saved);
  EXPECT_GT(result, 32);
  auto lines = Ran();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], (root_ / "data").string());
}

TEST_F(ShellExecuteTest, FailuresReturnWindowsErrorCodes) {
  std::string folder = (root_ / "data").string();
  EXPECT_EQ(ShellExecuteA(nullptr, "open", "missing.exe", "", folder.c_str(), SW_SHOW), SE_ERR_FNF);
  EXPECT_EQ(ShellExecuteA(nullptr, "open", "settei.exe", "", (root_ / "nowhere").c_str(), SW_SHOW), SE_ERR_PNF);
  EXPECT_EQ(ShellExecuteA(nullptr, "print", "settei.exe", "", folder.c_str(), SW_SHOW), SE_ERR_NOASSOC);
  std::ofstream(root_ / "data" / "plain.txt") << "not a program\n";
  EXPECT_EQ(ShellExecuteA(nullptr, "open", "plain.txt", "", folder.c_str(), SW_SHOW), SE_ERR_ACCESSDENIED);
  EXPECT_EQ(ShellExecuteA(nullptr, "open", "", "", folder.c_str(), SW_SHOW), SE_ERR_FNF);
}

}  // namespace
