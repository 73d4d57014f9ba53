// The window and its controls as real GTK widgets: layout at the screen's
// resolution, ShowStatus on the status line and the log, the progress bar,
// the button's access key, and closing.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "platform/controls.h"
#include "platform/platform.h"
#include "tests/gtk/gtk_support.h"
#include "window/frmMain.h"

namespace {

using gtktest::FindForm;
using gtktest::FormWidgets;

int Pixels(int twips) {
  double dpi = gdk_screen_get_resolution(gdk_screen_get_default());
  if (dpi <= 0) dpi = 96.0;
  return static_cast<int>(std::lround(twips * dpi / 1440.0));
}

GdkRectangle Allocation(GtkWidget* widget) {
  GtkAllocation allocation;
  gtk_widget_get_allocation(widget, &allocation);
  return allocation;
}

// The colour of a label's Pango foreground attribute, as 8-bit components.
bool LabelColor(GtkLabel* label, platform::Rgb& color) {
  PangoAttrList* attributes = gtk_label_get_attributes(label);
  if (!attributes) return false;
  PangoAttrIterator* it = pango_attr_list_get_iterator(attributes);
  auto* foreground = reinterpret_cast<PangoAttrColor*>(
      pango_attr_iterator_get(it, PANGO_ATTR_FOREGROUND));
  if (foreground)
    color = {static_cast<std::uint8_t>(foreground->color.red >> 8),
             static_cast<std::uint8_t>(foreground->color.green >> 8),
             static_cast<std::uint8_t>(foreground->color.blue >> 8)};
  pango_attr_iterator_destroy(it);
  return foreground != nullptr;
}

// A shown frmMain with its widgets; no GLib warning may be logged meanwhile.
class FormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    warnings_ = gtktest::LoggedWarnings();
    form_.Show();
    w_ = FindForm();
    ASSERT_NE(w_.window, nullptr);
    ASSERT_TRUE(w_.status && w_.log && w_.bar && w_.percent && w_.save);
    ASSERT_TRUE(gtktest::WaitMapped(w_.window));
  }
  void TearDown() override {
    EXPECT_EQ(gtktest::LoggedWarnings(), warnings_)
        << "GLib, GTK or Pango logged a warning";
  }
  // Lets GTK lay out, scroll and draw.
  void Settle() { gtktest::RunFor(150); }

  frmMain form_;
  FormWidgets w_;
  int warnings_ = 0;
};

// ---- Layout -----------------------------------------------------------------

using WidgetsLayout = FormTest;

