// Win32 window backend; texts are UTF-8 to the program and UTF-16 to the
// system (the W functions). Implements from controls.h:
//  - Initialize (common controls), Window (a class of its own, fixed single
//    border, close box only, laid out in twips at the screen's real DPI,
//    every control in the system's message font)
//  - Label (STATIC, coloured through WM_CTLCOLORSTATIC, readable on the
//    theme's face colour), TextBox (EDIT),
//    ProgressBar (PROGRESS_CLASS), CommandButton (BUTTON)
// The dialogs are in dialog_win32.cpp, event pumping in events_win32.cpp.
#include "platform/win32/backend_win32.h"  // first: the headers below need it

#include <commctrl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <type_traits>
#include <vector>

#include "platform/controls.h"
#include "platform/readable_colour.h"
#include "platform/win32/resource.h"

namespace platform {

using win32::ChildWindow;
using win32::Font;
using win32::ScreenDc;

namespace {

constexpr wchar_t kClassName[] = L"LarkspireDecompressWindow";
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kWindowExStyle = 0;
constexpr int kTwipsPerInch = 1440;
// The bar's own range; fine enough that 8.33 and 16.67 show apart.
constexpr int kProgressSteps = 10000;

HINSTANCE Instance() { return ::GetModuleHandleW(nullptr); }

int ScreenDpi() {
  ScreenDc screen;
  const int dpi = screen.get() ? ::GetDeviceCaps(screen.get(), LOGPIXELSX) : 0;
  return dpi > 0 ? dpi : USER_DEFAULT_SCREEN_DPI;
}

// The font the system uses for message boxes, at the real DPI since the
// manifest declares the program DPI-aware.
Font MessageFont() {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  LOGFONTW logFont{};
  if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics,
                              0)) {
    logFont = metrics.lfMessageFont;
  } else {
    ::GetObjectW(::GetStockObject(DEFAULT_GUI_FONT), sizeof logFont, &logFont);
  }
  return Font(::CreateFontIndirectW(&logFont));
}

std::string WindowText(HWND hwnd) {
  const int length = ::GetWindowTextLengthW(hwnd);
  if (length <= 0) return "";
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const int copied = ::GetWindowTextW(hwnd, &text[0], length + 1);
  text.resize(static_cast<std::size_t>(std::max(copied, 0)));
  return win32::Utf8(text);
}

void SetWindowTextOrThrow(HWND hwnd, const std::string& text) {
  if (!::SetWindowTextW(hwnd, win32::Wide(text).c_str()))
    win32::ThrowLastError();
}

COLORREF ToColorRef(Rgb color) {
  return RGB(color.red, color.green, color.blue);
}

Rgb SystemColor(int index) {
  const COLORREF c = ::GetSysColor(index);
  return {GetRValue(c), GetGValue(c), GetBValue(c)};
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam,
                            LPARAM lParam);

void RegisterWindowClass() {
  static bool registered = false;
  if (registered) return;
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = Instance();
  windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = kClassName;
  if (!::RegisterClassExW(&windowClass) &&
      ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
    win32::ThrowLastError();
  registered = true;
}

// Shared icons (LR_SHARED) are the system's to free.
HICON LoadProgramIcon(int widthMetric, int heightMetric) {
  return static_cast<HICON>(::LoadImageW(
      Instance(), MAKEINTRESOURCEW(IDI_LARKSPIRE), IMAGE_ICON,
      ::GetSystemMetrics(widthMetric), ::GetSystemMetrics(heightMetric),
      LR_DEFAULTCOLOR | LR_SHARED));
}

// Answers a dialog of this thread (the save dialog, its question, an error
// box: dialogs of the system's class) as cancelled, so that a close
// request ends the program while one is open.
BOOL CALLBACK CancelDialog(HWND window, LPARAM) {
  wchar_t kind[16] = {};
  ::GetClassNameW(window, kind, 16);
  if (std::wstring(kind) == L"#32770" && ::IsWindowVisible(window))
    ::PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
  return TRUE;
}

}  // namespace

// ---- Window -----------------------------------------------------------------

int Window::Impl::Pixels(int twips) const {
  return ::MulDiv(twips, dpi, kTwipsPerInch);
}

RECT Window::Impl::PixelRect(const Rect& rect) const {
  return {Pixels(rect.left), Pixels(rect.top), Pixels(rect.left + rect.width),
          Pixels(rect.top + rect.height)};
}

