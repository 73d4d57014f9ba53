// The GTK backend's window and widgets on a real display (its dialogs show
// in the window rows).
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <cmath>
#include <cstring>
#include <functional>

#include "platform/readable_colour.h"
#include "window/frmMain.h"

namespace {

void RunUntil(const std::function<bool()>& done, int ms = 3000) {
  const gint64 end = g_get_monotonic_time() + ms * 1000;
  while (!done() && g_get_monotonic_time() < end)
    g_main_context_iteration(nullptr, FALSE);
}

template <typename T>
T* Find(GtkWidget* parent, GType type, int nth = 0) {
  GList* children = gtk_container_get_children(GTK_CONTAINER(parent));
  gpointer found = nullptr;
  for (GList* c = children; c && !found; c = c->next)
    if (G_TYPE_CHECK_INSTANCE_TYPE(c->data, type) && nth-- == 0)
      found = c->data;
  g_list_free(children);
  return static_cast<T*>(found);
}

// What a screen reader calls the widget.
std::string Named(gpointer widget) {
  const char* name =
      atk_object_get_name(gtk_widget_get_accessible(GTK_WIDGET(widget)));
  return name ? name : "";
}

GdkRectangle Box(gpointer widget) {
  GtkAllocation a;
  gtk_widget_get_allocation(GTK_WIDGET(widget), &a);
  return a;
}

// Where a label's text is drawn.
GdkRectangle Ink(gpointer label) {
  PangoRectangle ink;
  pango_layout_get_pixel_extents(gtk_label_get_layout(GTK_LABEL(label)), &ink,
                                 nullptr);
  int x = 0, y = 0;
  gtk_label_get_layout_offsets(GTK_LABEL(label), &x, &y);
  return {x + ink.x, y + ink.y, ink.width, ink.height};
}

// The form's window, shown and drawn: on Wayland the compositor's first
// configure, after the window is shown, lays it out again.
GtkWindow* Shown(frmMain& form) {
  form.Show();
  GList* all = gtk_window_list_toplevels();
  GtkWidget* window = nullptr;
  for (GList* w = all; w; w = w->next)
    if (gtk_widget_get_visible(GTK_WIDGET(w->data)))
      window = GTK_WIDGET(w->data);
  g_list_free(all);
  bool drawn = false;
  const gulong once = g_signal_connect_swapped(
      window, "draw", G_CALLBACK(+[](bool* d) { return (*d = true) && false; }),
      &drawn);
  RunUntil([&drawn] { return drawn; });
  g_signal_handler_disconnect(window, once);
  // A font set before it was shown is followed once every style has it.
  for (int i = 0; i < 1000 && g_main_context_iteration(nullptr, FALSE); ++i) {
  }
  GtkWidget* fixed = gtk_bin_get_child(GTK_BIN(window));
  RunUntil([fixed] {
    int width = 0, height = 0;
    gtk_widget_get_size_request(fixed, &width, &height);
    return Box(fixed).width == width && Box(fixed).height == height;
  });
  return GTK_WINDOW(window);
}

// The user's font (none: the session's own).
void UseFont(const char* name) {
  GtkSettings* settings = gtk_settings_get_default();
  if (!name) gtk_settings_reset_property(settings, "gtk-font-name");
  if (name) g_object_set(settings, "gtk-font-name", name, nullptr);
}

const char kFinal[] =
    "Larkspire Decompress utility has completed all actions. 1 of 3 MP3 "
    "files could not be decoded.";

// Each test in the theme's font, and again in the larger ones a user may
// choose for reading comfort: the window grows with the font.
class Gtk : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    UseFont(GetParam());  // to the form made already: its window follows
    window = Shown(form);
    fixed = gtk_bin_get_child(GTK_BIN(window));
  }
  frmMain form;
  GtkWindow* window = nullptr;
  GtkWidget* fixed = nullptr;
};