TEST_F(WidgetsLayout, ClientAreaAndControlsSitAtTheirTwips) {
  // A long status and a wide percentage must not stretch anything either.
  ShowStatus(form_,
             "/home/user/" + std::string(40, 'x') + " " +
                 std::string(300, 'y') + " decoding complete.",
             0, 0, 0);
  form_.lblPercent.SetCaption("Progress: 66.7%");
  Settle();

  const GdkRectangle client = Allocation(w_.fixed);
  EXPECT_EQ(client.width, Pixels(6840));
  EXPECT_EQ(client.height, Pixels(4035));
  int width = 0, height = 0;
  gtk_window_get_size(w_.window, &width, &height);
  EXPECT_EQ(width, Pixels(6840));
  EXPECT_EQ(height, Pixels(4035));

  struct Expected {
    const char* name;
    GtkWidget* widget;
    platform::Rect rect;
    int slack;  // pixels of height the theme's font may add
  };
  const Expected controls[] = {
      {"lblStatus", GTK_WIDGET(w_.status), {120, 120, 6615, 495}, 2},
      {"txtLog", w_.logScroller, {120, 600, 6615, 2535}, 0},
      {"pbProgress", GTK_WIDGET(w_.bar), {120, 3360, 6375, 255}, 0},
  };
  for (const Expected& c : controls) {
    SCOPED_TRACE(c.name);
    const GdkRectangle a = Allocation(c.widget);
    EXPECT_EQ(a.x - client.x, Pixels(c.rect.left));
    EXPECT_EQ(a.y - client.y, Pixels(c.rect.top));
    EXPECT_EQ(a.width, Pixels(c.rect.width));
    EXPECT_GE(a.height, Pixels(c.rect.height));
    EXPECT_LE(a.height, Pixels(c.rect.height) + c.slack);
  }
  // The long status wraps onto the two lines its rectangle holds, then ends
  // in an ellipsis.
  PangoLayout* status = gtk_label_get_layout(w_.status);
  EXPECT_EQ(pango_layout_get_line_count(status), 2);
  EXPECT_TRUE(pango_layout_is_ellipsized(status));
  // The button may need a few pixels more for the theme's font; its right
  // edge stays on the bar's, and it stays inside the client area.
  const GdkRectangle bar = Allocation(GTK_WIDGET(w_.bar));
  const GdkRectangle save = Allocation(GTK_WIDGET(w_.save));
  EXPECT_EQ(save.x + save.width, bar.x + bar.width);
  EXPECT_EQ(save.x + save.width - client.x, Pixels(5520 + 975));
  EXPECT_GE(save.width, Pixels(975));
  EXPECT_LE(save.y - client.y, Pixels(3720));
  EXPECT_GE(save.height, Pixels(255));
  EXPECT_LE(save.y + save.height, client.y + client.height);
  EXPECT_LE(save.height, Pixels(255) + 4) << "the button should stay small";
}

TEST_F(WidgetsLayout, PercentageStaysCentredAndWhole) {
  const double centre = Pixels(2760) + Pixels(1215) / 2.0;
  for (const char* caption :
       {"Progress:", "Progress: 8.3%", "Progress: 66.7%", "Progress: 100%"}) {
    SCOPED_TRACE(caption);
    form_.lblPercent.SetCaption(caption);
    Settle();
    EXPECT_STREQ(gtk_label_get_text(w_.percent), caption);
    EXPECT_FALSE(pango_layout_is_ellipsized(gtk_label_get_layout(w_.percent)));
    const GdkRectangle a = Allocation(GTK_WIDGET(w_.percent));
    EXPECT_NEAR(a.x + a.width / 2.0, centre, 1.0);
    EXPECT_GE(a.width, Pixels(1215));
  }
}

TEST_F(WidgetsLayout, WindowIsFixedWithItsOwnIcon) {
  EXPECT_STREQ(gtk_window_get_title(w_.window), "Larkspire Decompress Tool");
  EXPECT_FALSE(gtk_window_get_resizable(w_.window));
  GdkPixbuf* icon = gtk_window_get_icon(w_.window);
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(gdk_pixbuf_get_width(icon), 16);
  EXPECT_EQ(gdk_pixbuf_get_height(icon), 16);
  EXPECT_FALSE(gtk_widget_get_can_default(GTK_WIDGET(w_.save)));
  EXPECT_FALSE(gtk_text_view_get_editable(w_.log));
  GtkPolicyType horizontal, vertical;
  gtk_scrolled_window_get_policy(GTK_SCROLLED_WINDOW(w_.logScroller),
                                 &horizontal, &vertical);
  EXPECT_EQ(vertical, GTK_POLICY_ALWAYS);
}

// ---- ShowStatus -------------------------------------------------------------

using WidgetsShowStatus = FormTest;

