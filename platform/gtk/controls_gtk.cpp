// GTK 3 window backend: the window and its controls. Implements from
// controls.h:
//  - Initialize (gtk_init, without OpenGL)
//  - Window: a fixed-size GtkWindow with a close box only and an icon drawn
//    here, its children on a GtkFixed at twips converted at the screen's
//    resolution; closing it, or SIGTERM, SIGINT or SIGHUP, hides it, keeps
//    the widgets and answers every open dialog as cancelled
//  - Label (GtkLabel, colour as a Pango attribute, made readable on the
//    theme's background), TextBox (GtkTextView in
//    a GtkScrolledWindow), ProgressBar, CommandButton (mnemonic from "&"),
//    with names for screen readers (ATK)
// The dialogs are in dialog_gtk.cpp, event pumping in events_gtk.cpp.
#include <cairo.h>
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <signal.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <utility>

#include "platform/gtk/backend_gtk.h"
#include "platform/platform.h"
#include "platform/readable_colour.h"

namespace platform {

namespace gtk {

std::string ValidUtf8(const std::string& text) {
  if (g_utf8_validate_len(text.data(), text.size(), nullptr)) return text;
  const OwnedText valid(
      g_utf8_make_valid(text.data(), static_cast<gssize>(text.size())));
  return valid.get();
}

}  // namespace gtk

namespace {

constexpr double kTwipsPerInch = 1440.0;
constexpr double kFallbackDpi = 96.0;
constexpr int kIconSize = 16;

struct CairoDeleter {
  void operator()(cairo_t* cr) const { cairo_destroy(cr); }
  void operator()(cairo_surface_t* surface) const {
    cairo_surface_destroy(surface);
  }
};
using Cairo = std::unique_ptr<cairo_t, CairoDeleter>;
using CairoSurface = std::unique_ptr<cairo_surface_t, CairoDeleter>;

// The program's icon: a white quaver on a rounded blue square.
gtk::ObjectRef<GdkPixbuf> MakeIcon() {
  CairoSurface surface(
      cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kIconSize, kIconSize));
  Cairo cr(cairo_create(surface.get()));
  const double r = 3.0, s = kIconSize;
  cairo_new_sub_path(cr.get());
  cairo_arc(cr.get(), s - r, r, r, -M_PI / 2, 0);
  cairo_arc(cr.get(), s - r, s - r, r, 0, M_PI / 2);
  cairo_arc(cr.get(), r, s - r, r, M_PI / 2, M_PI);
  cairo_arc(cr.get(), r, r, r, M_PI, 3 * M_PI / 2);
  cairo_close_path(cr.get());
  cairo_set_source_rgb(cr.get(), 0.16, 0.40, 0.70);
  cairo_fill(cr.get());

