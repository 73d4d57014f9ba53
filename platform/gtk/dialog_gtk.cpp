// GTK 3 window backend: the modal dialogs. Implements from controls.h:
//  - CommonDialog::AskSave: a GtkFileChooserDialog in save mode, the
//    default extension added to the typed name before the chooser's own
//    overwrite confirmation asks about it
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

// The answer when the name is a folder's: the chooser would open the
// folder, where the user asked to write there; the write fails and says so.
constexpr gint kFolderChosen = 1;

// Save, before the dialog acts on it: the default extension goes on the
// typed name first, so that the chooser's own replace question, if any, is
// about the file that is written. Connected before the dialog's own
// handler, which asks it.
struct SaveClicked {
  GtkFileChooser* chooser;
  std::string extension;

  static void Handle(GtkButton* button, gpointer data) {
    const auto* self = static_cast<SaveClicked*>(data);
    const gtk::OwnedText typed(
        gtk_file_chooser_get_current_name(self->chooser));
    if (!typed) return;
    const std::string name = typed.get();
    if (!self->extension.empty() && !name.empty() &&
        !HasExtension(BaseName(name)))
      gtk_file_chooser_set_current_name(self->chooser,
                                        (name + "." + self->extension).c_str());
    const gtk::OwnedText path(gtk_file_chooser_get_filename(self->chooser));
    if (path && g_file_test(path.get(), G_FILE_TEST_IS_DIR)) {
      g_signal_stop_emission_by_name(button, "clicked");
      gtk_dialog_response(GTK_DIALOG(self->chooser), kFolderChosen);
    }
  }
};

}  // namespace

CommonDialog::Answer CommonDialog::AskSave() {
  GtkWidget* owner = parent_.impl().window.get();
  const std::string title =
      DialogTitle.empty() ? kDefaultSaveTitle : gtk::ValidUtf8(DialogTitle);
  gtk::TopLevel dialog(gtk_file_chooser_dialog_new(
      title.c_str(), GTK_WINDOW(owner), GTK_FILE_CHOOSER_ACTION_SAVE, "_Cancel",
      GTK_RESPONSE_CANCEL, nullptr));
  GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog.get());
  SaveClicked clicked{chooser, gtk::ValidUtf8(DefaultExt)};
  GtkWidget* save = gtk_button_new_with_mnemonic("_Save");
  g_signal_connect(save, "clicked", G_CALLBACK(&SaveClicked::Handle), &clicked);
  gtk_widget_set_can_default(save, TRUE);
  gtk_widget_show(save);
  gtk_dialog_add_action_widget(GTK_DIALOG(dialog.get()), save,
                               GTK_RESPONSE_ACCEPT);
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
    const gint response = Run(dialog.get());
    if (response != GTK_RESPONSE_ACCEPT && response != kFolderChosen)
      return Answer::kCancelled;
    const gtk::OwnedText chosen(gtk_file_chooser_get_filename(chooser));
    if (!chosen) continue;  // not a local file
    FileName = chosen.get();
    return Answer::kChosen;
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