TEST_P(Gtk, WidgetsShowTheForm) {
  // New text is laid out within the client area: each layout of the whole
  // window asks the display server twice, though its size never changes.
  int windowLayouts = 0;
  const gulong counted = g_signal_connect_swapped(
      window, "check-resize", G_CALLBACK(+[](int* n) { ++*n; }),
      &windowLayouts);
  GtkLabel* status = Find<GtkLabel>(fixed, GTK_TYPE_LABEL, 0);
  ShowStatus(form, "bad\xff " + std::string(400, 'y'), 255, 0, 0);
  ShowStatus(form, kFinal, 255, 0, 0);
  GtkLabel* percent = Find<GtkLabel>(fixed, GTK_TYPE_LABEL, 1);
  form.lblPercent.SetCaption("Progress: 66.7%");
  RunUntil([] { return false; }, 150);
  EXPECT_STREQ(gtk_label_get_text(status), kFinal);
  EXPECT_EQ(windowLayouts, 0);
  g_signal_handler_disconnect(window, counted);
  // Both labels' text drawn whole, each control clear of the others inside
  // the client area, and Save Log below the bar, its right edge on the bar's.
  for (GtkLabel* label : {status, percent})
    EXPECT_FALSE(pango_layout_is_ellipsized(gtk_label_get_layout(label)));
  const GdkRectangle c[] = {
      Ink(status),
      Box(Find<GtkWidget>(fixed, GTK_TYPE_SCROLLED_WINDOW)),
      Ink(percent),
      Box(Find<GtkWidget>(fixed, GTK_TYPE_PROGRESS_BAR)),
      Box(Find<GtkWidget>(fixed, GTK_TYPE_BUTTON)),
      Box(fixed)};
  for (int i = 0; i < 5; ++i) {
    GdkRectangle in;
    gdk_rectangle_intersect(&c[i], &c[5], &in);
    EXPECT_TRUE(gdk_rectangle_equal(&c[i], &in)) << i;
    for (int j = i + 1; j < 5; ++j)
      EXPECT_FALSE(gdk_rectangle_intersect(&c[i], &c[j], nullptr)) << i << j;
  }
  EXPECT_EQ(c[4].x + c[4].width, c[3].x + c[3].width);
  EXPECT_GT(c[4].y, c[3].y);

  GtkWidget* scroller = Find<GtkWidget>(fixed, GTK_TYPE_SCROLLED_WINDOW);
  GtkTextView* log = GTK_TEXT_VIEW(gtk_bin_get_child(GTK_BIN(scroller)));
  EXPECT_FALSE(gtk_text_view_get_editable(log));
  EXPECT_EQ(Named(log), "Log");
  // A long line wraps rather than scrolling sideways.
  GtkAdjustment* across =
      gtk_scrolled_window_get_hadjustment(GTK_SCROLLED_WINDOW(scroller));
  EXPECT_LE(gtk_adjustment_get_upper(across),
            gtk_adjustment_get_page_size(across));
  GtkTextIter start, end;
  gtk_text_buffer_get_bounds(gtk_text_view_get_buffer(log), &start, &end);
  gchar* text = gtk_text_iter_get_text(&start, &end);
  EXPECT_EQ(std::string(text),
            "bad\xEF\xBF\xBD " + std::string(400, 'y') + "\r\n" + kFinal);
  g_free(text);
  EXPECT_EQ(form.txtLog.SelStart(), form.txtLog.Length());

  // The status line holds two lines, then ends in an ellipsis.
  ShowStatus(form, "bad\xff " + std::string(400, 'y'), 255, 0, 0);
  RunUntil([] { return false; }, 150);
  EXPECT_EQ(std::string(gtk_label_get_text(status)).substr(0, 7),
            "bad\xEF\xBF\xBD ");
  EXPECT_EQ(pango_layout_get_line_count(gtk_label_get_layout(status)), 2);

  GtkProgressBar* bar = Find<GtkProgressBar>(fixed, GTK_TYPE_PROGRESS_BAR);
  EXPECT_EQ(Named(bar), "Progress: 66.7%");

  // After many lines the log shows its last one, and stays there.
  GtkAdjustment* down =
      gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(scroller));
  auto atEnd = [down] {
    return gtk_adjustment_get_value(down) > 0 &&
           gtk_adjustment_get_value(down) +
                   gtk_adjustment_get_page_size(down) >=
               gtk_adjustment_get_upper(down);
  };
  for (int i = 0; i < 80; ++i) ShowStatus(form, "Decoding a.mp3...", 0, 0, 0);
  RunUntil(atEnd);
  RunUntil([] { return false; }, 150);
  EXPECT_TRUE(atEnd());
}

