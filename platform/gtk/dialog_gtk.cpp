// GTK 3 window backend: the modal dialogs. Implements from controls.h:
//  - CommonDialog::AskSave: a GtkFileChooserDialog in save mode, with
//    overwrite confirmation and the default extension added
//  - ShowError: a modal GtkMessageDialog owned by the window
//  - ShowStartupError: a line on standard error
#include <gtk/gtk.h>

#include <cstdio>
#include <memory>
#include <string>

#include "platform/gtk/backend_gtk.h"
#include "platform/platform.h"

namespace platform {

namespace {

// What the dialog shows when the program sets no title.
const char kDefaultSaveTitle[] = "Save As";

constexpr auto kModal = static_cast<GtkDialogFlags>(
    GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT);

std::string BaseName(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The folder a path names, or "" for a bare name.
std::string FolderNamedIn(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return "";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Runs one of the program's dialogs. Once the main window has been closed
// (by a signal, while a dialog was open) every dialog is answered as
// cancelled, shown or not.
gint Run(GtkWidget* dialog) {
  const Window::Impl* window = gtk::State().window;
  if (window && window->closed) return GTK_RESPONSE_CANCEL;
  return gtk_dialog_run(GTK_DIALOG(dialog));
}

// A leading dot starts a hidden name, not an extension.
bool HasExtension(const std::string& name) {
  return name.find('.', 1) != std::string::npos;
}

// The chooser confirmed the name the user typed; the default extension
// makes it another file, which may exist too.
bool ConfirmReplace(GtkWidget* parent, const std::string& path) {
  gtk::TopLevel box(gtk_message_dialog_new(
      GTK_WINDOW(parent), kModal, GTK_MESSAGE_QUESTION, GTK_BUTTONS_NONE,
      "A file named \xE2\x80\x9C%s\xE2\x80\x9D already exists.  Do you want "
      "to replace it?",
      gtk::ValidUtf8(BaseName(path)).c_str()));
  gtk_dialog_add_buttons(GTK_DIALOG(box.get()), "_Cancel", GTK_RESPONSE_CANCEL,
                         "_Replace", GTK_RESPONSE_ACCEPT, nullptr);
  return Run(box.get()) == GTK_RESPONSE_ACCEPT;
}

}  // namespace

CommonDialog::Answer CommonDialog::AskSave() {
  GtkWidget* owner = parent_.impl().window.get();
  const std::string title =
      DialogTitle.empty() ? kDefaultSaveTitle : gtk::ValidUtf8(DialogTitle);
  gtk::TopLevel dialog(gtk_file_chooser_dialog_new(
      title.c_str(), GTK_WINDOW(owner), GTK_FILE_CHOOSER_ACTION_SAVE, "_Cancel",
      GTK_RESPONSE_CANCEL, "_Save", GTK_RESPONSE_ACCEPT, nullptr));
  GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog.get());
  gtk_window_set_modal(GTK_WINDOW(dialog.get()), TRUE);
  gtk_file_chooser_set_do_overwrite_confirmation(chooser, TRUE);
  // A file name with a folder overrides the initial folder, as on Windows.
  const std::string folder =
      FolderNamedIn(FileName).empty() ? InitDir : FolderNamedIn(FileName);
  if (!folder.empty())
    gtk_file_chooser_set_current_folder(chooser, folder.c_str());
  gtk_file_chooser_set_current_name(chooser,
                                    gtk::ValidUtf8(BaseName(FileName)).c_str());

  for (;;) {
    if (Run(dialog.get()) != GTK_RESPONSE_ACCEPT) return Answer::kCancelled;
    const gtk::OwnedText chosen(gtk_file_chooser_get_filename(chooser));
    if (!chosen) continue;  // not a local file
    std::string path = chosen.get();
    const bool extended = !DefaultExt.empty() && !HasExtension(BaseName(path));
    if (extended) path += "." + DefaultExt;
    if (!extended || !g_file_test(path.c_str(), G_FILE_TEST_EXISTS) ||
        ConfirmReplace(dialog.get(), path)) {
      FileName = path;
      return Answer::kChosen;
    }
  }
}

void ShowStartupError(const std::string& text) {
  std::fprintf(stderr, "larkspire_decompress: %s\n", text.c_str());
}

void ShowError(Window& owner, const std::string& title,
               const std::string& text) {
  gtk::TopLevel box(gtk_message_dialog_new(
      GTK_WINDOW(owner.impl().window.get()), kModal, GTK_MESSAGE_ERROR,
      GTK_BUTTONS_OK, "%s", gtk::ValidUtf8(text).c_str()));
  gtk_window_set_title(GTK_WINDOW(box.get()), gtk::ValidUtf8(title).c_str());
  Run(box.get());
}

}  // namespace platform
