#include "tests/gtk/gtk_support.h"

#include <gtest/gtest.h>

#include <memory>

#include "platform/controls.h"

namespace gtktest {

namespace {

int g_warnings = 0;

GLogWriterOutput CountingWriter(GLogLevelFlags level, const GLogField* fields,
                                gsize count, gpointer) {
  if (level & (G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING))
    ++g_warnings;
  return g_log_writer_default(level, fields, count, nullptr);
}

struct ListFree {
  void operator()(GList* list) const { g_list_free(list); }
};
using List = std::unique_ptr<GList, ListFree>;

}  // namespace

void CountWarnings() {
  g_log_set_writer_func(CountingWriter, nullptr, nullptr);
}
int LoggedWarnings() { return g_warnings; }

FormWidgets FindForm(const std::string& title) {
  FormWidgets form;
  List toplevels(gtk_window_list_toplevels());
  for (GList* item = toplevels.get(); item; item = item->next) {
    GtkWindow* window = GTK_WINDOW(item->data);
    const char* shown = gtk_window_get_title(window);
    if (shown && title == shown) form.window = window;
  }
  if (!form.window) return form;
  form.fixed = gtk_bin_get_child(GTK_BIN(form.window));
  List children(gtk_container_get_children(GTK_CONTAINER(form.fixed)));
  for (GList* item = children.get(); item; item = item->next) {
    GtkWidget* child = GTK_WIDGET(item->data);
    if (GTK_IS_LABEL(child)) {
      (form.status ? form.percent : form.status) = GTK_LABEL(child);
    } else if (GTK_IS_SCROLLED_WINDOW(child)) {
      form.logScroller = child;
      form.log = GTK_TEXT_VIEW(gtk_bin_get_child(GTK_BIN(child)));
    } else if (GTK_IS_PROGRESS_BAR(child)) {
      form.bar = GTK_PROGRESS_BAR(child);
    } else if (GTK_IS_BUTTON(child)) {
      form.save = GTK_BUTTON(child);
    }
  }
  return form;
}

void RunFor(int ms) {
  bool elapsed = false;
  const guint source = g_timeout_add(
      static_cast<guint>(ms),
      [](gpointer flag) -> gboolean {
        *static_cast<bool*>(flag) = true;
        return G_SOURCE_REMOVE;
      },
      &elapsed);
  while (!elapsed) g_main_context_iteration(nullptr, TRUE);
  (void)source;
}

bool RunUntil(const std::function<bool()>& done, int ms) {
  const auto start = Clock::now();
  while (!done() && MsSince(start) < ms) RunFor(5);
  return done();
}

bool WaitMapped(GtkWindow* window) {
  return RunUntil([window] {
    GtkAllocation allocation;
    gtk_widget_get_allocation(GTK_WIDGET(window), &allocation);
    return gtk_widget_get_mapped(GTK_WIDGET(window)) && allocation.width > 1;
  });
}

std::string BufferText(GtkTextView* view) {
  GtkTextBuffer* buffer = gtk_text_view_get_buffer(view);
  GtkTextIter start, end;
  gtk_text_buffer_get_bounds(buffer, &start, &end);
  gchar* text = gtk_text_buffer_get_text(buffer, &start, &end, TRUE);
  std::string result(text);
  g_free(text);
  return result;
}

// ---- DialogUser -------------------------------------------------------------

DialogUser::DialogUser() {
  source_ = g_timeout_add(20, &DialogUser::Poll, this);
}
DialogUser::~DialogUser() { g_source_remove(source_); }

void DialogUser::Then(Kind kind, Action action) {
  steps_.push_back({kind, std::move(action)});
}

void DialogUser::Press(GtkDialog* dialog, int response) {
  GtkWidget* button = gtk_dialog_get_widget_for_response(dialog, response);
  ASSERT_NE(button, nullptr) << "no button for response " << response;
  gtk_button_clicked(GTK_BUTTON(button));
}

gboolean DialogUser::Poll(gpointer data) {
  auto* self = static_cast<DialogUser*>(data);
  if (self->Done()) return G_SOURCE_CONTINUE;
  const Step& step = self->steps_[self->next_];
  // Dialogs only get events inside their gtk_dialog_run, so the newest
  // visible dialog of the kind is the one waiting for the user.
  List toplevels(gtk_window_list_toplevels());
  GtkDialog* found = nullptr;
  for (GList* item = toplevels.get(); item; item = item->next) {
    GtkWidget* widget = GTK_WIDGET(item->data);
    if (!gtk_widget_get_visible(widget) || !GTK_IS_DIALOG(widget)) continue;
    const bool chooser = GTK_IS_FILE_CHOOSER_DIALOG(widget);
    const bool message = GTK_IS_MESSAGE_DIALOG(widget);
    if ((step.kind == Kind::kFileChooser && chooser) ||
        (step.kind == Kind::kMessage && message))
      found = GTK_DIALOG(widget);
    // A message box on top of the chooser has the user's attention.
    if (step.kind == Kind::kFileChooser && message) return G_SOURCE_CONTINUE;
  }
  if (!found) return G_SOURCE_CONTINUE;
  ++self->next_;
  // Acted on from an idle callback: pressing a button may open a nested
  // dialog (GTK's own overwrite question), and this poll must keep running
  // to answer it.
  struct Pending {
    Action action;
    GtkDialog* dialog;
  };
  g_object_ref(found);
  g_idle_add(
      [](gpointer data) -> gboolean {
        std::unique_ptr<Pending> pending(static_cast<Pending*>(data));
        pending->action(pending->dialog);
        g_object_unref(pending->dialog);
        return G_SOURCE_REMOVE;
      },
      new Pending{step.action, found});
  return G_SOURCE_CONTINUE;
}

}  // namespace gtktest

int main(int argc, char** argv) {
  gtktest::CountWarnings();
  ::testing::InitGoogleTest(&argc, argv);
  platform::Initialize();
  return RUN_ALL_TESTS();
}
