// Win32 event pumping. Implements from events.h:
//  - PumpEvents, WaitForProcessOrEvents (MsgWaitForMultipleObjectsEx)
// Keyboard navigation (Tab, Alt+access key) comes from IsDialogMessageW in
// both message loops.
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

bool WaitForProcessOrEvents(Process& process, unsigned ms) {
  if (process.Ended()) return true;
  HANDLE handle = reinterpret_cast<HANDLE>(process.HandleValue());
  // MWMO_INPUTAVAILABLE: input already queued but not yet read also wakes
  // the wait, not only input that arrives during it.
  const DWORD result = ::MsgWaitForMultipleObjectsEx(
      1, &handle, ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  // A failed wait is left to Process::Wait to report.
  if (result == WAIT_OBJECT_0 || result == WAIT_FAILED) return process.Wait(0);
  return false;
}

}  // namespace platform
