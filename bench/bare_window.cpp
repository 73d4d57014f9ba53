// The start-up the whole program cannot go below: the same window and
// widgets, started the same way, shown and pumped once as the batch does
// before its first file. It then starts a child at once, the moment the
// program would start its first decoder: the driver sees that start in the
// kernel's trace as it sees the program's.
//
// Usage: bench_bare_window (run from the driver, which traces its exit)
#include <unistd.h>

#include "platform/controls.h"
#include "platform/events.h"
#include "window/frmMain.h"

int main() {
  platform::Initialize();
  frmMain form;
  form.Show();
  ShowStatus(form, "Audio folder: /", 0, 0, 0);
  platform::PumpEvents();
  if (::vfork() == 0) ::_exit(0);
  ::_exit(0);  // no teardown: nothing after the start is measured
}
