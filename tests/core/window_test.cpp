// The window's own logic against the headless controls: ShowStatus's
// colour rules and the Save Log handler.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
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
  } cases[] = {{0, 0, 0},       {255, 0, 255},   {256, 0, 255}, {32767, 0, 255},
               {-1, 5, 0},      {32768, 6, 0},   {-32769, 6, 0}};
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
  const struct {
    std::string answer;  // "": cancel
    const char* error;   // what the error box starts with, if any
  } cases[] = {
      {(folder.path() / "log.txt").string(), nullptr},
      {(folder.path() / "log.txt").string(), nullptr},  // replaced
      {"", nullptr},
      {taken.string(), "Save Logfile|The log could not be saved to "},
      {(folder.path() / "no" / "x.txt").string(),
       "Save Logfile|The log could not be saved to "},
      // Root can write anywhere but here, and CI runs as root.
      {OnWindows() ? "" : "/proc/log.txt",
       OnWindows() ? nullptr : "Save Logfile|The log could not be saved to "},
  };
  frmMain form;
  ShowStatus(form, "one", 0, 0, 0);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer);
    headless::Reset();
    ShowStatus(form, "two", 0, 0, 0);
    const std::string log = form.txtLog.Text();
    headless::SetSaveResponder([&](const platform::CommonDialog& d) {
      EXPECT_EQ(d.DefaultExt, "txt");
      EXPECT_EQ(d.DialogTitle, "Save Logfile");
      EXPECT_EQ(d.InitDir, platform::ApplicationFolder());
      EXPECT_TRUE(d.CancelError);
      EXPECT_EQ(d.FileName, TodaysName());
      return c.answer;
    });
    form.cmdSave.Click();
    const auto errors = headless::ShownErrors();
    ASSERT_EQ(errors.size(), c.error ? 1u : 0u);
    if (c.error) {
      EXPECT_EQ(errors[0].rfind(c.error + c.answer + ": ", 0), 0u) << errors[0];
      EXPECT_GT(errors[0].size(), std::strlen(c.error) + c.answer.size() + 2);
    } else if (!c.answer.empty()) {
      EXPECT_EQ(ReadFile(c.answer), log);
    }
    EXPECT_EQ(form.txtLog.Text(), log);
  }
  EXPECT_EQ(ReadFile(folder.path() / "log.txt"), "one\r\ntwo\r\ntwo");
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(folder.path()))
    left.push_back(entry.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"log.txt", "taken"}));
  EXPECT_TRUE(fs::is_empty(taken));
}

}  // namespace