// Each status colour as drawn stands out from the window's background by at
// least 3 to 1, in the theme the test runs in (light, and dark in CTest's
// second run); black, unreadable on a dark theme, takes the theme's own text
// colour there, and stays black on a light one.
TEST_P(Gtk, StatusColoursReadableAsDrawn) {
  GtkWidget* status = GTK_WIDGET(Find<GtkLabel>(fixed, GTK_TYPE_LABEL, 0));
  const GdkRectangle at = Box(status), all = Box(window);
  GdkRGBA fg;
  gtk_style_context_get_color(gtk_widget_get_style_context(status),
                              GTK_STATE_FLAG_NORMAL, &fg);
  const char* theme = std::getenv("GTK_THEME");
  const bool dark = theme && std::strstr(theme, ":dark");
  for (const platform::Rgb c :
       {platform::Rgb{0, 0, 0}, platform::Rgb{255, 0, 0},
        platform::Rgb{0, 128, 0}}) {
    ShowStatus(form, "Decoding Readable.mp3...", c.red, c.green, c.blue);
    form.pbProgress.SetValue(100);
    RunUntil([] { return false; }, 100);
    cairo_surface_t* image =
        cairo_image_surface_create(CAIRO_FORMAT_RGB24, all.width, all.height);
    cairo_t* cr = cairo_create(image);
    gtk_widget_draw(GTK_WIDGET(window), cr);
    cairo_surface_flush(image);
    const unsigned char* data = cairo_image_surface_get_data(image);
    auto pixel = [&](int x, int y) {
      const auto v = *reinterpret_cast<const std::uint32_t*>(
          data + y * cairo_image_surface_get_stride(image) + 4 * x);
      return platform::Rgb{std::uint8_t(v >> 16), std::uint8_t(v >> 8),
                           std::uint8_t(v)};
    };
    const platform::Rgb background = pixel(at.x + at.width - 1, at.y);
    platform::Rgb inked = background;
    const GdkRectangle ink = Ink(status);  // its place reaches into the log
    for (int y = ink.y; y < ink.y + ink.height; ++y)
      for (int x = ink.x; x < ink.x + ink.width; ++x)
        if (platform::Contrast(pixel(x, y), background) >
            platform::Contrast(inked, background))
          inked = pixel(x, y);
    EXPECT_GE(platform::Contrast(inked, background), 3.0)
        << int(c.red) << "," << int(c.green);
    const platform::Rgb text{std::uint8_t(std::lround(fg.red * 255)),
                             std::uint8_t(std::lround(fg.green * 255)),
                             std::uint8_t(std::lround(fg.blue * 255))};
    if (c == platform::Rgb{0, 0, 0}) {
      EXPECT_EQ(inked, dark ? text : c) << "black as drawn";
    }
    // The bar, full, fills its place, not the theme's thin line.
    const GdkRectangle b = Box(Find<GtkWidget>(fixed, GTK_TYPE_PROGRESS_BAR));
    int filled = 0;
    for (int y = b.y; y < b.y + b.height; ++y)
      filled += !(pixel(b.x + b.width / 2, y) == pixel(b.x + b.width / 2, 1));
    EXPECT_GE(filled, b.height * 3 / 4);
    cairo_destroy(cr);
    cairo_surface_destroy(image);
  }
}

INSTANTIATE_TEST_SUITE_P(Fonts, Gtk,
                         ::testing::Values(nullptr, "Sans 14", "Sans 24"));

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  platform::Initialize();
  return RUN_ALL_TESTS();
}
