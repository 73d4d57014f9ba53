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

// An exception must not unwind through the system's event loop (a window
// procedure, a GTK signal); a handler reports its own errors.
void CommandButton::OnClick(std::function<void()> handler) {
  Bind([handler = std::move(handler)] {
    try {
      handler();
    } catch (...) {
    }
  });
}

void CommonDialog::ShowSave() {
  if (AskSave() == Answer::kCancelled && CancelError)
    throw Error(kErrCancel, "Cancel was selected.");
}

SaveStart SaveDialogStart(const std::string& folder, const std::string& name,
                          std::size_t longest) {
  if (folder.empty() || name.find_first_of("\\/:") != std::string::npos)
    return {"", name};
  const std::string path = folder.back() == kPathSeparator
                               ? folder + name
                               : folder + kPathSeparator + name;
  if (path.size() >= longest) return {folder, name};
  return {"", path};
}

}  // namespace platform