HWND Window::Impl::AddControl(const wchar_t* className, DWORD style,
                              DWORD exStyle, const Rect& rect,
                              const std::string& text, int* id) {
  const RECT at = PixelRect(rect);
  const int controlId = nextId++;
  HWND control = ::CreateWindowExW(
      exStyle, className, win32::Wide(text).c_str(),
      WS_CHILD | WS_VISIBLE | style, at.left, at.top, at.right - at.left,
      at.bottom - at.top, hwnd,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(controlId)), Instance(),
      nullptr);
  if (!control) win32::ThrowLastError();
  ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()),
                 FALSE);
  if (id) *id = controlId;
  return control;
}

SIZE Window::Impl::TextExtent(const std::string& text) const {
  ScreenDc screen;
  SIZE size{0, 0};
  if (!screen.get()) return size;
  const win32::Selected selected(screen.get(), font.get());
  const std::wstring wide = win32::Wide(text);
  ::GetTextExtentPoint32W(screen.get(), wide.data(),
                          static_cast<int>(wide.size()), &size);
  return size;
}

int Window::Impl::ClientWidth() const {
  RECT client{};
  ::GetClientRect(hwnd, &client);
  return client.right;
}

void Window::Impl::RunClick(int id) {
  const std::function<void()> handler = ClickHandler(id);
  if (handler) handler();
}

void Window::Impl::PressFocusedButton() {
  const HWND focus = ::GetFocus();
  if (focus && ::IsChild(hwnd, focus)) RunClick(::GetDlgCtrlID(focus));
}

void Window::Impl::MoveFocus(WPARAM wParam, LPARAM lParam) {
  HWND target = nullptr;
  if (LOWORD(lParam)) {
    target = reinterpret_cast<HWND>(wParam);
  } else {
    HWND focus = ::GetFocus();
    if (!::IsChild(hwnd, focus)) focus = nullptr;
    target = ::GetNextDlgTabItem(hwnd, focus, wParam != 0);
  }
  if (target) ::SetFocus(target);
}

void Window::Impl::RestoreFocus() {
  HWND target = lastFocus && ::IsChild(hwnd, lastFocus)
                    ? lastFocus
                    : ::GetNextDlgTabItem(hwnd, nullptr, FALSE);
  if (target) ::SetFocus(target);
}

LRESULT Window::Impl::ColorStatic(HDC dc, HWND control) {
  if (textBoxes.count(control)) {
    // A read-only edit asks as a static does; the log stays white.
    ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
    ::SetBkColor(dc, ::GetSysColor(COLOR_WINDOW));
    return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_WINDOW));
  }
  // Made readable on the theme's face colour when drawn, so that a switch
  // to a high-contrast theme is followed.
  const auto found = labelColors.find(control);
  if (found != labelColors.end())
    ::SetTextColor(
        dc, ToColorRef(ReadableOn(found->second, SystemColor(COLOR_BTNFACE),
                                  SystemColor(COLOR_BTNTEXT))));
  ::SetBkMode(dc, TRANSPARENT);
  return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
}

void Window::Impl::EndSession() {
  Handle(WM_CLOSE, 0, 0);
  const auto handlers = win32::State().sessionEnd;
  for (auto it = handlers.rbegin(); it != handlers.rend(); ++it) (**it)();
}

LRESULT Window::Impl::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_QUERYENDSESSION:
      // Only a yes: another program may still cancel the shutdown, and the
      // batch goes on until the session really ends.
      return TRUE;
    case WM_ENDSESSION:
      // Windows may end the program any moment after this returns
      // (Microsoft's WM_ENDSESSION page): the decoder is stopped and what
      // its run made removed here, before returning. FALSE: the shutdown
      // was cancelled, and nothing changes.
      if (wParam) EndSession();
      return 0;
    case WM_CLOSE:
      // The batch may still write to the controls: hide now, destroy
      // with the Window. The posted message wakes a waiting GetMessageW.
      closed = true;
      ::ShowWindow(hwnd, SW_HIDE);
      ::EnumThreadWindows(::GetCurrentThreadId(), CancelDialog, 0);
      ::PostMessageW(hwnd, WM_NULL, 0, 0);
      return 0;
    case WM_COMMAND:
      if (HIWORD(wParam) != BN_CLICKED) break;
      if (LOWORD(wParam) == IDOK) {
        PressFocusedButton();
      } else {
        RunClick(LOWORD(wParam));
      }
      return 0;
    case WM_CTLCOLORSTATIC:
      return ColorStatic(reinterpret_cast<HDC>(wParam),
                         reinterpret_cast<HWND>(lParam));
    case WM_NEXTDLGCTL:
      MoveFocus(wParam, lParam);
      return 0;
    case WM_ACTIVATE:
      if (LOWORD(wParam) == WA_INACTIVE) {
        const HWND focus = ::GetFocus();
        if (::IsChild(hwnd, focus)) lastFocus = focus;
      }
      break;  // activation focuses the window; WM_SETFOCUS passes it on
    case WM_SETFOCUS:
      RestoreFocus();
      return 0;
    default:
      break;
  }
  return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