TEST_F(WidgetsShowStatus, StatusLineTakesTextAndColour) {
  const struct {
    const char* text;
    int red, green, blue;
  } cases[] = {
      {"Decoding a.mp3...", 0, 0, 0},
      {"/music/a.mp3 decoding failed (no WAV file was written).", 255, 0, 0},
      {"Larkspire Decompress utility has completed all actions.", 0, 128, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    ShowStatus(form_, c.text, c.red, c.green, c.blue);
    EXPECT_STREQ(gtk_label_get_text(w_.status), c.text);
    platform::Rgb shown{1, 2, 3};
    ASSERT_TRUE(LabelColor(w_.status, shown));
    EXPECT_EQ(shown, (platform::Rgb{std::uint8_t(c.red), std::uint8_t(c.green),
                                    std::uint8_t(c.blue)}));
  }
}

TEST_F(WidgetsShowStatus, LogJoinsMessagesWithCrLf) {
  const struct {
    std::vector<std::string> messages;
    std::string log;
  } cases[] = {
      {{"only"}, "only"},
      {{"one", "two", "three"}, "one\r\ntwo\r\nthree"},
      {{"one", ""}, "one\r\n"},
      {{"", "first"}, "first"},
      {{"a", "", "b"}, "a\r\n\r\nb"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.log);
    form_.txtLog.SetText("");
    for (const std::string& message : c.messages)
      ShowStatus(form_, message, 0, 0, 0);
    EXPECT_EQ(gtktest::BufferText(w_.log), c.log);
    EXPECT_EQ(form_.txtLog.Text(), c.log);
    EXPECT_STREQ(gtk_label_get_text(w_.status), c.messages.back().c_str());
    // The caret sits at the very end with nothing selected.
    GtkTextBuffer* buffer = gtk_text_view_get_buffer(w_.log);
    GtkTextIter caret, end;
    gtk_text_buffer_get_iter_at_mark(buffer, &caret,
                                     gtk_text_buffer_get_insert(buffer));
    gtk_text_buffer_get_end_iter(buffer, &end);
    EXPECT_TRUE(gtk_text_iter_equal(&caret, &end));
    EXPECT_FALSE(gtk_text_buffer_get_has_selection(buffer));
    EXPECT_EQ(form_.txtLog.SelLength(), 0u);
  }
}

// Whether the log's last line lies inside the part of the view shown.
bool LastLineVisible(GtkTextView* view) {
  GtkTextBuffer* buffer = gtk_text_view_get_buffer(view);
  GtkTextIter end;
  gtk_text_buffer_get_end_iter(buffer, &end);
  int y = 0, height = 0;
  gtk_text_view_get_line_yrange(view, &end, &y, &height);
  GdkRectangle visible;
  gtk_text_view_get_visible_rect(view, &visible);
  return y >= visible.y && y + height <= visible.y + visible.height;
}

TEST_F(WidgetsShowStatus, NewestMessageScrollsIntoView) {
  for (int i = 1; i <= 200; ++i)
    ShowStatus(form_, "Decoding track " + std::to_string(i) + ".mp3...", 0, 0,
               0);
  Settle();
  GtkAdjustment* v = gtk_scrollable_get_vadjustment(GTK_SCROLLABLE(w_.log));
  ASSERT_GT(gtk_adjustment_get_upper(v), 3 * gtk_adjustment_get_page_size(v))
      << "the log should be far taller than its box";
  EXPECT_NEAR(gtk_adjustment_get_value(v) + gtk_adjustment_get_page_size(v),
              gtk_adjustment_get_upper(v), 1.0);
  EXPECT_TRUE(LastLineVisible(w_.log));
  EXPECT_EQ(form_.txtLog.SelStart(), form_.txtLog.Length());

  // Whatever the user scrolled to, the next message brings the end back.
  gtk_adjustment_set_value(v, 0);
  Settle();
  ASSERT_FALSE(LastLineVisible(w_.log));
  ShowStatus(form_, "one more", 0, 0, 0);
  Settle();
  EXPECT_TRUE(LastLineVisible(w_.log));
}

// Each message costs about the same on a long log as on a short one: the
// log is appended to, never copied and set again whole.
TEST_F(WidgetsShowStatus, AppendingDoesNotSlowWithTheLog) {
  auto timeMessages = [this] {
    const auto start = gtktest::Clock::now();
    for (int i = 0; i < 200; ++i) {
      ShowStatus(form_, "/music/album/track " + std::to_string(i) + ".mp3", 0,
                 0, 0);
      platform::PumpEvents();
    }
    return gtktest::MsSince(start);
  };
  form_.txtLog.SetText("");
  Settle();
  const double shortLog = timeMessages();
  std::string lines;
  for (int i = 0; i < 5000; ++i)
    lines += "/music/album/earlier track " + std::to_string(i) + ".mp3\r\n";
  form_.txtLog.SetText(lines + "last");
  gtktest::RunFor(1000);  // let GTK lay the long text out first
  const double longLog = timeMessages();
  EXPECT_LT(longLog, 3 * shortLog + 100)
      << "short log " << shortLog << " ms, long log " << longLog << " ms";
  EXPECT_EQ(form_.txtLog.Text().compare(0, lines.size(), lines), 0);
}

TEST_F(WidgetsShowStatus, FileNameBytesNeverBreakGtk) {
  const struct {
    std::string text;
    std::string shown;  // what GTK displays and the log holds
  } cases[] = {
      {"Decoding Caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC.mp3...",
       "Decoding Caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC.mp3..."},
      {"Decoding bad\xFF name.mp3...", "Decoding bad\xEF\xBF\xBD name.mp3..."},
      {"cut \xE2\x82", "cut \xEF\xBF\xBD\xEF\xBF\xBD"},
      {"Latin-1 \xE9t\xE9", "Latin-1 \xEF\xBF\xBDt\xEF\xBF\xBD"},
      {std::string("nul\0byte", 8),
       "nul\xEF\xBF\xBD"
       "byte"},
  };
  std::string log;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.shown);
    ShowStatus(form_, c.text, 255, 0, 0);
    form_.lblPercent.SetCaption(c.text);
    log += (log.empty() ? "" : "\r\n") + c.shown;
    EXPECT_EQ(form_.lblStatus.Caption(), c.text);  // as set, byte for byte
    EXPECT_EQ(gtk_label_get_text(w_.status), c.shown);
    EXPECT_EQ(gtk_label_get_text(w_.percent), c.shown);
  }
  Settle();
  EXPECT_EQ(form_.txtLog.Text(), log);
  EXPECT_EQ(form_.txtLog.Length(),
            static_cast<std::size_t>(g_utf8_strlen(log.c_str(), -1)));
}

