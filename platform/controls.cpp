// The control rules that do not depend on the system, for every backend.
#include "platform/controls.h"

#include "platform/platform.h"

namespace platform {

void ProgressBar::SetValue(float value) {
  if (!(value >= 0.0f && value <= 100.0f))
    throw Error(kErrInvalidPropertyValue, "Invalid property value");
  value_ = value;
  Draw(value);
}

void CommonDialog::ShowSave() {
  if (AskSave() == Answer::kCancelled && CancelError)
    throw Error(kErrCancel, "Cancel was selected.");
}

}  // namespace platform