namespace {

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam,
                            LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* impl = static_cast<Window::Impl*>(
        reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    impl->hwnd = hwnd;
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(impl));
  }
  auto* impl =
      reinterpret_cast<Window::Impl*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (message == WM_NCDESTROY) ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
  if (!impl) return ::DefWindowProcW(hwnd, message, wParam, lParam);
  return impl->Handle(message, wParam, lParam);
}

}  // namespace

void Initialize() {
  win32::LimitDllSearch();
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES;
  ::InitCommonControlsEx(&controls);
}

Window::Window(const std::string& caption, int clientWidth, int clientHeight)
    : impl_(std::make_unique<Impl>()) {
  RegisterWindowClass();
  Impl& window = *impl_;
  window.dpi = ScreenDpi();
  window.font = MessageFont();
  RECT frame{0, 0, window.Pixels(clientWidth), window.Pixels(clientHeight)};
  ::AdjustWindowRectEx(&frame, kWindowStyle, FALSE, kWindowExStyle);
  if (!::CreateWindowExW(
          kWindowExStyle, kClassName, win32::Wide(caption).c_str(),
          kWindowStyle, CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
          frame.bottom - frame.top, nullptr, nullptr, Instance(), &window))
    win32::ThrowLastError();
  ::SendMessageW(
      window.hwnd, WM_SETICON, ICON_SMALL,
      reinterpret_cast<LPARAM>(LoadProgramIcon(SM_CXSMICON, SM_CYSMICON)));
  ::SendMessageW(
      window.hwnd, WM_SETICON, ICON_BIG,
      reinterpret_cast<LPARAM>(LoadProgramIcon(SM_CXICON, SM_CYICON)));
  win32::State().window = impl_.get();
}

Window::~Window() {
  if (win32::State().window == impl_.get()) win32::State().window = nullptr;
  if (::IsWindow(impl_->hwnd)) ::DestroyWindow(impl_->hwnd);
}

void Window::Show() {
  ::ShowWindow(impl_->hwnd, SW_SHOWNORMAL);
  ::UpdateWindow(impl_->hwnd);
}

bool Window::Closed() const { return impl_->closed; }

void Window::RunUntilClosed() {
  MSG message;
  while (!impl_->closed && !win32::State().quitPosted) {
    const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) {
      win32::NoteQuit();
      break;
    }
    if (got == -1) break;
    win32::Dispatch(message);
  }
}

// ---- Label ------------------------------------------------------------------

struct Label::Impl {
  Impl(Window::Impl& parent, HWND hwnd, const RECT& at, Align alignment,
       bool oneLine)
      : window(parent),
        label(hwnd),
        layout(at),
        align(alignment),
        singleLine(oneLine) {}
  Window::Impl& window;
  ChildWindow label;
  RECT layout;  // pixels, as laid out
  Align align;
  bool singleLine;
  Rgb color{0, 0, 0};
  HWND namedBar = nullptr;  // a progress bar named after this label