  cairo_set_source_rgb(cr.get(), 1, 1, 1);
  cairo_save(cr.get());  // the note head, a tilted ellipse
  cairo_translate(cr.get(), 6.0, 11.5);
  cairo_rotate(cr.get(), -0.4);
  cairo_scale(cr.get(), 2.8, 2.0);
  cairo_arc(cr.get(), 0, 0, 1, 0, 2 * M_PI);
  cairo_restore(cr.get());
  cairo_fill(cr.get());
  cairo_rectangle(cr.get(), 8.0, 3.0, 1.4, 8.5);  // the stem
  cairo_fill(cr.get());
  cairo_move_to(cr.get(), 9.4, 3.0);  // the flag
  cairo_curve_to(cr.get(), 10.5, 5.0, 13.0, 5.5, 12.0, 9.0);
  cairo_curve_to(cr.get(), 12.0, 7.0, 11.0, 6.5, 9.4, 6.0);
  cairo_close_path(cr.get());
  cairo_fill(cr.get());
  cairo_surface_flush(surface.get());
  return gtk::ObjectRef<GdkPixbuf>::Adopt(
      gdk_pixbuf_get_from_surface(surface.get(), 0, 0, kIconSize, kIconSize));
}

gtk::ObjectRef<GtkCssProvider> Style(const std::string& css) {
  auto provider = gtk::ObjectRef<GtkCssProvider>::Adopt(gtk_css_provider_new());
  gtk_css_provider_load_from_data(provider.get(), css.c_str(), -1, nullptr);
  return provider;
}

// Our own fixed-size controls: the theme's paddings would otherwise make
// the button and the bar taller than their rectangles.
void InstallStyle() {
  gtk_style_context_add_provider_for_screen(
      gdk_screen_get_default(),
      GTK_STYLE_PROVIDER(
          Style("button.larkspire { padding: 0 2px; min-height: 0; }").get()),
      GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

void AddStyleClass(GtkWidget* widget) {
  gtk_style_context_add_class(gtk_widget_get_style_context(widget),
                              "larkspire");
}

// The client area: a GtkFixed whose size is its size request, whatever its
// children would like. A non-resizable window takes its child's natural
// size, and a long status text would otherwise widen the window.
struct ClientArea {
  GtkFixed parent;
};
struct ClientAreaClass {
  GtkFixedClass parent;
};
G_DEFINE_TYPE(ClientArea, client_area, GTK_TYPE_FIXED)

void ClientAreaPreferredSize(GtkWidget*, gint* minimum, gint* natural) {
  *minimum = *natural = 0;  // GTK raises both to the size request
}
void client_area_class_init(ClientAreaClass* klass) {
  GtkWidgetClass* widget = GTK_WIDGET_CLASS(klass);
  widget->get_preferred_width = ClientAreaPreferredSize;
  widget->get_preferred_height = ClientAreaPreferredSize;
}
void client_area_init(ClientArea*) {}

double ScreenDpi() {
  const double dpi = gdk_screen_get_resolution(gdk_screen_get_default());
  return dpi > 0 ? dpi : kFallbackDpi;
}

// A close box only: no minimise or maximise.
void OnWindowRealize(GtkWidget* widget, gpointer) {
  GdkWindow* window = gtk_widget_get_window(widget);
  gdk_window_set_functions(
      window, static_cast<GdkWMFunction>(GDK_FUNC_MOVE | GDK_FUNC_CLOSE));
  gdk_window_set_decorations(
      window, static_cast<GdkWMDecoration>(GDK_DECOR_BORDER | GDK_DECOR_TITLE |
                                           GDK_DECOR_MENU));
}

gboolean OnWindowDelete(GtkWidget*, GdkEvent*, gpointer data) {
  static_cast<Window::Impl*>(data)->Close();
  return TRUE;
}

// `color` as it can be read on the theme's background: in a dark theme the
// black status text takes the theme's own text colour, and so on.
Rgb Readable(GtkWidget* widget, Rgb color) {
  GtkStyleContext* style = gtk_widget_get_style_context(widget);
  GdkRGBA background, text;
  if (!gtk_style_context_lookup_color(style, "theme_bg_color", &background) ||
      !gtk_style_context_lookup_color(style, "theme_fg_color", &text))
    return color;
  auto rgb = [](const GdkRGBA& c) {
    return Rgb{static_cast<std::uint8_t>(std::lround(c.red * 255)),
               static_cast<std::uint8_t>(std::lround(c.green * 255)),
               static_cast<std::uint8_t>(std::lround(c.blue * 255))};
  };
  return ReadableOn(color, rgb(background), rgb(text));
}

// Closes the window and answers every open dialog as cancelled; the
// dialogs' code then sees the window closed and ends.
void CloseAnsweringDialogs(Window::Impl* window) {
  window->Close();
  std::vector<gtk::ObjectRef<GtkWidget>> dialogs;
  GList* all = gtk_window_list_toplevels();
  for (GList* w = all; w; w = w->next)
    if (GTK_IS_DIALOG(w->data) && gtk_widget_get_visible(GTK_WIDGET(w->data)))
      dialogs.push_back(gtk::ObjectRef<GtkWidget>::Share(GTK_WIDGET(w->data)));
  g_list_free(all);
  for (const auto& dialog : dialogs)
    gtk_dialog_response(GTK_DIALOG(dialog.get()), GTK_RESPONSE_CANCEL);
}

// SIGTERM, SIGINT and SIGHUP end the program as the close box does, also
// while a modal dialog holds the window (a logout would otherwise wait for
// ever).
gboolean OnQuitSignal(gpointer window) {
  CloseAnsweringDialogs(static_cast<Window::Impl*>(window));
  return G_SOURCE_CONTINUE;
}

// While a modal dialog holds the window GTK drops the window's close
// request; it is taken here, before GTK sees it, and closes the window
// with its dialogs, as a signal does.
void OnEvent(GdkEvent* event, gpointer) {
  Window::Impl* window = gtk::State().window;
  if (event->type == GDK_DELETE && window &&
      event->any.window == gtk_widget_get_window(window->window.get()))
    return CloseAnsweringDialogs(window);
  gtk_main_do_event(event);
}

void NameForScreenReaders(GtkWidget* widget, const char* name) {
  atk_object_set_name(gtk_widget_get_accessible(widget), name);
}

void OnLabelChanged(GtkLabel* label, GParamSpec*, gpointer named) {
  NameForScreenReaders(static_cast<GtkWidget*>(named),
                       gtk_label_get_text(label));
}

// "&Save Log" -> "_Save Log"; "&&" is a literal "&", "_" a literal "_".
std::string MnemonicCaption(const std::string& caption) {
  std::string result;
  for (std::size_t i = 0; i < caption.size(); ++i) {
    const char c = caption[i];
    if (c == '_') {
      result += "__";
    } else if (c == '&' && i + 1 < caption.size()) {
      result += caption[i + 1] == '&' ? "&" : "_";
      if (caption[i + 1] == '&') ++i;
    } else {
      result += c;
    }
  }
  return result;
}

int TextWidth(GtkWidget* widget, const std::string& text) {
  auto layout = gtk::ObjectRef<PangoLayout>::Adopt(
      gtk_widget_create_pango_layout(widget, text.c_str()));
  int width = 0;
  pango_layout_get_pixel_size(layout.get(), &width, nullptr);
  return width;
}

int LineHeight(GtkWidget* widget) {
  auto layout = gtk::ObjectRef<PangoLayout>::Adopt(
      gtk_widget_create_pango_layout(widget, "Xg"));
  int height = 0;
  pango_layout_get_pixel_size(layout.get(), nullptr, &height);
  return std::max(height, 1);
}

// A new font or resolution (the user's choice, GNOME's Large Text) reaches
// every widget's style; once all are updated, the window follows it. Other
// style changes (the window losing the focus) come here too, and change
// nothing.
gboolean FollowFont(gpointer window) {
  static_cast<Window::Impl*>(window)->following = 0;
  static_cast<Window::Impl*>(window)->Follow();
  return G_SOURCE_REMOVE;
}
void OnStyleUpdated(GtkWidget*, gpointer data) {
  auto* window = static_cast<Window::Impl*>(data);
  if (!window->following) window->following = g_idle_add(FollowFont, window);
}

}  // namespace

namespace gtk {

Laid::Laid(Window::Impl& window, std::function<void()> lay)
    : window_(window), lay_(std::move(lay)) {
  window_.layouts.push_back(&lay_);
  lay_();
}

Laid::~Laid() {
  auto& all = window_.layouts;
  all.erase(std::find(all.begin(), all.end(), &lay_));
}

}  // namespace gtk

void Initialize() {
  // The window draws nothing with OpenGL, but GTK probes the GL visuals at
  // start-up, and with Mesa's drivers that loads them: some 60 MB of peak
  // memory for nothing. A user who asks for GL still gets it.
  g_setenv("GDK_GL", "disable", FALSE);
  // GTK's own complaint names the display it could not open, which is
  // nothing at all when none is set.
  if (!gtk_init_check(nullptr, nullptr)) {
    const char* display = g_getenv("DISPLAY");
    throw Error(kErrInternal,
                "it needs a graphical display, and " +
                    (display && *display ? "could not open display \"" +
                                               std::string(display) + "\"."
                                         : std::string("DISPLAY is not set.")));
  }
  gdk_event_handler_set(OnEvent, nullptr, nullptr);
  InstallStyle();
  // An animated scroll is cancelled by the log's next line, so the newest
  // message would not reliably end up in view.
  g_object_set(gtk_settings_get_default(), "gtk-enable-animations", FALSE,
               nullptr);
}

// ---- Window -----------------------------------------------------------------

void Window::Impl::Close() {
  closed = true;
  gtk_widget_hide(window.get());
}

int Window::Impl::ToPixels(int twips) const {
  return static_cast<int>(std::lround(twips * dpi / kTwipsPerInch));
}

GdkRectangle Window::Impl::ToPixels(const Rect& rect) const {
  const int x = ToPixels(rect.left), y = ToPixels(rect.top);
  return {x, y, ToPixels(rect.left + rect.width) - x,
          ToPixels(rect.top + rect.height) - y};
}

void Window::Impl::Place(GtkWidget* child, const Rect& rect) {
  const GdkRectangle at = ToPixels(rect);
  gtk_widget_set_size_request(child, at.width, at.height);
  if (gtk_widget_get_parent(child))
    gtk_fixed_move(GTK_FIXED(fixed), child, at.x, at.y);
  else
    gtk_fixed_put(GTK_FIXED(fixed), child, at.x, at.y);
  gtk_widget_show(child);
}

void Window::Impl::KeepInside(GtkWidget* child, const Rect& rect) {
  GtkRequisition needed;
  gtk_widget_get_preferred_size(child, &needed, nullptr);
  int clientHeight = 0;
  gtk_widget_get_size_request(fixed, nullptr, &clientHeight);
  const GdkRectangle at = ToPixels(rect);
  const int x = std::max(0, at.x + at.width - std::max(needed.width, at.width));
  const int y = std::max(0, std::min(at.y, clientHeight - needed.height));
  gtk_fixed_move(GTK_FIXED(fixed), child, x, y);
}

// The layout gives a line of text 240 twips: the percent label above the
// bar, each of the status's two lines above the log. Where the theme's
// font, or the larger one a user chose, has taller lines, the layout is
// taken at the resolution that fits them, so the window and its controls
// grow with the font, as they do with GDK_DPI_SCALE. Pixels are rounded
// alike, so lines that fit in twips fit on the screen too.
void Window::Impl::Follow() {
  constexpr double kTwipsPerLine = 240;
  auto probe = gtk::ObjectRef<GtkWidget>::Adopt(gtk_label_new(nullptr));
  const int line = LineHeight(probe.get());
  const double wanted =
      std::max(ScreenDpi(), line * kTwipsPerInch / kTwipsPerLine);
  if (wanted == dpi && line == lineHeight) return;
  dpi = wanted;
  lineHeight = line;
  gtk_widget_set_size_request(fixed, ToPixels(clientWidth),
                              ToPixels(clientHeight));
  for (const auto* lay : layouts) (*lay)();
  // The client area passes no resize on (GTK_RESIZE_QUEUE).
  gtk_widget_queue_resize(window.get());
}

Window::Window(const std::string& caption, int clientWidth, int clientHeight)
    : impl_(std::make_unique<Impl>()) {
  impl_->window =
      gtk::ObjectRef<GtkWidget>::Share(gtk_window_new(GTK_WINDOW_TOPLEVEL));
  GtkWindow* window = GTK_WINDOW(impl_->window.get());
  gtk_window_set_title(window, gtk::ValidUtf8(caption).c_str());
  // Not resizable, hence no maximise; the window manager hints set on
  // realize drop minimise. The type stays "normal": a dialog type could
  // keep the program's only window out of the task bar.
  gtk_window_set_resizable(window, FALSE);
  gtk_window_set_icon(window, MakeIcon().get());
  g_signal_connect(window, "realize", G_CALLBACK(OnWindowRealize), nullptr);
  g_signal_connect(window, "delete-event", G_CALLBACK(OnWindowDelete),
                   impl_.get());
  for (const int signal : {SIGTERM, SIGINT, SIGHUP})
    impl_->quitSignals.push_back(
        g_unix_signal_add(signal, OnQuitSignal, impl_.get()));

  impl_->fixed = GTK_WIDGET(g_object_new(client_area_get_type(), nullptr));
  impl_->clientWidth = clientWidth;
  impl_->clientHeight = clientHeight;
  impl_->Follow();
  g_signal_connect(impl_->fixed, "style-updated", G_CALLBACK(OnStyleUpdated),
                   impl_.get());
  // Its size never follows its children's, so a child's new text is laid
  // out here: left to reach the window, each one made GTK ask the display
  // server twice (the window's monitor, the window manager's hints) for a
  // window that cannot change size. Deprecated, but GTK 3 still honours it.
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  gtk_container_set_resize_mode(GTK_CONTAINER(impl_->fixed), GTK_RESIZE_QUEUE);
  G_GNUC_END_IGNORE_DEPRECATIONS
  gtk_container_add(GTK_CONTAINER(window), impl_->fixed);
  gtk_widget_show(impl_->fixed);
  gtk::State().window = impl_.get();
}

Window::~Window() {
  if (gtk::State().window == impl_.get()) gtk::State().window = nullptr;
  for (const guint source : impl_->quitSignals) g_source_remove(source);
  if (impl_->following) g_source_remove(impl_->following);
  g_signal_handlers_disconnect_by_data(impl_->window.get(), impl_.get());
  g_signal_handlers_disconnect_by_data(impl_->fixed, impl_.get());
  gtk_widget_destroy(impl_->window.get());
}

void Window::Show() {
  if (impl_->closed) return;
  gtk_widget_show(impl_->window.get());
}

bool Window::Closed() const { return impl_->closed; }

void Window::RunUntilClosed() {
  while (!impl_->closed) gtk_main_iteration();
}

// ---- Label ------------------------------------------------------------------

struct Label::Impl {
  Window::Impl& window;
  gtk::ObjectRef<GtkWidget> label;
  Rect rect;
  Align align;
  std::string caption;
  Rgb color{0, 0, 0};
  // What was last given to GTK: setting the same again would lay the
  // label out again for nothing.
  std::optional<Rgb> drawn;
  std::pair<int, int> placed{-1, -1};  // left edge and width, in pixels
  std::optional<gtk::Laid> laid;

  // Wrap within the rectangle, as many lines as it is high, and end with an
  // ellipsis beyond that: a long path must never widen the window. Rounded:
  // a rectangle holds a little more than its lines.
  void Lay() {
    const int lines = static_cast<int>(std::lround(
        window.ToPixels(rect).height / static_cast<double>(window.lineHeight)));
    gtk_label_set_line_wrap(GTK_LABEL(label.get()), lines > 1);
    gtk_label_set_lines(GTK_LABEL(label.get()), std::max(lines, 1));
    window.Place(label.get(), rect);
    placed = {-1, -1};
    FitCentred(gtk_label_get_text(GTK_LABEL(label.get())));
  }

  // A centred caption wider than its rectangle grows around the centre, as
  // far as the client area allows, rather than being cut.
  void FitCentred(const std::string& shown) {
    if (align != Align::kCenter) return;
    const GdkRectangle at = window.ToPixels(rect);
    const int left = at.x, width = at.width;
    int clientWidth = 0;
    gtk_widget_get_size_request(window.fixed, &clientWidth, nullptr);
    const int wanted =
        std::min(std::max(width, TextWidth(label.get(), shown)), clientWidth);
    const int centre = left + width / 2;
    const int x = std::clamp(centre - wanted / 2, 0, clientWidth - wanted);
    const std::pair<int, int> now{x, wanted};
    if (placed == now) return;
    placed = now;
    gtk_widget_set_size_request(label.get(), wanted, at.height);
    gtk_fixed_move(GTK_FIXED(window.fixed), label.get(), x, at.y);
  }
};

Label::Label(Window& parent, Rect rect, Align align, const std::string& caption)
    : impl_(new Impl{
          parent.impl(), {}, rect, align, {}, {0, 0, 0}, {}, {-1, -1}, {}}) {
  impl_->label = gtk::ObjectRef<GtkWidget>::Adopt(gtk_label_new(nullptr));
  GtkLabel* label = GTK_LABEL(impl_->label.get());
  const bool left = align == Align::kLeft;
  gtk_label_set_xalign(label, left ? 0.0f : 0.5f);
  gtk_label_set_yalign(label, 0.0f);
  gtk_label_set_justify(label, left ? GTK_JUSTIFY_LEFT : GTK_JUSTIFY_CENTER);
  gtk_label_set_line_wrap_mode(label, PANGO_WRAP_WORD_CHAR);
  gtk_label_set_ellipsize(label, PANGO_ELLIPSIZE_END);
  impl_->laid.emplace(parent.impl(), [impl = impl_.get()] { impl->Lay(); });
  SetCaption(caption);
}

Label::~Label() = default;

void Label::SetCaption(const std::string& caption) {
  impl_->caption = caption;
  const std::string shown = gtk::ValidUtf8(caption);
  gtk_label_set_text(GTK_LABEL(impl_->label.get()), shown.c_str());
  impl_->FitCentred(shown);
}

std::string Label::Caption() const { return impl_->caption; }

void Label::SetForeColor(Rgb color) {
  impl_->color = color;
  const Rgb drawn = Readable(impl_->label.get(), color);
  if (impl_->drawn == drawn) return;
  impl_->drawn = drawn;
  // Pango colours are 16 bits per component.
  PangoAttrList* attributes = pango_attr_list_new();
  pango_attr_list_insert(
      attributes, pango_attr_foreground_new(drawn.red * 257, drawn.green * 257,
                                            drawn.blue * 257));
  gtk_label_set_attributes(GTK_LABEL(impl_->label.get()), attributes);
  pango_attr_list_unref(attributes);
}

Rgb Label::ForeColor() const { return impl_->color; }

// ---- TextBox ----------------------------------------------------------------

struct TextBox::Impl {
  gtk::ObjectRef<GtkWidget> scroller;
  GtkWidget* view = nullptr;        // owned by the scroller
  GtkTextBuffer* buffer = nullptr;  // owned by the view
  std::optional<gtk::Laid> laid;

  GtkTextIter At(std::size_t offset) const {
    GtkTextIter iter;
    const auto count =
        static_cast<std::size_t>(gtk_text_buffer_get_char_count(buffer));
    gtk_text_buffer_get_iter_at_offset(
        buffer, &iter, static_cast<gint>(std::min(offset, count)));
    return iter;
  }
  std::pair<std::size_t, std::size_t> Selection() const {
    GtkTextIter start, end;
    gtk_text_buffer_get_selection_bounds(buffer, &start, &end);
    return {static_cast<std::size_t>(gtk_text_iter_get_offset(&start)),
            static_cast<std::size_t>(gtk_text_iter_get_offset(&end))};
  }
};

TextBox::TextBox(Window& parent, Rect rect) : impl_(std::make_unique<Impl>()) {
  impl_->scroller = gtk::ObjectRef<GtkWidget>::Adopt(
      gtk_scrolled_window_new(nullptr, nullptr));
  GtkScrolledWindow* scroller = GTK_SCROLLED_WINDOW(impl_->scroller.get());
  gtk_scrolled_window_set_policy(scroller, GTK_POLICY_NEVER, GTK_POLICY_ALWAYS);
  gtk_scrolled_window_set_shadow_type(scroller, GTK_SHADOW_IN);
  // A scroll bar that is always there, not one that shows on hover.
  gtk_scrolled_window_set_overlay_scrolling(scroller, FALSE);
  impl_->view = gtk_text_view_new();
  GtkTextView* view = GTK_TEXT_VIEW(impl_->view);
  gtk_text_view_set_editable(view, FALSE);
  gtk_text_view_set_cursor_visible(view, TRUE);
  gtk_text_view_set_wrap_mode(view, GTK_WRAP_WORD_CHAR);
  gtk_text_view_set_left_margin(view, 2);
  gtk_text_view_set_right_margin(view, 2);
  impl_->buffer = gtk_text_view_get_buffer(view);
  gtk_container_add(GTK_CONTAINER(scroller), impl_->view);
  gtk_widget_show(impl_->view);
  impl_->laid.emplace(parent.impl(),
                      [&window = parent.impl(), &impl = *impl_, rect] {
                        window.Place(impl.scroller.get(), rect);
                      });
}

TextBox::~TextBox() = default;

std::string TextBox::Text() const {
  GtkTextIter start, end;
  gtk_text_buffer_get_bounds(impl_->buffer, &start, &end);
  const gtk::OwnedText text(
      gtk_text_buffer_get_text(impl_->buffer, &start, &end, TRUE));
  return text.get();
}

void TextBox::SetText(const std::string& text) {
  const std::string valid = gtk::ValidUtf8(text);
  gtk_text_buffer_set_text(impl_->buffer, valid.data(),
                           static_cast<gint>(valid.size()));
  GtkTextIter start = impl_->At(0);
  gtk_text_buffer_place_cursor(impl_->buffer, &start);
}

void TextBox::Append(const std::string& text) {
  const std::string valid = gtk::ValidUtf8(text);
  GtkTextIter end;
  gtk_text_buffer_get_end_iter(impl_->buffer, &end);
  gtk_text_buffer_insert(impl_->buffer, &end, valid.data(),
                         static_cast<gint>(valid.size()));
}

std::size_t TextBox::Length() const {
  return static_cast<std::size_t>(
      gtk_text_buffer_get_char_count(impl_->buffer));
}

void TextBox::SetSelStart(std::size_t start) {
  // Text appended at the end carries the cursor along, so it is usually in
  // place already; moving it anyway makes the view lay out its line again,
  // which doubled the cost of every log message.
  if (impl_->Selection() != std::make_pair(start, start)) {
    GtkTextIter at = impl_->At(start);
    gtk_text_buffer_place_cursor(impl_->buffer, &at);
  }
  // Queued until the view has laid the text out, so it also works right
  // after an append.
  gtk_text_view_scroll_mark_onscreen(GTK_TEXT_VIEW(impl_->view),
                                     gtk_text_buffer_get_insert(impl_->buffer));
}

void TextBox::SetSelLength(std::size_t length) {
  const auto selection = impl_->Selection();
  const std::size_t start = selection.first;
  const std::size_t end = start + std::min(length, Length() - start);
  if (selection.second == end) return;  // as above: no needless layout
  GtkTextIter bound = impl_->At(start);
  GtkTextIter insert = impl_->At(end);
  gtk_text_buffer_select_range(impl_->buffer, &insert, &bound);
}

std::size_t TextBox::SelStart() const { return impl_->Selection().first; }

std::size_t TextBox::SelLength() const {
  const auto selection = impl_->Selection();
  return selection.second - selection.first;
}

void TextBox::SetAccessibleName(const std::string& name) {
  NameForScreenReaders(impl_->view, gtk::ValidUtf8(name).c_str());
}

// ---- ProgressBar ------------------------------------------------------------

struct ProgressBar::Impl {
  gtk::ObjectRef<GtkWidget> bar;
  gtk::ObjectRef<GtkCssProvider> style = Style("");
  std::optional<gtk::Laid> laid;
};

ProgressBar::ProgressBar(Window& parent, Rect rect)
    : impl_(std::make_unique<Impl>()) {
  impl_->bar = gtk::ObjectRef<GtkWidget>::Adopt(gtk_progress_bar_new());
  gtk_style_context_add_provider(gtk_widget_get_style_context(impl_->bar.get()),
                                 GTK_STYLE_PROVIDER(impl_->style.get()),
                                 GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  // The bar fills its place, less a margin of two pixels a side at 96
  // dots per inch, rather than the theme's thin line, at any resolution.
  impl_->laid.emplace(
      parent.impl(), [&window = parent.impl(), &impl = *impl_, rect] {
        const std::string fill =
            std::to_string(window.ToPixels(rect).height * 13 / 17);
        gtk_css_provider_load_from_data(
            impl.style.get(),
            ("trough, progress { min-height: " + fill + "px; }").c_str(), -1,
            nullptr);
        window.Place(impl.bar.get(), rect);
      });
}

ProgressBar::~ProgressBar() = default;

void ProgressBar::NameAfter(Label& label) {
  GtkWidget* text = label.impl().label.get();
  atk_object_add_relationship(gtk_widget_get_accessible(impl_->bar.get()),
                              ATK_RELATION_LABELLED_BY,
                              gtk_widget_get_accessible(text));
  // Disconnected when the bar goes.
  g_signal_connect_object(text, "notify::label", G_CALLBACK(OnLabelChanged),
                          impl_->bar.get(), GConnectFlags{});
  OnLabelChanged(GTK_LABEL(text), nullptr, impl_->bar.get());
}

void ProgressBar::Draw(float value) {
  gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(impl_->bar.get()),
                                value / 100.0);
}

// ---- CommandButton ----------------------------------------------------------

struct CommandButton::Impl {
  gtk::ObjectRef<GtkWidget> button;
  std::string caption;
  std::function<void()> onClick;
  guint pending = 0;  // the idle source that runs the handler
  std::optional<gtk::Laid> laid;

  // The handler runs once the click's sender has returned. A screen reader
  // presses the button through AT-SPI, and the press arrives inside its
  // request: a dialog opened right there would hold the program's AT-SPI
  // connection until it closed, so the reader could not see the dialog.
  // Clicks while the handler runs (its dialog open) are dropped.
  static void OnClicked(GtkButton*, gpointer data) {
    Impl* impl = static_cast<Impl*>(data);
    if (!impl->pending) impl->pending = g_idle_add(RunHandler, impl);
  }
  static gboolean RunHandler(gpointer data) {
    Impl* impl = static_cast<Impl*>(data);
    // A copy: the handler may replace itself while it runs.
    const std::function<void()> handler = impl->onClick;
    if (handler) handler();
    impl->pending = 0;
    return G_SOURCE_REMOVE;
  }
};

CommandButton::CommandButton(Window& parent, Rect rect,
                             const std::string& caption)
    : impl_(std::make_unique<Impl>()) {
  impl_->caption = caption;
  impl_->button = gtk::ObjectRef<GtkWidget>::Adopt(gtk_button_new_with_mnemonic(
      MnemonicCaption(gtk::ValidUtf8(caption)).c_str()));
  AddStyleClass(impl_->button.get());
  g_signal_connect(impl_->button.get(), "clicked", G_CALLBACK(&Impl::OnClicked),
                   impl_.get());
  impl_->laid.emplace(parent.impl(),
                      [&window = parent.impl(), &impl = *impl_, rect] {
                        window.Place(impl.button.get(), rect);
                        window.KeepInside(impl.button.get(), rect);
                      });
}

CommandButton::~CommandButton() {
  // The widget stays in the window; it must not call back into us.
  g_signal_handlers_disconnect_by_data(impl_->button.get(), impl_.get());
  if (impl_->pending) g_source_remove(impl_->pending);
}

void CommandButton::Bind(std::function<void()> guarded) {
  impl_->onClick = std::move(guarded);
}

void CommandButton::Click() {
  gtk_button_clicked(GTK_BUTTON(impl_->button.get()));
}

std::string CommandButton::Caption() const { return impl_->caption; }

}  // namespace platform
