// GetShortPath against the real file system: trimming, missing paths and
// the 512-character buffer.
#include <string>

#include "batch/basFunctions.h"
#include "gtest/gtest.h"
#include "test_folder.h"

namespace basFunctions {
namespace {

using testing_support::MakeFolderOfLength;
using testing_support::OnWindows;
using testing_support::TempFolder;
using testing_support::fs::path;

TEST(GetShortPathTest, TrimsSpacesOnlyAndFailsEmpty) {
  TempFolder folder;
  const std::string existing = folder.path().string();
  const std::string shortForm = GetShortPath(existing);
  ASSERT_FALSE(shortForm.empty());
  if (!OnWindows()) {
    EXPECT_EQ(shortForm, existing);
  }

  const struct {
    std::string path;
    std::string expected;
  } cases[] = {
      {"  " + existing + "   ", shortForm},
      {" " + existing, shortForm},
      {existing + " ", shortForm},
      {"\t" + existing, ""},  // only spaces are trimmed
      {(folder.path() / "missing").string(), ""},
      {"", ""},
      {"     ", ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(GetShortPath(c.path), c.expected) << "[" << c.path << "]";
}

TEST(GetShortPathTest, AnswerMustFitTheBuffer) {
  if (OnWindows()) GTEST_SKIP() << "the short form of a long path is shorter";
  TempFolder folder;
  const path fits = MakeFolderOfLength(folder.path(), 511);
  const path tooLong = MakeFolderOfLength(folder.path(), 512);
  const path wayTooLong = MakeFolderOfLength(folder.path(), 700);
  ASSERT_EQ(fits.string().size(), 511u);
  EXPECT_EQ(GetShortPath(fits.string()), fits.string());
  EXPECT_EQ(GetShortPath(tooLong.string()), "");
  EXPECT_EQ(GetShortPath(wayTooLong.string()), "");
}

}  // namespace
}  // namespace basFunctions
