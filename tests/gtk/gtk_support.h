// Helpers for the tests that run the GTK backend on a real display: find
// the real widgets behind the platform controls, run the main loop for a
// while, count GLib warnings, and act as the user on modal dialogs.
#pragma once

#include <gtk/gtk.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace gtktest {

// The widgets of the one window titled `title`, in creation order.
struct FormWidgets {
  GtkWindow* window = nullptr;
  GtkWidget* fixed = nullptr;
  GtkLabel* status = nullptr;
  GtkTextView* log = nullptr;
  GtkWidget* logScroller = nullptr;
  GtkProgressBar* bar = nullptr;
  GtkLabel* percent = nullptr;
  GtkButton* save = nullptr;
};
FormWidgets FindForm(const std::string& title = "Larkspire Decompress Tool");

// Runs the default main context for `ms` milliseconds.
void RunFor(int ms);
// Runs it until `done` holds or `ms` pass; returns `done()`.
bool RunUntil(const std::function<bool()>& done, int ms = 3000);
// Shows nothing itself: waits until `window` is mapped and laid out.
bool WaitMapped(GtkWindow* window);

// The text of a GtkTextView's buffer, hidden characters included.
std::string BufferText(GtkTextView* view);

// WARNING, CRITICAL and ERROR messages logged by GLib, GTK, Pango & co.
// since the program started.
int LoggedWarnings();
// Installs the counting log handlers; called once from main.
void CountWarnings();

using Clock = std::chrono::steady_clock;
inline double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start)
      .count();
}

// Acts as the user on the modal dialogs a call opens, one step per dialog
// showing, in order: each step waits for a visible dialog of its kind and
// then acts on it (typically by pressing one of its buttons).
class DialogUser {
 public:
  enum class Kind { kFileChooser, kMessage };
  using Action = std::function<void(GtkDialog*)>;

  DialogUser();
  ~DialogUser();
  DialogUser(const DialogUser&) = delete;
  DialogUser& operator=(const DialogUser&) = delete;

  void Then(Kind kind, Action action);
  // True when every step has run.
  bool Done() const { return next_ == steps_.size(); }

  // Presses the button of `response`, as a user's click does.
  static void Press(GtkDialog* dialog, int response);

 private:
  static gboolean Poll(gpointer self);
  struct Step {
    Kind kind;
    Action action;
  };
  std::vector<Step> steps_;
  std::size_t next_ = 0;
  guint source_ = 0;
};

}  // namespace gtktest