  // A one-line label grows beyond its layout width when a caption needs
  // it (about its centre when centred), and returns to it when the caption
  // fits again: the message font is wider than the one the layout was
  // drawn for, and "Progress: 100%" must not lose its number.
  void FitCaption(const std::string& caption) {
    if (!singleLine) return;
    const int layoutWidth = layout.right - layout.left;
    const int width = std::max(
        layoutWidth, static_cast<int>(window.TextExtent(caption).cx) + 2);
    int left = layout.left;
    if (align == Align::kCenter) left -= (width - layoutWidth) / 2;
    left = std::max(0, std::min(left, window.ClientWidth() - width));
    RECT now{};
    ::GetWindowRect(label.get(), &now);
    if (now.right - now.left == width) return;
    // NOCOPYBITS: the old, narrower drawing must not be moved along; the
    // whole label is drawn anew.
    ::SetWindowPos(label.get(), nullptr, left, layout.top, width,
                   layout.bottom - layout.top,
                   SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS);
    ::InvalidateRect(label.get(), nullptr, TRUE);
  }
};

namespace {

// A label with room for one line only is drawn as one line: word wrap
// would push the end of its caption out of sight.
bool HoldsOneLine(Window::Impl& window, const RECT& at) {
  return at.bottom - at.top < 2 * window.TextExtent("Xg").cy;
}

}  // namespace

Label::Label(Window& parent, Rect rect, Align align,
             const std::string& caption) {
  Window::Impl& window = parent.impl();
  const RECT at = window.PixelRect(rect);
  const bool oneLine = HoldsOneLine(window, at);
  // SS_CENTERIMAGE makes a text label a single, vertically centred line.
  // WS_CLIPSIBLINGS: where the layout lets a label touch the log or the
  // bar, its background must not paint over their borders.
  const DWORD style = SS_NOPREFIX | WS_CLIPSIBLINGS |
                      (align == Align::kCenter ? SS_CENTER : SS_LEFT) |
                      (oneLine ? SS_CENTERIMAGE : 0);
  impl_ = std::make_unique<Impl>(
      window, window.AddControl(L"STATIC", style, 0, rect, caption, nullptr),
      at, align, oneLine);
  window.labelColors[impl_->label.get()] = impl_->color;
  impl_->FitCaption(caption);
}

Label::~Label() { impl_->window.labelColors.erase(impl_->label.get()); }

void Label::SetCaption(const std::string& caption) {
  // Resized first, so the new caption is drawn once, at its final size.
  impl_->FitCaption(caption);
  SetWindowTextOrThrow(impl_->label.get(), caption);
  if (impl_->namedBar) SetWindowTextOrThrow(impl_->namedBar, caption);
}

std::string Label::Caption() const { return WindowText(impl_->label.get()); }

void Label::SetForeColor(Rgb color) {
  // The same colour again: the new caption repaints the label anyway.
  if (color == impl_->color) return;
  impl_->color = color;
  impl_->window.labelColors[impl_->label.get()] = color;
  ::InvalidateRect(impl_->label.get(), nullptr, TRUE);
}

Rgb Label::ForeColor() const { return impl_->color; }

// ---- TextBox ----------------------------------------------------------------

struct TextBox::Impl {
  Impl(Window::Impl& parent, HWND hwnd) : window(parent), edit(hwnd) {}
  Window::Impl& window;
  ChildWindow edit;
  std::unique_ptr<ChildWindow> name;  // its hidden label

  HWND get() const { return edit.get(); }
  void Selection(DWORD& start, DWORD& end) const {
    ::SendMessageW(get(), EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                   reinterpret_cast<LPARAM>(&end));
  }
  // Text appended at the end leaves the caret there, so the log's selection
  // is nearly always in place already; setting it anyway makes the control
  // find the caret's line and redraw it (under Wine, a walk over every line
  // of the log).
  void Select(DWORD start, DWORD end) const {
    DWORD now = 0, nowEnd = 0;
    Selection(now, nowEnd);
    if (now != start || nowEnd != end)
      ::SendMessageW(get(), EM_SETSEL, start, static_cast<LPARAM>(end));
  }
};

TextBox::TextBox(Window& parent, Rect rect)
    : impl_(std::make_unique<Impl>(
          parent.impl(), parent.impl().AddControl(
                             L"EDIT",
                             WS_TABSTOP | WS_VSCROLL | ES_LEFT | ES_MULTILINE |
                                 ES_AUTOVSCROLL | ES_READONLY,
                             WS_EX_CLIENTEDGE, rect, "", nullptr))) {
  // 0 lifts the limit to the largest the control allows.
  ::SendMessageW(impl_->get(), EM_SETLIMITTEXT, 0, 0);
  impl_->window.textBoxes.insert(impl_->get());
}

TextBox::~TextBox() { impl_->window.textBoxes.erase(impl_->get()); }

