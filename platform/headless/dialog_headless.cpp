// Headless dialogs. Implements from controls.h:
//  - CommonDialog::AskSave: the test's responder answers
//  - ShowError, ShowStartupError: noted for the test to read
#include "platform/headless/backend_headless.h"

namespace platform {

using headless::State;

CommonDialog::Answer CommonDialog::AskSave() {
  const auto& respond = State().saveResponder;
  const std::string chosen = respond ? respond(*this) : std::string();
  if (chosen.empty()) return Answer::kCancelled;
  FileName = chosen;
  return Answer::kChosen;
}

void ShowStartupError(const std::string& text) {
  State().errors.push_back("|" + text);
}

void ShowError(Window&, const std::string& title, const std::string& text) {
  State().errors.push_back(title + "|" + text);
}

}  // namespace platform
