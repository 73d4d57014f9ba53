// GTK 3 window backend: event pumping and the wait for a decoder run.
// Implements from events.h:
//  - PumpEvents: every pending GTK event, then whether the window is open
//  - WaitForEvents, WaitForProcessOrEvents: the child's pidfd, a timeout
//    and the GTK main context polled together, on the one thread
//  - SessionEndHandler: kept, never run; on Linux the session's end is a
//    signal, which closes the window as the close box does
#include <glib-unix.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <utility>

#include "platform/events.h"
#include "platform/gtk/backend_gtk.h"

namespace platform {

namespace {

// Without a pidfd nothing tells us the child has ended, nor when what it
// left has: look again this often.
constexpr unsigned kLookAgainMs = 10;
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

namespace {

// Blocks until something is dispatched: one of the sources the caller
// made, or a window event (handled right here, so the window stays
// responsive).
void IterateOnce() {
  while (!g_main_context_iteration(nullptr, TRUE)) {
  }
}

}  // namespace

bool WaitForEvents(unsigned ms) {
  {
    OneShotSource timeout(g_timeout_source_new(ms));
    IterateOnce();
  }
  return PumpEvents();
}

bool WaitForProcessOrEvents(Process& process, unsigned ms) {
  if (process.Over()) return true;
  const int pidfd = static_cast<int>(process.HandleValue());
  OneShotSource child(pidfd >= 0 && !process.Exited()
                          ? g_unix_fd_source_new(pidfd, G_IO_IN)
                          : g_timeout_source_new(std::min(ms, kLookAgainMs)));
  OneShotSource timeout(g_timeout_source_new(ms));
  IterateOnce();
  return process.Over();
}

SessionEndHandler::SessionEndHandler(std::function<void()> handler)
    : handler_(std::move(handler)) {}
SessionEndHandler::~SessionEndHandler() = default;

}  // namespace platform
