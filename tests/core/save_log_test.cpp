// Save Log against the headless dialog: what the dialog is given on every
// press, what lands in the file, and that a failed save says so and leaves
// nothing broken behind.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

#include "gtest/gtest.h"
#include "platform/headless/headless.h"
#include "tests/core/test_folder.h"

namespace {

using namespace testing_support;

std::string ReadBytes(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

std::string TodayName() {
  const platform::Date today = platform::Today();
  char name[64];
  std::snprintf(name, sizeof name, "larkspireRepoLog_%04d%02d%02d.txt",
                today.year, today.month, today.day);
  return name;
}

// What the dialog held when it was shown.
struct Offered {
  std::string defaultExt, title, initDir, fileName;
  bool cancelError;
};

class SaveLogTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::headless::Reset(); }
  void TearDown() override { platform::headless::Reset(); }

  // Presses Save Log; the user answers `answer` (empty: cancel).
  void Press(const std::string& answer) {
    platform::headless::SetSaveResponder(
        [this, answer](const platform::CommonDialog& d) {
          offered.push_back({d.DefaultExt, d.DialogTitle, d.InitDir,
                             d.FileName, d.CancelError});
          return answer;
        });
    form.cmdSave.Click();
  }

  std::vector<std::string> FilesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
      names.push_back(entry.path().filename().string());
    return names;
  }

  frmMain form;
  TempFolder folder;
  std::vector<Offered> offered;
};

TEST_F(SaveLogTest, WritesTheLogExactlyAndOffersTheDatedNameEveryTime) {
  for (const char* message : {"one", "two", "three"})
    ShowStatus(form, message, 0, 0, 0);
  const fs::path first = folder.path() / "chosen.txt";
  Press(first.string());
  ShowStatus(form, "four", 0, 0, 0);
  Press(first.string());  // the same name again: replaced without a prompt

  ASSERT_EQ(offered.size(), 2u);
  for (const Offered& o : offered) {
    EXPECT_EQ(o.defaultExt, "txt");
    EXPECT_EQ(o.title, "Save Logfile");
    EXPECT_EQ(o.initDir, platform::ApplicationFolder());
    EXPECT_TRUE(o.cancelError);
    EXPECT_EQ(o.fileName, TodayName()) << "not the name chosen before";
  }
  EXPECT_EQ(ReadBytes(first), "one\r\ntwo\r\nthree\r\nfour");
  EXPECT_EQ(FilesIn(folder.path()), std::vector<std::string>{"chosen.txt"});
  EXPECT_TRUE(platform::headless::ShownErrors().empty());
}

TEST_F(SaveLogTest, CancelWritesAndShowsNothing) {
  ShowStatus(form, "one", 0, 0, 0);
  Press("");
  EXPECT_EQ(offered.size(), 1u);
  EXPECT_TRUE(FilesIn(folder.path()).empty());
  EXPECT_TRUE(platform::headless::ShownErrors().empty());
  EXPECT_EQ(form.txtLog.Text(), "one") << "nothing added to the log";
  EXPECT_EQ(form.lblStatus.Caption(), "one");
}

// A save that cannot be made says so in an error box, leaves the log and
// status line alone, and leaves no file or temporary file behind.
TEST_F(SaveLogTest, FailedSavesShowWhyAndLeaveNothingBehind) {
  ShowStatus(form, "one", 0, 0, 0);
  const fs::path directory = folder.path() / "taken";
  fs::create_directory(directory);
  WriteTextFile(directory / "keep.txt", "kept");
  struct Case {
    const char* what;
    std::string target;
    bool linuxOnly;
  };
  const Case cases[] = {
      {"the name is a folder", directory.string(), false},
      {"the folder does not exist", (folder.path() / "no" / "x.txt").string(),
       false},
      // Root can write anywhere but here, and CI runs as root.
      {"the folder cannot be written", "/proc/larkspire-log.txt", true},
  };
  for (const Case& c : cases) {
    if (c.linuxOnly && OnWindows()) continue;
    SCOPED_TRACE(c.what);
    platform::headless::Reset();
    Press(c.target);
    const auto errors = platform::headless::ShownErrors();
    ASSERT_EQ(errors.size(), 1u);
    const std::string prefix =
        "Save Logfile|The log could not be saved to " + c.target + ": ";
    EXPECT_EQ(errors[0].substr(0, prefix.size()), prefix);
    EXPECT_GT(errors[0].size(), prefix.size()) << "no reason given";
  }
  EXPECT_EQ(FilesIn(folder.path()), std::vector<std::string>{"taken"});
  EXPECT_EQ(FilesIn(directory), std::vector<std::string>{"keep.txt"});
  EXPECT_EQ(ReadBytes(directory / "keep.txt"), "kept");
  EXPECT_EQ(form.txtLog.Text(), "one");
  EXPECT_EQ(form.lblStatus.Caption(), "one");
}

}  // namespace
