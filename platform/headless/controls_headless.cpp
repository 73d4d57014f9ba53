// Headless window backend: controls that only hold their state, for tests
// and benchmarks. Implements from controls.h:
//  - Initialize, Window, Label, TextBox, ProgressBar, CommandButton
// The dialogs are in dialog_headless.cpp, event pumping and the user's
// actions of headless.h in events_headless.cpp.
#include <algorithm>
#include <utility>

#include "platform/headless/backend_headless.h"
#include "platform/platform.h"

namespace platform {

using headless::State;

void Initialize() {}

Window::Window(const std::string& caption, int, int)
    : impl_(std::make_unique<Impl>()) {
  impl_->caption = caption;
  State().window = impl_.get();
}
Window::~Window() {
  if (State().window == impl_.get()) State().window = nullptr;
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
void TextBox::SetAccessibleName(const std::string&) {}

struct ProgressBar::Impl {};

ProgressBar::ProgressBar(Window&, Rect) : impl_(std::make_unique<Impl>()) {}
ProgressBar::~ProgressBar() = default;
void ProgressBar::Draw(float) {}
void ProgressBar::NameAfter(Label&) {}

struct CommandButton::Impl {
  std::string caption;
  std::function<void()> onClick;
};

CommandButton::CommandButton(Window&, Rect, const std::string& caption)
    : impl_(std::make_unique<Impl>()) {
  impl_->caption = caption;
}
CommandButton::~CommandButton() = default;
void CommandButton::Bind(std::function<void()> guarded) {
  impl_->onClick = std::move(guarded);
}
std::string CommandButton::Caption() const { return impl_->caption; }
void CommandButton::Click() {
  if (impl_->onClick) impl_->onClick();
}

}  // namespace platform
