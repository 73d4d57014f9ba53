// Waiting for a decoder run while the window stays responsive: the wait
// ends as soon as the child does, window events are handled within a few
// milliseconds meanwhile, and closing the window stops the wait.
#include <gtest/gtest.h>
#include <time.h>

#include <algorithm>
#include <string>
#include <vector>

#include "batch/basFunctions.h"
#include "platform/platform.h"
#include "tests/gtk/gtk_support.h"
#include "window/frmMain.h"

namespace {

using gtktest::Clock;
using gtktest::MsSince;

platform::Process Start(const std::vector<std::string>& argv) {
  std::string text;
  for (const std::string& arg : argv) text += (text.empty() ? "" : " ") + arg;
  return platform::Process::Start({text, argv}, 0);
}

// The batch's loop around the wait.
void WaitLikeTheBatch(platform::Process& process) {
  while (!platform::WaitForProcessOrEvents(process, 500))
    platform::PumpEvents();
}

double CpuMs() {
  timespec now;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

TEST(EventsWait, EndsSoonAfterTheChild) {
  const struct {
    const char* seconds;
    double atLeastMs, atMostMs;
  } cases[] = {
      {"0", 0, 60},
      {"0.05", 50, 110},
      {"0.3", 300, 360},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.seconds);
    const auto start = Clock::now();
    platform::Process process = Start({"/bin/sleep", c.seconds});
    WaitLikeTheBatch(process);
    const double elapsed = MsSince(start);
    EXPECT_TRUE(process.Ended());
    EXPECT_EQ(process.Exit().code, 0);
    EXPECT_GE(elapsed, c.atLeastMs);
    EXPECT_LE(elapsed, c.atMostMs) << "the wait outlived the child";
  }
}

TEST(EventsWait, WindowEventsKeepFlowing) {
  std::vector<Clock::time_point> ticks;
  const guint ticker = g_timeout_add(
      10,
      [](gpointer data) -> gboolean {
        static_cast<std::vector<Clock::time_point>*>(data)->push_back(
            Clock::now());
        return G_SOURCE_CONTINUE;
      },
      &ticks);
  const auto start = Clock::now();
  platform::Process process = Start({"/bin/sleep", "1"});
  WaitLikeTheBatch(process);
  const double elapsed = MsSince(start);
  g_source_remove(ticker);

  EXPECT_LT(elapsed, 1100);
  ASSERT_GE(ticks.size(), 60u);
  double worst =
      std::chrono::duration<double, std::milli>(ticks[0] - start).count();
  for (std::size_t i = 1; i < ticks.size(); ++i)
    worst = std::max(worst, std::chrono::duration<double, std::milli>(
                                ticks[i] - ticks[i - 1])
                                .count());
  EXPECT_LT(worst, 50) << "window events waited for the 500 ms slice";
}

// A handler that opens a modal dialog runs a nested main loop inside the
// wait; the child may end meanwhile. That loop must not spin on the
// child's end.
TEST(EventsWait, NestedLoopStaysIdleAfterTheChildEnds) {
  double cpu = -1;
  struct Nested {
    double* cpu;
  } nested{&cpu};
  g_timeout_add(
      20,
      [](gpointer data) -> gboolean {
        GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
        g_timeout_add(
            300,
            [](gpointer l) -> gboolean {
              g_main_loop_quit(static_cast<GMainLoop*>(l));
              return G_SOURCE_REMOVE;
            },
            loop);
        const double before = CpuMs();
        g_main_loop_run(loop);
        *static_cast<Nested*>(data)->cpu = CpuMs() - before;
        g_main_loop_unref(loop);
        return G_SOURCE_REMOVE;
      },
      &nested);
  platform::Process process = Start({"/bin/sleep", "0.05"});
  WaitLikeTheBatch(process);
  ASSERT_GE(cpu, 0) << "the nested loop never ran";
  EXPECT_LT(cpu, 100) << "the nested loop busy-waited";
}

TEST(EventsWait, ClosingTheWindowStopsTheWaitButNotTheChild) {
  frmMain form;
  form.Show();
  GtkWindow* window = gtktest::FindForm().window;
  ASSERT_TRUE(gtktest::WaitMapped(window));
  g_timeout_add(
      100,
      [](gpointer w) -> gboolean {
        gtk_window_close(GTK_WINDOW(w));
        return G_SOURCE_REMOVE;
      },
      window);
  const auto start = Clock::now();
  const basFunctions::ShellResult result =
      basFunctions::ShellAndWait({"/bin/sleep 1", {"/bin/sleep", "1"}}, 0);
  EXPECT_EQ(result.kind, basFunctions::ShellResult::kAbandoned);
  EXPECT_LT(MsSince(start), 160);
  EXPECT_TRUE(form.Closed());
}

}  // namespace
