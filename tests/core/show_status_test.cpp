// ShowStatus on the headless controls: how the log is joined, where the
// caret ends, and how colour components are checked.
#include <cstdint>
#include <string>

#include "gtest/gtest.h"
#include "platform/headless/headless.h"
#include "platform/platform.h"
#include "test_folder.h"
#include "window/frmMain.h"

namespace {

using testing_support::kGreen;
using testing_support::kRed;

class ShowStatusTest : public ::testing::Test {
 protected:
  ShowStatusTest() { platform::headless::Reset(); }
  ~ShowStatusTest() override { platform::headless::Reset(); }

  void ExpectCaretAtEnd() {
    EXPECT_EQ(form.txtLog.SelStart(), form.txtLog.Text().size());
    EXPECT_EQ(form.txtLog.SelLength(), 0u);
  }

  frmMain form;
};

TEST_F(ShowStatusTest, JoinsMessagesWithCrLfAndNoTrailingBreak) {
  ShowStatus(form, "one", 0, 0, 0);
  EXPECT_EQ(form.txtLog.Text(), "one");
  ExpectCaretAtEnd();
  ShowStatus(form, "two", 255, 0, 0);
  ShowStatus(form, "three", 0, 128, 0);
  EXPECT_EQ(form.txtLog.Text(), "one\r\ntwo\r\nthree");
  EXPECT_EQ(form.lblStatus.Caption(), "three");
  EXPECT_EQ(form.lblStatus.ForeColor(), kGreen);
  ExpectCaretAtEnd();
}

TEST_F(ShowStatusTest, EmptyMessageEndsTheLogWithABreak) {
  ShowStatus(form, "one", 0, 0, 0);
  ShowStatus(form, "", 0, 0, 0);
  EXPECT_EQ(form.txtLog.Text(), "one\r\n");
  EXPECT_EQ(form.lblStatus.Caption(), "");
  ExpectCaretAtEnd();
}

TEST_F(ShowStatusTest, KeepsLongLogsWhole) {
  std::string expected;
  for (int i = 0; i < 10000; ++i) {
    const std::string line = "Decoding file " + std::to_string(i) + ".mp3...";
    ShowStatus(form, line, 0, 0, 0);
    expected += (i == 0 ? "" : "\r\n") + line;
  }
  EXPECT_EQ(form.txtLog.Text(), expected);
  ExpectCaretAtEnd();
}

TEST_F(ShowStatusTest, ColourComponentsMustFitSixteenBits) {
  ShowStatus(form, "before", 255, 0, 0);
  const struct {
    std::int32_t red, green, blue;
  } outOfRange[] = {{32768, 0, 0}, {0, -32769, 0}, {0, 0, 70000}};
  for (const auto& c : outOfRange) {
    try {
      ShowStatus(form, "after", c.red, c.green, c.blue);
      ADD_FAILURE() << c.red << ", " << c.green << ", " << c.blue;
    } catch (const platform::Error& e) {
      EXPECT_EQ(e.Number(), platform::kErrOverflow);
    }
    // The caption is set before the colour is checked; the log is not.
    EXPECT_EQ(form.lblStatus.Caption(), "after");
    EXPECT_EQ(form.lblStatus.ForeColor(), kRed);
    EXPECT_EQ(form.txtLog.Text(), "before");
  }
  ShowStatus(form, "edge", 32767, 0, 0);  // fits: no error
  EXPECT_EQ(form.txtLog.Text(), "before\r\nedge");
}

}  // namespace
