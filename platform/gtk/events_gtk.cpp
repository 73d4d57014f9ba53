// GTK 3 window backend: event pumping and the wait for a decoder run.
// Implements from events.h:
//  - PumpEvents: every pending GTK event, then whether the window is open
//  - WaitForProcessOrEvents: the child's pidfd, a timeout and the GTK main
//    context polled together, on the one thread
#include <glib-unix.h>
#include <gtk/gtk.h>

#include <algorithm>

#include "platform/events.h"
#include "platform/gtk/backend_gtk.h"

namespace platform {

namespace {

// Without a pidfd nothing tells us the child has ended: look again this
// often.
constexpr unsigned kNoPidfdPollMs = 10;
// A source that is always ready must not keep the batch in one pump.
constexpr int kMaxEventsPerPump = 10000;

// Owns a source attached to the default main context for one wait. Its
// callback fires once, so a nested main loop (a dialog opened by an event
// handler meanwhile) does not spin on a pidfd that stays readable.
class OneShotSource {
 public:
  explicit OneShotSource(GSource* source) : source_(source) {
    g_source_set_callback(source_, G_SOURCE_FUNC(&OneShotSource::Fired),
                          nullptr, nullptr);
    g_source_attach(source_, nullptr);
  }
  OneShotSource(const OneShotSource&) = delete;
  OneShotSource& operator=(const OneShotSource&) = delete;
  ~OneShotSource() {
    g_source_destroy(source_);
    g_source_unref(source_);
  }

 private:
  // Serves both a timeout (GSourceFunc) and an fd source
  // (GUnixFDSourceFunc): neither looks at its arguments.
  static gboolean Fired() { return G_SOURCE_REMOVE; }

  GSource* source_;
};

}  // namespace

namespace gtk {

Data& State() {
  static Data data;
  return data;
}

}  // namespace gtk

bool PumpEvents() {
  for (int i = 0; i < kMaxEventsPerPump && gtk_events_pending(); ++i)
    gtk_main_iteration_do(FALSE);
  const Window::Impl* window = gtk::State().window;
  return !(window && window->closed);
}

bool WaitForProcessOrEvents(Process& process, unsigned ms) {
  if (process.Wait(0)) return true;
  const int pidfd = static_cast<int>(process.HandleValue());
  OneShotSource child(pidfd >= 0
                          ? g_unix_fd_source_new(pidfd, G_IO_IN)
                          : g_timeout_source_new(std::min(ms, kNoPidfdPollMs)));
  OneShotSource timeout(g_timeout_source_new(ms));
  // Blocks until something is dispatched: the child's end, the timeout, or
  // a window event (handled right here, so the window stays responsive).
  while (!g_main_context_iteration(nullptr, TRUE)) {
  }
  return process.Wait(0);
}

}  // namespace platform
