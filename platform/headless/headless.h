// What tests and benchmarks can do to the headless window: act as the user
// would between the batch's steps. Every hook runs inside PumpEvents, as a
// real event handler would.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/controls.h"

namespace platform {
namespace headless {

// Runs `hook` on every PumpEvents call (nullptr removes it).
void SetPumpHook(std::function<void()> hook);

// How many times PumpEvents has run since the last reset.
long PumpCount();

// The user closes the program's window (the latest one made): the next
// PumpEvents reports it.
void Close();
bool IsShown(Window& window);

// The system ends the session: the window closes and every live
// SessionEndHandler runs, latest first, as at a Windows logoff.
void EndSession();

// Answers the next ShowSave calls: return a path to confirm it, or an empty
// string to cancel. The responder sees the dialog's settings as shown.
void SetSaveResponder(
    std::function<std::string(const CommonDialog&)> responder);

// The error boxes shown so far, each as title + "|" + text.
std::vector<std::string> ShownErrors();

// Resets every hook and counter above.
void Reset();

}  // namespace headless
}  // namespace platform
