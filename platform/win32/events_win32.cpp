// Win32 event pumping. Implements from events.h:
//  - PumpEvents, WaitForEvents, WaitForProcessOrEvents
//    (MsgWaitForMultipleObjectsEx)
//  - SessionEndHandler: run from WM_ENDSESSION (controls_win32.cpp)
// Keyboard navigation (Tab, Alt+access key) comes from IsDialogMessageW in
// both message loops.
#include <algorithm>
#include <utility>

#include "platform/events.h"
#include "platform/win32/backend_win32.h"

namespace platform {

namespace win32 {

Data& State() {
  static Data data;
  return data;
}

void Dispatch(MSG& message) {
  const Window::Impl* window = State().window;
  if (window && ::IsDialogMessageW(window->hwnd, &message)) return;
  ::TranslateMessage(&message);
  ::DispatchMessageW(&message);
}

void NoteQuit() {
  State().quitPosted = true;
  if (State().window) State().window->closed = true;
}

}  // namespace win32

bool PumpEvents() {
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      win32::NoteQuit();
      break;
    }
    win32::Dispatch(message);
  }
  const win32::Data& state = win32::State();
  return !state.quitPosted && !(state.window && state.window->closed);
}

namespace {

// What a run left behind is looked at again this often: nothing signals
// when a job has emptied.
constexpr unsigned kLookAgainMs = 10;

// Blocks until one of `handles` is signalled, input arrives, or `ms` pass.
// MWMO_INPUTAVAILABLE: input already queued but not yet read also wakes
// the wait, not only input that arrives during it.
void Wait(DWORD count, HANDLE* handles, unsigned ms) {
  ::MsgWaitForMultipleObjectsEx(count, handles, ms, QS_ALLINPUT,
                                MWMO_INPUTAVAILABLE);
}

}  // namespace

bool WaitForEvents(unsigned ms) {
  Wait(0, nullptr, ms);
  return PumpEvents();
}

bool WaitForProcessOrEvents(Process& process, unsigned ms) {
  if (process.Over()) return true;
  HANDLE handle = reinterpret_cast<HANDLE>(process.HandleValue());
  if (process.Exited())
    Wait(0, nullptr, std::min(ms, kLookAgainMs));
  else
    Wait(1, &handle, ms);
  return process.Over();
}

SessionEndHandler::SessionEndHandler(std::function<void()> handler)
    : handler_(std::move(handler)) {
  win32::State().sessionEnd.push_back(&handler_);
}

SessionEndHandler::~SessionEndHandler() {
  auto& handlers = win32::State().sessionEnd;
  handlers.erase(std::find(handlers.begin(), handlers.end(), &handler_));
}

}  // namespace platform
