// Headless window backend: controls that only hold their state, for tests
// and benchmarks. Implements from controls.h and platform.h:
//  - Window, Label, TextBox, ProgressBar, CommandButton, CommonDialog
//  - PumpEvents (runs the test's hook), WaitForProcessOrEvents (the process
//    alone: there are no events to wait for)
// and the user's actions of headless.h.
#include <algorithm>
#include <utility>
#include <vector>

#include "platform/headless/headless.h"
#include "platform/platform.h"

namespace platform {

namespace {

// The simulated user; the only state shared between the controls.
struct User {
  std::function<void()> pumpHook;
  std::function<std::string(const CommonDialog&)> saveResponder;
  std::vector<std::string> errors;
  Window::Impl* window = nullptr;  // the latest window made, while it lives
  long pumps = 0;
};

User& TheUser() {
  static User user;
  return user;
}

}  // namespace

void Initialize() {}

void ShowStartupError(const std::string& text) {
  TheUser().errors.push_back("|" + text);
}

void ShowError(Window&, const std::string& title, const std::string& text) {
  TheUser().errors.push_back(title + "|" + text);
}

struct Window::Impl {
  std::string caption;
  bool shown = false;
  bool closed = false;
};

Window::Window(const std::string& caption, int, int)
    : impl_(std::make_unique<Impl>()) {
  impl_->caption = caption;
  TheUser().window = impl_.get();
}
Window::~Window() {
  if (TheUser().window == impl_.get()) TheUser().window = nullptr;
}
void Window::Show() { impl_->shown = true; }
bool Window::Closed() const { return impl_->closed; }
void Window::RunUntilClosed() {}

struct Label::Impl {
  std::string caption;
  Rgb color{0, 0, 0};
};

Label::Label(Window&, Rect, Align, const std::string& caption)
    : impl_(std::make_unique<Impl>()) {
  impl_->caption = caption;
}
Label::~Label() = default;
void Label::SetCaption(const std::string& caption) { impl_->caption = caption; }
std::string Label::Caption() const { return impl_->caption; }
void Label::SetForeColor(Rgb color) { impl_->color = color; }
Rgb Label::ForeColor() const { return impl_->color; }

struct TextBox::Impl {
  std::string text;
  std::size_t selStart = 0;
  std::size_t selLength = 0;
};

TextBox::TextBox(Window&, Rect) : impl_(std::make_unique<Impl>()) {}
TextBox::~TextBox() = default;
std::string TextBox::Text() const { return impl_->text; }
void TextBox::SetText(const std::string& text) {
  impl_->text = text;
  impl_->selStart = impl_->selLength = 0;
}
void TextBox::Append(const std::string& text) { impl_->text += text; }
std::size_t TextBox::Length() const { return impl_->text.size(); }
void TextBox::SetSelStart(std::size_t start) {
  impl_->selStart = std::min(start, impl_->text.size());
}
void TextBox::SetSelLength(std::size_t length) { impl_->selLength = length; }
std::size_t TextBox::SelStart() const { return impl_->selStart; }
std::size_t TextBox::SelLength() const { return impl_->selLength; }

struct ProgressBar::Impl {};

ProgressBar::ProgressBar(Window&, Rect) : impl_(std::make_unique<Impl>()) {}
ProgressBar::~ProgressBar() = default;
void ProgressBar::Draw(float) {}

struct CommandButton::Impl {
  std::string caption;
  std::function<void()> onClick;
};

CommandButton::CommandButton(Window&, Rect, const std::string& caption)
    : impl_(std::make_unique<Impl>()) {
  impl_->caption = caption;
}
CommandButton::~CommandButton() = default;
void CommandButton::OnClick(std::function<void()> handler) {
  impl_->onClick = std::move(handler);
}
std::string CommandButton::Caption() const { return impl_->caption; }
void CommandButton::Click() {
  if (impl_->onClick) impl_->onClick();
}

CommonDialog::Answer CommonDialog::AskSave() {
  const auto& respond = TheUser().saveResponder;
  const std::string chosen = respond ? respond(*this) : std::string();
  if (chosen.empty()) return Answer::kCancelled;
  FileName = chosen;
  return Answer::kChosen;
}

bool PumpEvents() {
  User& user = TheUser();
  ++user.pumps;
  if (user.pumpHook) user.pumpHook();
  return !(user.window && user.window->closed);
}

bool WaitForProcessOrEvents(Process& process, unsigned ms) {
  return process.Wait(ms);
}

namespace headless {

void SetPumpHook(std::function<void()> hook) {
  TheUser().pumpHook = std::move(hook);
}
long PumpCount() { return TheUser().pumps; }
void Close() {
  if (TheUser().window) TheUser().window->closed = true;
}
bool IsShown(Window& window) { return window.impl().shown; }
void SetSaveResponder(
    std::function<std::string(const CommonDialog&)> responder) {
  TheUser().saveResponder = std::move(responder);
}
std::vector<std::string> ShownErrors() { return TheUser().errors; }
void Reset() {
  Window::Impl* window = TheUser().window;
  TheUser() = User{};
  TheUser().window = window;
}

}  // namespace headless
}  // namespace platform
