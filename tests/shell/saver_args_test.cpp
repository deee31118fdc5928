// The command line: the classic forms pass through untouched, the host form's options are read
// with one dash or two, and every bad value is refused with a line that names the option.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "shell/saver_args.h"

namespace {

struct Parsed {
  bool ok;
  TSaverCommandLine line;
  std::string error;
};

Parsed Parse(std::initializer_list<const char*> arguments) {
  std::vector<const char*> argv{"kalvor"};
  argv.insert(argv.end(), arguments);
  Parsed parsed;
  parsed.ok = ParseSaverCommandLine(static_cast<int>(argv.size()), argv.data(), parsed.line, parsed.error);
  return parsed;
}

TEST(SaverArgs, ClassicFormsKeepTheirFirstArgumentAndIgnoreTheRest) {
  for (const char* first : {"/s", "/S", "-s", "-S", "/c", "/c:1234", "x-Cy", "/p", "/sx", "-sx", "--c", "--cfg"}) {
    const Parsed p = Parse({first, "--bogus"});
    ASSERT_TRUE(p.ok) << first;
    EXPECT_FALSE(p.line.HostForm) << first;
    EXPECT_EQ(p.line.ClassicArgument, first);
    EXPECT_FALSE(p.line.Embedded());
  }
  const Parsed none = Parse({});
  EXPECT_TRUE(none.ok);
  EXPECT_FALSE(none.line.HostForm);
  EXPECT_EQ(none.line.ClassicArgument, "");
}

TEST(SaverArgs, TheSettingsPreviewCommandLineNamesItsWindow) {
  const Parsed p = Parse({"--root", "--window-id", "0x200C9C"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_TRUE(p.line.HostForm);
  EXPECT_TRUE(p.line.Root);
  ASSERT_TRUE(p.line.WindowId);
  EXPECT_EQ(*p.line.WindowId, 0x200C9Cu);
  EXPECT_TRUE(p.line.Embedded());
  EXPECT_EQ(p.line.StepDelayUs, 16000u);
  EXPECT_FALSE(p.line.Size);
}

TEST(SaverArgs, EveryOptionWorksWithOneDashTwoDashesOrAnEqualsSign) {
  const Parsed p =
      Parse({"-root", "-window-id", "4194319", "-display", ":3", "-mono", "--install", "-visual", "default", "--fps",
             "-delay", "20000", "--size=1280x1024", "--threads", "3", "--renderer=gl"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(*p.line.WindowId, 4194319u);
  EXPECT_EQ(p.line.Display, ":3");
  EXPECT_TRUE(p.line.ShowFps);
  EXPECT_EQ(p.line.StepDelayUs, 20000u);
  EXPECT_EQ(*p.line.Size, (TPictureSize{false, 1280, 1024}));
  EXPECT_EQ(*p.line.Threads, 3);
  EXPECT_EQ(*p.line.Renderer, KlvRenderer::Gl);

  const Parsed own = Parse({"--window", "--size", "native", "--renderer", "software", "--threads", "0"});
  ASSERT_TRUE(own.ok) << own.error;
  EXPECT_TRUE(own.line.OwnWindow);
  EXPECT_TRUE(own.line.Embedded());
  EXPECT_TRUE(own.line.Size->Native);
  EXPECT_EQ(*own.line.Threads, 0);

  const Parsed standAlone = Parse({"--size", "800x600", "--fps"});
  ASSERT_TRUE(standAlone.ok);
  EXPECT_TRUE(standAlone.line.HostForm);
  EXPECT_FALSE(standAlone.line.Embedded());

  EXPECT_TRUE(Parse({"--help"}).line.Help);
  EXPECT_TRUE(Parse({"-help"}).line.Help);
}

TEST(SaverArgs, BadInputIsRefusedWithOneLineNamingTheOption) {
  const std::vector<std::pair<std::vector<const char*>, std::string>> cases = {
      {{"--window-id", "garbage"}, "--window-id"},
      {{"--window-id", "0"}, "--window-id"},
      {{"--window-id", "-5"}, "--window-id"},
      {{"--window-id", " 0x10"}, "--window-id"},
      {{"--window-id", "0x1G"}, "--window-id"},
      {{"--window-id", "0x100000000"}, "--window-id"},
      {{"--root", "--window-id"}, "--window-id"},
      {{"--size", "0x0"}, "--size"},
      {{"--size", "99999x99999"}, "--size"},
      {{"--size", "640"}, "--size"},
      {{"--size", "640x-480"}, "--size"},
      {{"--size", "+640x480"}, "--size"},
      {{"--delay", "-5"}, "--delay"},
      {{"--delay", "1e3"}, "--delay"},
      {{"--delay", "60000001"}, "--delay"},
      {{"--threads", "1025"}, "--threads"},
      {{"--threads", "two"}, "--threads"},
      {{"--renderer", "vulkan"}, "--renderer"},
      {{"--bogus"}, "--bogus"},
      {{"--root", "/s"}, "/s"},
      {{"--fps=yes"}, "--fps"},
  };
  for (const auto& [arguments, named] : cases) {
    std::vector<const char*> argv{"kalvor"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    TSaverCommandLine line;
    std::string error;
    EXPECT_FALSE(ParseSaverCommandLine(static_cast<int>(argv.size()), argv.data(), line, error)) << named;
    EXPECT_NE(error.find(named), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
}

TEST(SaverArgs, WindowIdsReadAsStrtoulWithBaseZero) {
  EXPECT_EQ(ParseWindowId("0x40000F"), 0x40000Fu);
  EXPECT_EQ(ParseWindowId("0x40000f"), 0x40000Fu);
  EXPECT_EQ(ParseWindowId("4194319"), 4194319u);
  EXPECT_EQ(ParseWindowId("020000017"), 020000017u);
  EXPECT_EQ(ParseWindowId("0xFFFFFFFF"), 0xFFFFFFFFu);
  EXPECT_FALSE(ParseWindowId(""));
  EXPECT_FALSE(ParseWindowId("0x"));
  EXPECT_FALSE(ParseWindowId("12abc"));
  EXPECT_FALSE(ParseWindowId("99999999999999999999999"));
}

TEST(SaverArgs, PictureSizesAreClassicNativeOrWithinTheSurfaceLimit) {
  EXPECT_EQ(ParsePictureSize("640x480"), (TPictureSize{false, 640, 480}));
  EXPECT_EQ(ParsePictureSize("8192x1"), (TPictureSize{false, 8192, 1}));
  EXPECT_TRUE(ParsePictureSize("native")->Native);
  EXPECT_FALSE(ParsePictureSize("Native"));
  EXPECT_FALSE(ParsePictureSize("8193x100"));
  EXPECT_FALSE(ParsePictureSize("100x0"));
  EXPECT_FALSE(ParsePictureSize("x480"));
  EXPECT_FALSE(ParsePictureSize("640x480x2"));
  EXPECT_FALSE(ParsePictureSize(""));
}

TEST(SaverArgs, TheUsageNamesEveryOption) {
  const std::string usage = SaverUsage("kalvor");
  for (const char* option : {"--root", "--window-id", "--window ", "--display", "--fps", "--delay", "--size",
                             "--threads", "--renderer", "--mono", "--install", "--visual", "--help"})
    EXPECT_NE(usage.find(option), std::string::npos) << option;
}

}  // namespace
