// The benchmark's mailbox on Win32: a message-only window of the making
// thread; each post is a PostMessage to it carrying the post time in
// microseconds since the mailbox was made. The batch's PeekMessage loop
// dispatches it like any other message of the thread.
#include <windows.h>

#include <chrono>
#include <utility>

#include "bench/poster.h"

namespace bench {

namespace {

constexpr UINT kLetter = WM_APP + 1;
constexpr char kClassName[] = "LarkspireBenchMailbox";

LRESULT CALLBACK MailboxProc(HWND hwnd, UINT message, WPARAM wParam,
                             LPARAM lParam);

HWND MakeWindow(void* owner) {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = MailboxProc;
  windowClass.hInstance = ::GetModuleHandleA(nullptr);
  windowClass.lpszClassName = kClassName;
  ::RegisterClassA(&windowClass);  // fails harmlessly when already there
  HWND hwnd = ::CreateWindowExA(0, kClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                nullptr, windowClass.hInstance, nullptr);
  if (!hwnd) Fail("cannot make the mailbox window");
  ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(owner));
  return hwnd;
}

}  // namespace

struct Mailbox::Impl {
  std::function<void(Clock::time_point)> handler;
  Clock::time_point epoch = Clock::now();
  HWND hwnd = nullptr;

  void Deliver(LPARAM micros) {
    handler(epoch + std::chrono::microseconds(static_cast<DWORD>(micros)));
  }
};

namespace {

LRESULT CALLBACK MailboxProc(HWND hwnd, UINT message, WPARAM wParam,
                             LPARAM lParam) {
  if (message != kLetter)
    return ::DefWindowProcA(hwnd, message, wParam, lParam);
  reinterpret_cast<Mailbox::Impl*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA))
      ->Deliver(lParam);
  return 0;
}

}  // namespace

Mailbox::Mailbox(std::function<void(Clock::time_point)> handler)
    : impl_(std::make_unique<Impl>()) {
  impl_->handler = std::move(handler);
  impl_->hwnd = MakeWindow(impl_.get());
}

Mailbox::~Mailbox() { ::DestroyWindow(impl_->hwnd); }

void Mailbox::Post(Clock::time_point posted) {
  const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(
                          posted - impl_->epoch)
                          .count();
  ::PostMessageA(impl_->hwnd, kLetter, 0, static_cast<LPARAM>(micros));
}

}  // namespace bench