// ---- Progress bar -----------------------------------------------------------

using WidgetsProgressBar = FormTest;

TEST_F(WidgetsProgressBar, TakesZeroToHundredOnly) {
  for (float value : {0.0f, 8.333333f, 66.66667f, 100.0f}) {
    form_.pbProgress.SetValue(value);
    EXPECT_FLOAT_EQ(form_.pbProgress.Value(), value);
    EXPECT_NEAR(gtk_progress_bar_get_fraction(w_.bar), value / 100.0, 1e-6);
  }
  form_.pbProgress.SetValue(25.0f);
  const float inf = std::numeric_limits<float>::infinity();
  for (float value : {-0.001f, 100.001f, std::nanf(""), inf, -inf}) {
    SCOPED_TRACE(value);
    try {
      form_.pbProgress.SetValue(value);
      ADD_FAILURE() << "accepted";
    } catch (const platform::Error& e) {
      EXPECT_EQ(e.Number(), platform::kErrInvalidPropertyValue);
      EXPECT_EQ(e.Description(), "Invalid property value");
    }
    EXPECT_EQ(form_.pbProgress.Value(), 25.0f);
    EXPECT_DOUBLE_EQ(gtk_progress_bar_get_fraction(w_.bar), 0.25);
  }
}

// ---- Button -----------------------------------------------------------------

