// The registry stand-in: file location, exact round trips, defaults, damaged files that are never
// rewritten, lines kept through rewrites, the size limit, symbolic links and concurrent writers.
#include "platform/win/registry.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/error.h"

namespace {

namespace fs = std::filesystem;

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/klv_registry_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    setenv("KLV_CONFIG_DIR", (root_ / "config").c_str(), 1);
  }
  void TearDown() override {
    unsetenv("KLV_CONFIG_DIR");
    fs::remove_all(root_);
  }
  void WriteFile(const std::string& text) {
    fs::create_directories(root_ / "config");
    std::ofstream(root_ / "config" / "Software_Kalvor_Soft.ini", std::ios::binary) << text;
  }

  std::string FileText() const {
    std::ifstream in(root_ / "config" / "Software_Kalvor_Soft.ini", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // Files in the settings folder other than the writers' lock file.
  size_t FilesBesideTheLock() const {
    size_t files = 0;
    for (const auto& entry : fs::directory_iterator(root_ / "config")) files += entry.path().extension() != ".lock";
    return files;
  }

  fs::path root_;
};

TEST_F(RegistryTest, FileIsNamedAfterTheKeyInTheConfiguredFolder) {
  TRegIniFile reg("Software\\Kalvor_Soft");
  EXPECT_EQ(reg.FileName(), (root_ / "config" / "Software_Kalvor_Soft.ini").string());
}

TEST_F(RegistryTest, FolderFallsBackToXdgConfigHome) {
  unsetenv("KLV_CONFIG_DIR");
  std::string saved = getenv("XDG_CONFIG_HOME") ? getenv("XDG_CONFIG_HOME") : "";
  setenv("XDG_CONFIG_HOME", root_.c_str(), 1);
  TRegIniFile reg("Software\\Kalvor_Soft");
  EXPECT_EQ(reg.FileName(), (root_ / "kalvor" / "Software_Kalvor_Soft.ini").string());
  if (saved.empty())
    unsetenv("XDG_CONFIG_HOME");
  else
    setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
}

TEST_F(RegistryTest, MissingFileSectionOrValueReadsAsDefault) {
  TRegIniFile reg("Software\\Kalvor_Soft");
  EXPECT_EQ(reg.ReadString("KalvorGSaver", "DataPath", ""), "");
  EXPECT_EQ(reg.ReadInteger("KalvorG", "D3D_Device", -5), -5);
  reg.WriteString("KalvorG", "Other", "x");
  TRegIniFile again("Software\\Kalvor_Soft");
  EXPECT_EQ(again.ReadString("KalvorG", "DataPath", "dflt"), "dflt");
  EXPECT_EQ(again.ReadString("KalvorGSaver", "Other", "dflt"), "dflt");
}

TEST_F(RegistryTest, ValuesReadBackExactlyInANewlyOpenedKey) {
  const std::string awkward[] = {
      "/home/user/data/", "C:\\data\\", "  padded  ", "a=b;c#d[e]", "line1\nline2\r", std::string("nul\0inside", 10),
      "\\x41 is not A",   "",           "日本語"};
  {
    TRegIniFile reg("Software\\Kalvor_Soft");
    for (size_t i = 0; i < std::size(awkward); ++i) reg.WriteString("Sec", "v" + std::to_string(i), awkward[i]);
    reg.WriteString(" [odd=sec] ", " ;odd=name ", "v");
    reg.WriteInteger("KalvorG", "D3D_Device", -4);
  }
  TRegIniFile reg("Software\\Kalvor_Soft");
  for (size_t i = 0; i < std::size(awkward); ++i)
    EXPECT_EQ(reg.ReadString("Sec", "v" + std::to_string(i), "dflt"), awkward[i]) << i;
  EXPECT_EQ(reg.ReadString(" [odd=sec] ", " ;odd=name ", "dflt"), "v");
  EXPECT_EQ(reg.ReadInteger("KalvorG", "D3D_Device", 0), -4);
}

TEST_F(RegistryTest, WritesKeepValuesAnotherWriterStoredMeanwhile) {
  TRegIniFile first("Software\\Kalvor_Soft");
  TRegIniFile second("Software\\Kalvor_Soft");
  first.WriteInteger("KalvorG", "DDraw_Device", 1);
  second.WriteInteger("KalvorG", "D3D_Device", 2);
  TRegIniFile reg("Software\\Kalvor_Soft");
  EXPECT_EQ(reg.ReadInteger("KalvorG", "DDraw_Device", 0), 1);
  EXPECT_EQ(reg.ReadInteger("KalvorG", "D3D_Device", 0), 2);
}

TEST_F(RegistryTest, OnlyWholeDecimalNumbersReadAsIntegers) {
  WriteFile(
      "[S]\nhex=0x10\ndollar=$10\nfloat=1.5\ntrail=12abc\nspace=1 2\nbig=99999999999\nempty=\n"
      "plus=+7\nneg=-2147483648\nsign=-\nok= 42 \n");
  TRegIniFile reg("Software\\Kalvor_Soft");
  for (const char* name : {"hex", "dollar", "float", "trail", "space", "big", "empty", "sign"})
    EXPECT_EQ(reg.ReadInteger("S", name, -9), -9) << name;
  EXPECT_EQ(reg.ReadInteger("S", "plus", 0), 7);
  EXPECT_EQ(reg.ReadInteger("S", "neg", 0), -2147483647 - 1);
  EXPECT_EQ(reg.ReadInteger("S", "ok", 0), 42);
}

TEST_F(RegistryTest, MalformedLinesAreSkippedAndTheRestIsRead) {
  WriteFile(
      "orphan=1\n[Good]\r\nkept=yes\r\nno equals sign\n=\n[broken\nlost=1\n; comment=1\n[Good]\n"
      "kept=second\nmore = two words \n");
  TRegIniFile reg("Software\\Kalvor_Soft");
  EXPECT_EQ(reg.ReadString("Good", "kept", ""), "yes");
  EXPECT_EQ(reg.ReadString("Good", "more", ""), "two words");
  EXPECT_EQ(reg.ReadString("Good", "lost", "dflt"), "dflt");
  EXPECT_EQ(reg.ReadString("Good", "; comment", "dflt"), "dflt");
  EXPECT_EQ(reg.ReadString("", "orphan", "dflt"), "dflt");
}

TEST_F(RegistryTest, BinaryOrOversizedFileReadsAsDefaults) {
  WriteFile(std::string("[S]\nv=1\n\0\xff\xfe", 10));
  EXPECT_EQ(TRegIniFile("Software\\Kalvor_Soft").ReadInteger("S", "v", 5), 5);
  WriteFile("[S]\nv=1\n" + std::string(2 << 20, 'x'));
  EXPECT_EQ(TRegIniFile("Software\\Kalvor_Soft").ReadInteger("S", "v", 5), 5);
}

TEST_F(RegistryTest, WriteReplacesTheFileAndLeavesNoTemporaryFile) {
  WriteFile("[S]\nold=1\n");
  TRegIniFile reg("Software\\Kalvor_Soft");
  reg.WriteString("S", "new", "2");
  for (const auto& entry : fs::directory_iterator(root_ / "config"))
    EXPECT_TRUE(entry.path().filename() == "Software_Kalvor_Soft.ini" ||
                entry.path().filename() == "Software_Kalvor_Soft.ini.lock")
        << entry.path();
  EXPECT_EQ(TRegIniFile("Software\\Kalvor_Soft").ReadString("S", "old", ""), "1");
}

TEST_F(RegistryTest, UnwritableFolderRaisesFileOpenAndLeavesNoTemporaryFile) {
  fs::create_directories(root_ / "config" / "Software_Kalvor_Soft.ini");  // a folder where the file belongs
  TRegIniFile reg("Software\\Kalvor_Soft");
  try {
    reg.WriteString("S", "v", "1");
    FAIL() << "write succeeded";
  } catch (const KlvError& e) {
    EXPECT_EQ(e.kind(), KlvErrorKind::FileOpen);
  }
  EXPECT_EQ(FilesBesideTheLock(), 1u);
}

// A file the reader refuses once read as empty and the next write replaced it with one section:
// every other value was gone. Now the write fails, naming the file, and the file stays as it was.
TEST_F(RegistryTest, AFileTheReaderRefusesIsNeverRewritten) {
  const std::string valid = "; mine\n[KalvorGSaver]\nDataPath=/home/me/kalvor\n";
  struct Case {
    std::string text;
    KlvErrorKind kind;
  };
  const Case cases[] = {{valid + std::string("\0", 1), KlvErrorKind::BadFormat},
                        {valid + "; " + std::string(1 << 20, 'x') + "\n", KlvErrorKind::Capacity}};
  for (const Case& c : cases) {
    WriteFile(c.text);
    TRegIniFile reg("Software\\Kalvor_Soft");
    EXPECT_EQ(reg.ReadString("KalvorGSaver", "DataPath", "dflt"), "dflt");
    try {
      reg.WriteInteger("KalvorG", "Enum_Checkbox", -4);
      ADD_FAILURE() << "write succeeded";
    } catch (const KlvError& e) {
      EXPECT_EQ(e.kind(), c.kind);
      EXPECT_EQ(e.file(), reg.FileName());
    }
    EXPECT_TRUE(FileText() == c.text);
    EXPECT_EQ(FilesBesideTheLock(), 1u);
  }
  if (geteuid() != 0) {  // permissions do not stop root
    WriteFile(valid);
    fs::permissions(root_ / "config" / "Software_Kalvor_Soft.ini", fs::perms::none);
    TRegIniFile reg("Software\\Kalvor_Soft");
    try {
      reg.WriteInteger("KalvorG", "Enum_Checkbox", -4);
      ADD_FAILURE() << "write succeeded";
    } catch (const KlvError& e) {
      EXPECT_EQ(e.kind(), KlvErrorKind::FileOpen);
    }
    fs::permissions(root_ / "config" / "Software_Kalvor_Soft.ini", fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(FileText(), valid);
  }
}

TEST_F(RegistryTest, CommentsAndUnknownLinesSurviveEveryRewrite) {
  const std::string before =
      "# settings by hand\norphan=1\n[KalvorG]\nEnum_Checkbox=-2 ; old\n; keep me\n\n"
      "no equals sign\n[broken\nlost=1\n\n[KalvorGSaver]\r\nDataPath = /data \r\n\r\n[KalvorG]\nD3D_Device=1\n"
      "tail without newline";
  WriteFile(before);
  TRegIniFile reg("Software\\Kalvor_Soft");
  reg.WriteInteger("KalvorG", "Enum_Checkbox", -4);       // replaces its line
  reg.WriteInteger("KalvorG", "D3D_Device", 2);           // replaces the line the reader takes it from
  reg.WriteInteger("KalvorG", "DDraw_Device", 0);         // new: below the first such section's last line
  reg.WriteString("KalvorGSaver", "DrawSize", "native");  // new, keeping the section's Windows line ends
  reg.WriteString("New", "Threads", "4");                 // a new section at the end
  EXPECT_EQ(FileText(),
            "# settings by hand\norphan=1\n[KalvorG]\nEnum_Checkbox=-4\n; keep me\n\nno equals sign\n"
            "DDraw_Device=0\n[broken\nlost=1\n\n[KalvorGSaver]\r\nDataPath = /data \r\nDrawSize=native\r\n\r\n"
            "[KalvorG]\nD3D_Device=2\ntail without newline\n\n[New]\nThreads=4\n");
  TRegIniFile again("Software\\Kalvor_Soft");
  EXPECT_EQ(again.ReadInteger("KalvorG", "D3D_Device", 0), 2);
  EXPECT_EQ(again.ReadString("KalvorGSaver", "DataPath", ""), "/data");
  EXPECT_EQ(again.ReadString("KalvorGSaver", "DrawSize", ""), "native");
}

TEST_F(RegistryTest, AValueThatWouldPassTheSizeLimitIsRefusedBeforeAnythingIsWritten) {
  const std::string before = "[S]\npad=" + std::string((1 << 20) - 32, 'p') + "\n";
  WriteFile(before);
  TRegIniFile reg("Software\\Kalvor_Soft");
  try {
    reg.WriteString("S", "big", std::string(64, 'v'));
    FAIL() << "write succeeded";
  } catch (const KlvError& e) {
    EXPECT_EQ(e.kind(), KlvErrorKind::Capacity);
  }
  EXPECT_TRUE(FileText() == before);
  reg.WriteString("S", "v", "1");  // what still fits is stored
  EXPECT_EQ(TRegIniFile("Software\\Kalvor_Soft").ReadString("S", "v", ""), "1");
}

TEST_F(RegistryTest, ASymbolicallyLinkedFileStaysALinkAndItsTargetIsWritten) {
  fs::create_directories(root_ / "config");
  fs::create_directories(root_ / "dotfiles");
  const fs::path link = root_ / "config" / "Software_Kalvor_Soft.ini";
  std::ofstream(root_ / "dotfiles" / "kalvor.ini") << "; shared\n[KalvorGSaver]\nDataPath=/d\n";
  fs::create_symlink("../dotfiles/kalvor.ini", link);
  TRegIniFile("Software\\Kalvor_Soft").WriteInteger("KalvorG", "D3D_Device", 2);
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(FileText(), "; shared\n[KalvorGSaver]\nDataPath=/d\n\n[KalvorG]\nD3D_Device=2\n");
  // A link to a file not there yet makes the file, not a plain file in the link's place.
  fs::remove(link);
  fs::create_symlink(root_ / "dotfiles" / "new.ini", link);
  TRegIniFile("Software\\Kalvor_Soft").WriteString("S", "v", "1");
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_TRUE(fs::is_regular_file(root_ / "dotfiles" / "new.ini"));
  EXPECT_EQ(TRegIniFile("Software\\Kalvor_Soft").ReadString("S", "v", ""), "1");
}

// Four processes storing 100 values each once kept about half of them.
TEST_F(RegistryTest, ConcurrentProcessesKeepEveryValue) {
  constexpr int kProcesses = 4;
  constexpr int kValues = 100;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      int status = 0;
      try {
        for (int i = 0; i < kValues; ++i)
          TRegIniFile("Software\\Kalvor_Soft").WriteInteger("P" + std::to_string(p), "v" + std::to_string(i), i);
      } catch (const KlvError&) {
        status = 1;
      }
      _exit(status);
    }
    children.push_back(child);
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  TRegIniFile reg("Software\\Kalvor_Soft");
  int kept = 0;
  for (int p = 0; p < kProcesses; ++p)
    for (int i = 0; i < kValues; ++i)
      kept += reg.ReadInteger("P" + std::to_string(p), "v" + std::to_string(i), -1) == i;
  EXPECT_EQ(kept, kProcesses * kValues);
  EXPECT_EQ(FilesBesideTheLock(), 1u);
}

// Two threads once shared one temporary file name.
TEST_F(RegistryTest, TwoThreadsOfOneProcessKeepEveryValue) {
  constexpr int kValues = 100;
  int failures[2] = {0, 0};
  auto writer = [&failures](int t) {
    for (int i = 0; i < kValues; ++i) {
      try {
        TRegIniFile("Software\\Kalvor_Soft").WriteInteger("T" + std::to_string(t), "v" + std::to_string(i), i);
      } catch (const KlvError&) {
        ++failures[t];
      }
    }
  };
  std::thread first(writer, 0);
  std::thread second(writer, 1);
  first.join();
  second.join();
  EXPECT_EQ(failures[0] + failures[1], 0);
  TRegIniFile reg("Software\\Kalvor_Soft");
  for (int t = 0; t < 2; ++t)
    for (int i = 0; i < kValues; ++i)
      EXPECT_EQ(reg.ReadInteger("T" + std::to_string(t), "v" + std::to_string(i), -1), i);
  EXPECT_EQ(FilesBesideTheLock(), 1u);
}

}  // namespace
