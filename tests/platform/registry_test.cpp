// The registry stand-in: file location, exact round trips, defaults and damaged files.
#include "platform/win/registry.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

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
  if (saved.empty()) unsetenv("XDG_CONFIG_HOME"); else setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
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
  const std::string awkward[] = {"/home/user/data/", "C:\\data\\", "  padded  ", "a=b;c#d[e]", "line1\nline2\r",
                                 std::string("nul\0inside", 10), "\\x41 is not A", "", "日本語"};
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
  WriteFile("[S]\nhex=0x10\ndollar=$10\nfloat=1.5\ntrail=12abc\nspace=1 2\nbig=99999999999\nempty=\n"
            "plus=+7\nneg=-2147483648\nsign=-\nok= 42 \n");
  TRegIniFile reg("Software\\Kalvor_Soft");
  for (const char* name : {"hex", "dollar", "float", "trail", "space", "big", "empty", "sign"})
    EXPECT_EQ(reg.ReadInteger("S", name, -9), -9) << name;
  EXPECT_EQ(reg.ReadInteger("S", "plus", 0), 7);
  EXPECT_EQ(reg.ReadInteger("S", "neg", 0), -2147483647 - 1);
  EXPECT_EQ(reg.ReadInteger("S", "ok", 0), 42);
}

TEST_F(RegistryTest, MalformedLinesAreSkippedAndTheRestIsRead) {
  WriteFile("orphan=1\n[Good]\r\nkept=yes\r\nno equals sign\n=\n[broken\nlost=1\n; comment=1\n[Good]\n"
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
  size_t files = 0;
  for (const auto& entry : fs::directory_iterator(root_ / "config")) {
    ++files;
    EXPECT_EQ(entry.path().filename(), "Software_Kalvor_Soft.ini");
  }
  EXPECT_EQ(files, 1u);
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
  size_t files = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(root_ / "config")) ++files;
  EXPECT_EQ(files, 1u);
}

}  // namespace
