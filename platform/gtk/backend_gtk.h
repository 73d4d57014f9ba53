// What the GTK backend's files share: owners for GLib objects, the
// window's insides (the dialogs need the parent GtkWindow), the text repair
// GTK needs, and the one piece of global state, "the user closed the main
// window". Not part of the platform API.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/controls.h"

namespace platform {
namespace gtk {

// Owns one reference to a GObject.
template <typename T>
class ObjectRef {
 public:
  ObjectRef() = default;
  // Takes over the reference a constructor returned (sinking a floating one).
  static ObjectRef Adopt(T* object) {
    if (object && g_object_is_floating(object)) g_object_ref_sink(object);
    return ObjectRef(object);
  }
  // Adds a reference of our own, as for a toplevel that GTK itself holds.
  static ObjectRef Share(T* object) {
    if (object) g_object_ref(object);
    return ObjectRef(object);
  }
  ObjectRef(ObjectRef&& other) noexcept
      : object_(std::exchange(other.object_, nullptr)) {}
  ObjectRef& operator=(ObjectRef&& other) noexcept {
    std::swap(object_, other.object_);
    return *this;
  }
  ~ObjectRef() {
    if (object_) g_object_unref(object_);
  }
  T* get() const { return object_; }

 private:
  explicit ObjectRef(T* object) : object_(object) {}
  T* object_ = nullptr;
};

// A dialog made for one showing: destroyed (and released) on scope exit.
class TopLevel {
 public:
  explicit TopLevel(GtkWidget* window)
      : window_(ObjectRef<GtkWidget>::Share(window)) {}
  TopLevel(const TopLevel&) = delete;
  TopLevel& operator=(const TopLevel&) = delete;
  ~TopLevel() { gtk_widget_destroy(window_.get()); }
  GtkWidget* get() const { return window_.get(); }

 private:
  ObjectRef<GtkWidget> window_;
};

// Owns a string GLib allocated.
struct GFree {
  void operator()(gchar* text) const { g_free(text); }
};
using OwnedText = std::unique_ptr<gchar, GFree>;

// GTK takes UTF-8 only; Linux file names are bytes. Invalid sequences
// become U+FFFD for display, valid text is passed through unchanged.
std::string ValidUtf8(const std::string& text);

}  // namespace gtk

struct Window::Impl {
  gtk::ObjectRef<GtkWidget> window;
  GtkWidget* fixed = nullptr;  // owned by the window
  double dpi = 0;
  int lineHeight = 0;                     // the font's, in pixels
  int clientWidth = 0, clientHeight = 0;  // twips
  bool closed = false;
  std::vector<guint> quitSignals;  // sources that close the window
  guint following = 0;             // the idle source that calls Follow
  std::vector<const std::function<void()>*> layouts;  // the children's

  // As the close box does: the batch may still hold the controls, so the
  // window is hidden, not destroyed.
  void Close();
  int ToPixels(int twips) const;
  // Its edges converted, so that rectangles sharing an edge in twips share
  // it in pixels too.
  GdkRectangle ToPixels(const Rect& rect) const;
  // Puts `child` on the client area at `rect` (twips).
  void Place(GtkWidget* child, const Rect& rect);
  // A child that needs more room than `rect` grows leftwards, keeping its
  // right edge, and upwards if it would leave the client area.
  void KeepInside(GtkWidget* child, const Rect& rect);
  // Takes the resolution the user's font and screen ask for now and, when
  // it is a new one, lays the client area and every child out again.
  void Follow();
};

namespace gtk {

// A child's layout at its window's resolution: done at once, and again
// each time the window follows a new font, for as long as this lives.
class Laid {
 public:
  Laid(Window::Impl& window, std::function<void()> lay);
  ~Laid();
  Laid(const Laid&) = delete;
  Laid& operator=(const Laid&) = delete;

 private:
  Window::Impl& window_;
  std::function<void()> lay_;
};

// All the backend's own state: the program's window, whose closing the
// event pumps report.
struct Data {
  Window::Impl* window = nullptr;  // the latest made, while it lives
};
Data& State();

}  // namespace gtk

}  // namespace platform
