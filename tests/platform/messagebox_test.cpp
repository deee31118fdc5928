// The message box stand-in: recorded while a recorder is installed, standard error without a display.
#include "platform/win/messagebox.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

TEST(MessageBoxTest, RecorderSeesEveryBoxInOrderThenStandardErrorTakesOver) {
  std::vector<std::pair<std::string, std::string>> boxes;
  SetMessageBoxRecorder(
      [&](const std::string& text, const std::string& caption) { boxes.emplace_back(text, caption); });
  EXPECT_EQ(MessageBoxA(nullptr, "first", "えらー", MB_OK), IDOK);
  EXPECT_EQ(MessageBoxA(nullptr, "second", nullptr, MB_OK), IDOK);
  SetMessageBoxRecorder(nullptr);
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0], std::make_pair(std::string("first"), std::string("えらー")));
  EXPECT_EQ(boxes[1], std::make_pair(std::string("second"), std::string()));

  testing::internal::CaptureStderr();
  EXPECT_EQ(MessageBoxA(nullptr, "third", "cap", MB_OK), IDOK);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("third"), std::string::npos);
  EXPECT_EQ(boxes.size(), 2u);
}

}  // namespace
