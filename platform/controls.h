// The window and its controls, as the portable window code sees them. Each
// backend (gtk/, win32/, headless/) implements these classes' members and
// their Impl structs. Positions are in twips within the window's client area;
// the backend converts them at the screen's real resolution.
//
// Controls are created in tab order. A control must not outlive its window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

struct Rect {
  int left, top, width, height;  // twips
};

struct Rgb {
  std::uint8_t red, green, blue;
  bool operator==(const Rgb& o) const {
    return red == o.red && green == o.green && blue == o.blue;
  }
};

// Called once before any window is made; sets up the toolkit.
void Initialize();

// A fixed-size top-level window with a close box only, at the system's
// default position, carrying the program's icon.
class Window {
 public:
  Window(const std::string& caption, int clientWidth, int clientHeight);
  ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  // Shows the window without blocking.
  void Show();
  // True once the user has closed the window.
  bool Closed() const;
  // Handles events until the user closes the window.
  void RunUntilClosed();

  struct Impl;
  Impl& impl() { return *impl_; }

 private:
  std::unique_ptr<Impl> impl_;
};

enum class Align { kLeft, kCenter };

class Label {
 public:
  Label(Window& parent, Rect rect, Align align, const std::string& caption);
  ~Label();
  void SetCaption(const std::string& caption);
  std::string Caption() const;
  void SetForeColor(Rgb color);
  Rgb ForeColor() const;

  struct Impl;
  Impl& impl() { return *impl_; }

 private:
  std::unique_ptr<Impl> impl_;
};

// Multi-line, read-only to the user, vertical scroll bar, no length limit.
// Lengths and selection offsets count in the control's own units, so they
// are only ever compared with each other.
class TextBox {
 public:
  TextBox(Window& parent, Rect rect);
  ~TextBox();
  std::string Text() const;
  void SetText(const std::string& text);
  // Adds `text` at the end in time proportional to `text`, not to the whole.
  void Append(const std::string& text);
  std::size_t Length() const;
  // Setting the selection start scrolls it into view.
  void SetSelStart(std::size_t start);
  void SetSelLength(std::size_t length);
  std::size_t SelStart() const;
  std::size_t SelLength() const;
  // The name a screen reader gives the field.
  void SetAccessibleName(const std::string& name);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// Range 0 to 100. A value outside it is an Error (kErrInvalidPropertyValue).
class ProgressBar {
 public:
  ProgressBar(Window& parent, Rect rect);
  ~ProgressBar();
  // Checks the range before the backend draws anything.
  void SetValue(float value);
  float Value() const { return value_; }
  // A screen reader names the bar by `label`'s caption, as it changes.
  void NameAfter(Label& label);

  struct Impl;

 private:
  void Draw(float value);  // the backend's part, for a value in range

  std::unique_ptr<Impl> impl_;
  float value_ = 0.0f;
};

// A push button; "&" in the caption marks the access key.
class CommandButton {
 public:
  CommandButton(Window& parent, Rect rect, const std::string& caption);
  ~CommandButton();
  void OnClick(std::function<void()> handler);
  // Runs the handler, as pressing the button does.
  void Click();
  std::string Caption() const;

  struct Impl;

 private:
  void Bind(std::function<void()> guarded);  // the backend's part
  std::unique_ptr<Impl> impl_;
};

// The save-file dialog, invisible until shown. Its settings persist between
// showings, like the control's properties.
class CommonDialog {
 public:
  explicit CommonDialog(Window& parent) : parent_(parent) {}

  std::string DefaultExt;
  std::string DialogTitle;
  std::string InitDir;
  bool CancelError = false;
  std::string FileName;

  // Shows the modal save dialog. On confirm, FileName holds the chosen path.
  // On cancel it throws Error(kErrCancel) when CancelError is set.
  void ShowSave();

 private:
  enum class Answer { kChosen, kCancelled };
  // The backend's dialog: a cancel is an answer, a failure an Error.
  Answer AskSave();

  Window& parent_;
};

// How a save dialog is made to open in `folder` offering `name`: Windows 7
// and later reopen the folder the user last chose whenever the initial
// folder passed equals the one the program passed the first time it ever
// showed such a dialog, before they look at the offered file's path (the
// order Microsoft's OPENFILENAMEW page gives). So the dialog gets no
// initial folder and `name`'s full path; only a path of `longest`
// characters or more, which the dialog would not open, goes by the initial
// folder and the bare name. A name that gives its own folder keeps it.
struct SaveStart {
  std::string initialFolder, file;
};
SaveStart SaveDialogStart(const std::string& folder, const std::string& name,
                          std::size_t longest);

// Tells the user why the program cannot run when it has no window to say
// it in: a message box on Windows, standard error elsewhere.
void ShowStartupError(const std::string& text);

// A modal error message box owned by `owner`, with an OK button.
void ShowError(Window& owner, const std::string& title,
               const std::string& text);

}  // namespace platform