// Screen readers name an edit after the static just before it in the
// window's order; a hidden one keeps the status line from lending its text.
void TextBox::SetAccessibleName(const std::string& name) {
  if (!impl_->name) {
    const HWND label =
        impl_->window.AddControl(L"STATIC", SS_NOPREFIX, 0, {}, name, nullptr);
    impl_->name = std::make_unique<ChildWindow>(label);
    ::ShowWindow(label, SW_HIDE);
    const HWND before = ::GetWindow(impl_->get(), GW_HWNDPREV);
    ::SetWindowPos(label, before ? before : HWND_TOP, 0, 0, 0, 0,
                   SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
  SetWindowTextOrThrow(impl_->name->get(), name);
}

std::string TextBox::Text() const { return WindowText(impl_->get()); }

void TextBox::SetText(const std::string& text) {
  SetWindowTextOrThrow(impl_->get(), text);
}

void TextBox::Append(const std::string& text) {
  const auto end = static_cast<DWORD>(Length());
  impl_->Select(end, end);
  const std::wstring wide = win32::Wide(text);
  ::SendMessageW(impl_->get(), EM_REPLACESEL, FALSE,
                 reinterpret_cast<LPARAM>(wide.c_str()));
}

std::size_t TextBox::Length() const {
  return static_cast<std::size_t>(
      std::max(::GetWindowTextLengthW(impl_->get()), 0));
}

void TextBox::SetSelStart(std::size_t start) {
  impl_->Select(static_cast<DWORD>(start), static_cast<DWORD>(start));
  ::SendMessageW(impl_->get(), EM_SCROLLCARET, 0, 0);
}

void TextBox::SetSelLength(std::size_t length) {
  DWORD start = 0;
  DWORD end = 0;
  impl_->Selection(start, end);
  impl_->Select(start, static_cast<DWORD>(start + length));
}

std::size_t TextBox::SelStart() const {
  DWORD start = 0;
  DWORD end = 0;
  impl_->Selection(start, end);
  return start;
}

std::size_t TextBox::SelLength() const {
  DWORD start = 0;
  DWORD end = 0;
  impl_->Selection(start, end);
  return end - start;
}

// ---- ProgressBar ------------------------------------------------------------

struct ProgressBar::Impl {
  explicit Impl(HWND hwnd) : bar(hwnd) {}
  ChildWindow bar;
};

ProgressBar::ProgressBar(Window& parent, Rect rect)
    : impl_(std::make_unique<Impl>(
          parent.impl().AddControl(PROGRESS_CLASSW, 0, 0, rect, "", nullptr))) {
  ::SendMessageW(impl_->bar.get(), PBM_SETRANGE32, 0, kProgressSteps);
  ::SendMessageW(impl_->bar.get(), PBM_SETPOS, 0, 0);
}

ProgressBar::~ProgressBar() = default;

// A bar's name is its window text; it follows the label's caption.
void ProgressBar::NameAfter(Label& label) {
  label.impl().namedBar = impl_->bar.get();
  SetWindowTextOrThrow(impl_->bar.get(), label.Caption());
}

void ProgressBar::Draw(float value) {
  const long position = std::lround(value * (kProgressSteps / 100.0));
  ::SendMessageW(impl_->bar.get(), PBM_SETPOS, static_cast<WPARAM>(position),
                 0);
}

// ---- CommandButton ----------------------------------------------------------

struct CommandButton::Impl {
  Impl(Window::Impl& parent, const Rect& rect, const std::string& caption)
      : window(parent),
        button(parent.AddControl(L"BUTTON", WS_TABSTOP | BS_PUSHBUTTON, 0, rect,
                                 caption, &id)) {}
  Window::Impl& window;
  int id = 0;
  ChildWindow button;
};

CommandButton::CommandButton(Window& parent, Rect rect,
                             const std::string& caption)
    : impl_(std::make_unique<Impl>(parent.impl(), rect, caption)) {}

CommandButton::~CommandButton() {
  impl_->window.clickHandlers.erase(impl_->id);
}

void CommandButton::Bind(std::function<void()> guarded) {
  impl_->window.clickHandlers[impl_->id] = std::move(guarded);
}

void CommandButton::Click() { impl_->window.RunClick(impl_->id); }

std::string CommandButton::Caption() const {
  return WindowText(impl_->button.get());
}

}  // namespace platform
