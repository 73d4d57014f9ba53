// The start-up the whole program cannot go below: the same window and
// widgets (frmMain), shown and given the first status line as the batch
// does, then pumped until GTK has drawn its first frame, the moment a user
// sees the window up. It then starts a child at once, where the program
// would start its first decoder: the driver sees that start in the
// kernel's trace as it sees the program's.
//
// Usage: bench_bare_window (run from the driver, which traces it)
#include <gtk/gtk.h>
#include <unistd.h>

#include "platform/controls.h"
#include "window/frmMain.h"

namespace {

GtkWidget* TheWindow() {
  GList* all = gtk_window_list_toplevels();
  GtkWidget* found = nullptr;
  for (GList* w = all; w && !found; w = w->next)
    if (gtk_widget_get_visible(GTK_WIDGET(w->data)))
      found = GTK_WIDGET(w->data);
  g_list_free(all);
  return found;
}

}  // namespace

int main() {
  platform::Initialize();
  frmMain form;
  form.Show();
  ShowStatus(form, "Audio folder: /", 0, 0, 0);
  bool drawn = false;
  GtkWidget* window = TheWindow();
  gtk_widget_realize(window);
  g_signal_connect_swapped(
      gdk_window_get_frame_clock(gtk_widget_get_window(window)), "after-paint",
      G_CALLBACK(+[](bool* done) { *done = true; }), &drawn);
  while (!drawn) gtk_main_iteration_do(TRUE);
  if (::vfork() == 0) ::_exit(0);
  ::_exit(0);  // no teardown: nothing after the start is measured
}
