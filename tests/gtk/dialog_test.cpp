// The modal dialogs on a real display, driven in-process as a user would:
// the save dialog's settings and answers, the error box, and Save Log after
// and during a batch.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "batch/basFunctions.h"
#include "platform/controls.h"
#include "platform/platform.h"
#include "tests/gtk/gtk_support.h"
#include "window/frmMain.h"

namespace {

namespace fs = std::filesystem;
using gtktest::DialogUser;
using Kind = gtktest::DialogUser::Kind;

// A scratch folder, removed afterwards.
class TempDir {
 public:
  TempDir() {
    gchar* made = g_dir_make_tmp("larkspire-gtk-XXXXXX", nullptr);
    path_ = made;
    g_free(made);
  }
  ~TempDir() { fs::remove_all(path_); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::string Replace(std::string text, const std::string& from,
                    const std::string& to) {
  for (auto at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// What the save dialog offered when it first showed.
struct Offered {
  std::string title, folder, name;
  bool modal = false, ownedByWindow = false, confirmsOverwrite = false;
};

DialogUser::Action Observe(Offered& offered, GtkWindow* owner) {
  return [&offered, owner](GtkDialog* dialog) {
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
    offered.title = gtk_window_get_title(GTK_WINDOW(dialog));
    offered.modal = gtk_window_get_modal(GTK_WINDOW(dialog));
    offered.ownedByWindow =
        gtk_window_get_transient_for(GTK_WINDOW(dialog)) == owner;
    offered.confirmsOverwrite =
        gtk_file_chooser_get_do_overwrite_confirmation(chooser);
    gchar* folder = gtk_file_chooser_get_current_folder(chooser);
    offered.folder = folder ? folder : "";
    g_free(folder);
    gchar* name = gtk_file_chooser_get_current_name(chooser);
    offered.name = name ? name : "";
    g_free(name);
  };
}

// ---- The save dialog --------------------------------------------------------

enum class Act { kSaveAs, kSaveOffered, kCancel, kCloseBox, kReplace, kKeep };

struct SaveCase {
  const char* name;
  std::string defaultExt;
  bool cancelError;
  std::string fileName;  // "{dir}" and "{sub}" stand for the scratch folders
  std::vector<std::pair<Act, std::string>> acts;
  std::string expected;  // FileName afterwards; "cancel" for the error
  std::string offeredFolder = "{dir}";
};

std::ostream& operator<<(std::ostream& out, const SaveCase& c) {
  return out << c.name;
}

class DialogsSave : public ::testing::TestWithParam<SaveCase> {};

TEST_P(DialogsSave, SettingsAndAnswer) {
  const SaveCase& c = GetParam();
  TempDir dir;
  const std::string sub = dir.path() + "/sub folder";
  fs::create_directory(sub);
  std::ofstream(dir.path() + "/exists.txt") << "keep me";
  auto expand = [&](std::string text) {
    return Replace(Replace(text, "{sub}", sub), "{dir}", dir.path());
  };

  platform::Window window("Dialog owner", 3000, 2000);
  window.Show();
  GtkWindow* owner = gtktest::FindForm("Dialog owner").window;
  platform::CommonDialog dialog(window);
  dialog.DefaultExt = c.defaultExt;
  dialog.DialogTitle = "Save Logfile";
  dialog.InitDir = dir.path();
  dialog.CancelError = c.cancelError;
  dialog.FileName = expand(c.fileName);

  Offered offered;
  DialogUser user;
  // The first step only looks; the answers follow.
  user.Then(Kind::kFileChooser, Observe(offered, owner));
  for (const auto& act : c.acts) {
    const std::string name = act.second;
    switch (act.first) {
      case Act::kSaveAs:
      case Act::kSaveOffered:
        user.Then(Kind::kFileChooser, [name](GtkDialog* d) {
          if (!name.empty())
            gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(d),
                                              name.c_str());
          DialogUser::Press(d, GTK_RESPONSE_ACCEPT);
        });
        break;
      case Act::kCancel:
        user.Then(Kind::kFileChooser, [](GtkDialog* d) {
          DialogUser::Press(d, GTK_RESPONSE_CANCEL);
        });
        break;
      case Act::kCloseBox:
        user.Then(Kind::kFileChooser,
                  [](GtkDialog* d) { gtk_window_close(GTK_WINDOW(d)); });
        break;
      case Act::kReplace:
      case Act::kKeep: {
        const int response = act.first == Act::kReplace ? GTK_RESPONSE_ACCEPT
                                                        : GTK_RESPONSE_CANCEL;
        user.Then(Kind::kMessage,
                  [response](GtkDialog* d) { DialogUser::Press(d, response); });
        break;
      }
    }
  }
  const std::string before = dialog.FileName;
  bool cancelled = false;
  try {
    dialog.ShowSave();
  } catch (const platform::Error& e) {
    cancelled = true;
    EXPECT_EQ(e.Number(), platform::kErrCancel);
    EXPECT_EQ(e.Description(), "Cancel was selected.");
  }
  EXPECT_TRUE(user.Done()) << "a dialog the case expected never showed";

  EXPECT_EQ(offered.title, "Save Logfile");
  EXPECT_TRUE(offered.modal);
  EXPECT_TRUE(offered.ownedByWindow);
  EXPECT_TRUE(offered.confirmsOverwrite);
  EXPECT_EQ(offered.folder, expand(c.offeredFolder));
  EXPECT_EQ(offered.name, fs::path(before).filename().string());
  if (c.expected == "cancel") {
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(dialog.FileName, before);
  } else {
    EXPECT_FALSE(cancelled);
    EXPECT_EQ(dialog.FileName, expand(c.expected));
  }
  EXPECT_EQ(ReadFile(dir.path() + "/exists.txt"), "keep me");
}

const char kDated[] = "larkspireRepoLog_20060316.txt";

INSTANTIATE_TEST_SUITE_P(
    Answers, DialogsSave,
    ::testing::Values(
        SaveCase{"offered name",
                 "txt",
                 true,
                 kDated,
                 {{Act::kSaveOffered, ""}},
                 std::string("{dir}/") + kDated},
        SaveCase{"extension added",
                 "txt",
                 true,
                 kDated,
                 {{Act::kSaveAs, "mylog"}},
                 "{dir}/mylog.txt"},
        SaveCase{"own extension kept",
                 "txt",
                 true,
                 kDated,
                 {{Act::kSaveAs, "mylog.log"}},
                 "{dir}/mylog.log"},
        SaveCase{"no default extension",
                 "",
                 true,
                 kDated,
                 {{Act::kSaveAs, "mylog"}},
                 "{dir}/mylog"},
        SaveCase{"odd name",
                 "txt",
                 true,
                 kDated,
                 {{Act::kSaveAs, "-a $b & 'c' #d \xC3\xA9"}},
                 "{dir}/-a $b & 'c' #d \xC3\xA9.txt"},
        SaveCase{"cancel raises",
                 "txt",
                 true,
                 kDated,
                 {{Act::kCancel, ""}},
                 "cancel"},
        SaveCase{"cancel silent",
                 "txt",
                 false,
                 kDated,
                 {{Act::kCancel, ""}},
                 kDated},
        SaveCase{"close box raises",
                 "txt",
                 true,
                 kDated,
                 {{Act::kCloseBox, ""}},
                 "cancel"},
        SaveCase{"extension hits a file, replace",
                 "txt",
                 true,
                 kDated,
                 {{Act::kSaveAs, "exists"}, {Act::kReplace, ""}},
                 "{dir}/exists.txt"},
        SaveCase{
            "extension hits a file, keep",
            "txt",
            true,
            kDated,
            {{Act::kSaveAs, "exists"}, {Act::kKeep, ""}, {Act::kCancel, ""}},
            "cancel"},
        SaveCase{"typed name exists, replace",
                 "txt",
                 true,
                 kDated,
                 {{Act::kSaveAs, "exists.txt"}, {Act::kReplace, ""}},
                 "{dir}/exists.txt"},
        SaveCase{"typed name exists, keep",
                 "txt",
                 true,
                 kDated,
                 {{Act::kSaveAs, "exists.txt"},
                  {Act::kKeep, ""},
                  {Act::kCancel, ""}},
                 "cancel"},
        SaveCase{"folder in the file name",
                 "txt",
                 true,
                 "{sub}/given.txt",
                 {{Act::kSaveOffered, ""}},
                 "{sub}/given.txt",
                 "{sub}"}),
    [](const ::testing::TestParamInfo<SaveCase>& info) {
      std::string name = info.param.name;
      for (char& ch : name)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return name;
    });

// ---- The error box ----------------------------------------------------------

TEST(DialogsError, ModalBoxOwnedByTheWindow) {
  const int warnings = gtktest::LoggedWarnings();
  platform::Window window("Dialog owner", 3000, 2000);
  window.Show();
  GtkWindow* owner = gtktest::FindForm("Dialog owner").window;
  std::string title, text;
  bool modal = false, owned = false, error = false;
  DialogUser user;
  user.Then(Kind::kMessage, [&](GtkDialog* d) {
    title = gtk_window_get_title(GTK_WINDOW(d));
    gchar* shown = nullptr;
    g_object_get(d, "text", &shown, nullptr);
    text = shown ? shown : "";
    g_free(shown);
    modal = gtk_window_get_modal(GTK_WINDOW(d));
    owned = gtk_window_get_transient_for(GTK_WINDOW(d)) == owner;
    GtkMessageType type;
    g_object_get(d, "message-type", &type, nullptr);
    error = type == GTK_MESSAGE_ERROR;
    DialogUser::Press(d, GTK_RESPONSE_OK);
  });
  platform::ShowError(window, "Save Logfile",
                      "The log could not be saved to /x/bad\xFF.txt: "
                      "Permission denied");
  EXPECT_TRUE(user.Done());
  EXPECT_EQ(title, "Save Logfile");
  EXPECT_EQ(text,
            "The log could not be saved to /x/bad\xEF\xBF\xBD.txt: "
            "Permission denied");
  EXPECT_TRUE(modal);
  EXPECT_TRUE(owned);
  EXPECT_TRUE(error);
  EXPECT_EQ(gtktest::LoggedWarnings(), warnings);
}

// ---- Save Log on the real window --------------------------------------------

std::string DatedName() {
  const platform::Date today = platform::Today();
  char name[64];
  std::snprintf(name, sizeof name, "larkspireRepoLog_%04d%02d%02d.txt",
                today.year, today.month, today.day);
  return name;
}

// Confirms the save dialog with `folder`/`name` after noting what it offered.
void SaveAs(DialogUser& user, Offered& offered, GtkWindow* owner,
            const std::string& folder, const std::string& name) {
  user.Then(Kind::kFileChooser, Observe(offered, owner));
  user.Then(Kind::kFileChooser, [folder, name](GtkDialog* d) {
    gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(d), folder.c_str());
    gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(d), name.c_str());
    DialogUser::Press(d, GTK_RESPONSE_ACCEPT);
  });
}

class DialogsSaveLog : public ::testing::Test {
 protected:
  void SetUp() override {
    form_.Show();
    window_ = gtktest::FindForm().window;
    ASSERT_TRUE(gtktest::WaitMapped(window_));
    for (const char* message : {"one", "two", "three"})
      ShowStatus(form_, message, 0, 0, 0);
  }
  frmMain form_;
  GtkWindow* window_ = nullptr;
  TempDir dir_;
};

TEST_F(DialogsSaveLog, AfterTheBatchWritesTheLogAsShown) {
  std::string log = "one\r\ntwo\r\nthree";
  for (int press = 1; press <= 2; ++press) {
    SCOPED_TRACE(press);
    Offered offered;
    DialogUser user;
    SaveAs(user, offered, window_, dir_.path(), "saved.txt");
    gtk_button_clicked(gtktest::FindForm().save);
    EXPECT_TRUE(user.Done());
    // Every press offers the dated name again, in the program's folder.
    EXPECT_EQ(offered.name, DatedName());
    EXPECT_EQ(offered.folder, platform::ApplicationFolder());
    EXPECT_EQ(ReadFile(dir_.path() + "/saved.txt"), log);
    ShowStatus(form_, "four", 0, 0, 0);
    log += "\r\nfour";
  }
}

TEST_F(DialogsSaveLog, CancelWritesAndShowsNothing) {
  DialogUser user;
  user.Then(Kind::kFileChooser,
            [](GtkDialog* d) { DialogUser::Press(d, GTK_RESPONSE_CANCEL); });
  form_.cmdSave.Click();
  EXPECT_TRUE(user.Done());
  EXPECT_TRUE(fs::is_empty(dir_.path()));
  EXPECT_EQ(form_.txtLog.Text(), "one\r\ntwo\r\nthree");
  EXPECT_STREQ(gtk_label_get_text(gtktest::FindForm().status), "three");
}

TEST_F(DialogsSaveLog, DuringADecoderRunTheBatchWaitsForTheDialog) {
  Offered offered;
  DialogUser user;
  SaveAs(user, offered, window_, dir_.path(), "mid.txt");
  // The user presses Save Log while the batch waits for a slow decoder.
  g_timeout_add(
      100,
      [](gpointer button) -> gboolean {
        gtk_button_clicked(GTK_BUTTON(button));
        return G_SOURCE_REMOVE;
      },
      gtktest::FindForm().save);
  const basFunctions::ShellResult run =
      basFunctions::ShellAndWait({"/bin/sleep 0.5", {"/bin/sleep", "0.5"}}, 0);
  EXPECT_EQ(run.kind, basFunctions::ShellResult::kEnded);
  EXPECT_TRUE(user.Done());
  ShowStatus(form_, "after the run", 0, 0, 0);
  EXPECT_EQ(ReadFile(dir_.path() + "/mid.txt"), "one\r\ntwo\r\nthree");
}

}  // namespace