TEST(WidgetsButton, AmpersandBecomesTheAccessKey) {
  const struct {
    const char* caption;
    const char* gtkLabel;
    guint key;  // 0: none
  } cases[] = {
      {"&Save Log", "_Save Log", GDK_KEY_s},
      {"Save &Log", "Save _Log", GDK_KEY_l},
      {"Fish && Chips", "Fish & Chips", 0},
      {"snake_case &x", "snake__case _x", GDK_KEY_x},
      {"trailing&", "trailing&", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.caption);
    platform::Window window("Button test", 3000, 1000);
    platform::CommandButton button(window, {100, 100, 2000, 400}, c.caption);
    int clicks = 0;
    button.OnClick([&clicks] { ++clicks; });
    window.Show();
    FormWidgets w = FindForm("Button test");
    ASSERT_TRUE(w.save && gtktest::WaitMapped(w.window));
    EXPECT_EQ(button.Caption(), c.caption);
    EXPECT_STREQ(gtk_button_get_label(w.save), c.gtkLabel);
    EXPECT_TRUE(gtk_button_get_use_underline(w.save));

    button.Click();
    EXPECT_EQ(clicks, 1);
    if (c.key) {
      // Alt+key, as the keyboard would press it.
      EXPECT_TRUE(gtk_window_mnemonic_activate(w.window, c.key, GDK_MOD1_MASK));
      // The button shows itself pressed for a moment before it clicks.
      EXPECT_TRUE(gtktest::RunUntil([&clicks] { return clicks == 2; }, 2000));
    }
  }
}

TEST(WidgetsButton, OutlivedWidgetDoesNotCallBack) {
  platform::Window window("Button test", 3000, 1000);
  int clicks = 0;
  GtkWidget* widget = nullptr;
  {
    platform::CommandButton button(window, {100, 100, 2000, 400}, "&Go");
    button.OnClick([&clicks] { ++clicks; });
    widget = GTK_WIDGET(FindForm("Button test").save);
  }
  ASSERT_NE(widget, nullptr);
  gtk_button_clicked(GTK_BUTTON(widget));  // still in the window
  EXPECT_EQ(clicks, 0);
}

// ---- Closing ----------------------------------------------------------------

using WidgetsClose = FormTest;

TEST_F(WidgetsClose, CloseBoxHidesAndKeepsTheControls) {
  EXPECT_TRUE(platform::PumpEvents());
  gtk_window_close(w_.window);  // what the window manager's close box sends
  ASSERT_TRUE(gtktest::RunUntil([this] { return form_.Closed(); }));
  EXPECT_FALSE(platform::PumpEvents());
  EXPECT_FALSE(platform::PumpEvents()) << "closed stays closed";
  EXPECT_FALSE(gtk_widget_get_visible(GTK_WIDGET(w_.window)));
  // The batch may still write to its controls: they are alive.
  ShowStatus(form_, "after close", 0, 0, 0);
  EXPECT_STREQ(gtk_label_get_text(w_.status), "after close");
  form_.RunUntilClosed();  // returns at once
  form_.Show();
  EXPECT_FALSE(gtk_widget_get_visible(GTK_WIDGET(w_.window)));
}

TEST_F(WidgetsClose, RunUntilClosedEndsWithTheCloseBox) {
  g_timeout_add(
      100,
      [](gpointer window) -> gboolean {
        gtk_window_close(GTK_WINDOW(window));
        return G_SOURCE_REMOVE;
      },
      w_.window);
  const auto start = gtktest::Clock::now();
  form_.RunUntilClosed();
  EXPECT_TRUE(form_.Closed());
  EXPECT_LT(gtktest::MsSince(start), 1000);
}

TEST(WidgetsCloseAgain, NewWindowStartsOpen) {
  {
    frmMain first;
    first.Show();
    gtk_window_close(FindForm().window);
    ASSERT_TRUE(gtktest::RunUntil([&first] { return first.Closed(); }));
  }
  frmMain second;
  second.Show();
  EXPECT_TRUE(platform::PumpEvents());
  EXPECT_FALSE(second.Closed());
}

}  // namespace
