// The window's own logic against the headless controls: ShowStatus's
// colour rules and the Save Log handler.
#include <gtest/gtest.h>

#include <ctime>

#include "platform/headless/headless.h"
#include "tests/support/support.h"
#include "window/frmMain.h"

namespace {

using namespace support;
namespace headless = platform::headless;

TEST(Window, ShowStatusColourComponents) {
  const struct {
    std::int32_t red;
    long error;  // 0: none
    std::uint8_t shown;
  } cases[] = {{0, 0, 0},  {255, 0, 255}, {256, 0, 255}, {32767, 0, 255},
               {-1, 5, 0}, {32768, 6, 0}, {-32769, 6, 0}};
  for (const auto& c : cases) {
    frmMain form;
    try {
      ShowStatus(form, "text", c.red, 0, 0);
      EXPECT_EQ(c.error, 0) << c.red;
      EXPECT_EQ(form.lblStatus.ForeColor(), (platform::Rgb{c.shown, 0, 0}));
    } catch (const platform::Error& e) {
      EXPECT_EQ(e.Number(), c.error) << c.red;
    }
  }
  frmMain form;
  ShowStatus(form, "one", 0, 0, 0);
  ShowStatus(form, "", 0, 0, 0);
  EXPECT_EQ(form.txtLog.Text(), "one\r\n");
  EXPECT_EQ(form.txtLog.SelStart(), 5u);
}

std::string TodaysName() {
  const std::time_t now = std::time(nullptr);
  char name[64];
  std::strftime(name, sizeof name, "larkspireRepoLog_%Y%m%d.txt",
                std::localtime(&now));
  return name;
}

// Each press offers the same settings; the chosen file gets the log byte for
// byte, or an error box says why not and nothing is left behind.
TEST(Window, SaveLog) {
  TempFolder folder;
  const fs::path taken = folder.path() / "taken";
  fs::create_directory(taken);
  const std::string file = (folder.path() / "log.txt").string();
  const struct {
    std::string answer;  // "": cancel
    bool fails;
  } cases[] = {
      {file, false},
      {file, false},
      {"", false},
      {taken.string(), true},
      {(folder.path() / "no" / "x.txt").string(), true},
      // Root can write anywhere but here, and CI runs as root.
      {OnWindows() ? "" : "/proc/log.txt", !OnWindows()},
  };
  frmMain form;
  ShowStatus(form, "one", 0, 0, 0);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer);
    headless::Reset();
    ShowStatus(form, "two", 0, 0, 0);
    const std::string log = form.txtLog.Text();
    headless::SetSaveResponder([&](const platform::CommonDialog& d) {
      EXPECT_EQ(d.DefaultExt + d.DialogTitle, "txtSave Logfile");
      EXPECT_EQ(d.InitDir, platform::ApplicationFolder());
      EXPECT_TRUE(d.CancelError);
      EXPECT_EQ(d.FileName, TodaysName());
      return c.answer;
    });
    form.cmdSave.Click();
    const auto errors = headless::ShownErrors();
    const std::string why =
        "Save Logfile|The log could not be saved to " + c.answer + ": ";
    ASSERT_EQ(errors.size(), c.fails ? 1u : 0u);
    EXPECT_EQ(c.fails ? errors[0].substr(0, why.size()) : why, why);
    EXPECT_TRUE(!c.fails || errors[0].size() > why.size()) << "no reason given";
    EXPECT_EQ(c.fails || c.answer.empty() ? log : ReadFile(c.answer), log);
    EXPECT_EQ(form.txtLog.Text(), log);
  }
  EXPECT_EQ(ReadFile(file), "one\r\ntwo\r\ntwo");
  EXPECT_EQ(Listing(folder.path()),
            (std::vector<std::string>{"log.txt", "taken"}));
  EXPECT_TRUE(fs::is_empty(taken));
}

}  // namespace
