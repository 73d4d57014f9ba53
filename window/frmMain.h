// The program's one window: status line, log, percentage label, progress
// bar and the Save Log button, laid out in twips.
#pragma once

#include <cstdint>
#include <string>

#include "platform/controls.h"
#include "platform/platform.h"

class frmMain {
 public:
  frmMain();
  frmMain(const frmMain&) = delete;
  frmMain& operator=(const frmMain&) = delete;

  // Shows the window without blocking.
  void Show() { window_.Show(); }
  bool Closed() const { return window_.Closed(); }
  void RunUntilClosed() { window_.RunUntilClosed(); }

  // Save Log: asks for a file in the save dialog and writes the whole log
  // to it. Cancel does nothing; a failed save says why in an error box and
  // leaves any existing file as it was.
  void cmdSave_Click();

 private:
  void ReportSaveFailure(const std::exception& error);

  platform::Window window_;

 public:
  // Declared in tab order, which is also creation order.
  platform::Label lblStatus;
  platform::TextBox txtLog;
  platform::ProgressBar pbProgress;
  platform::Label lblPercent;
  platform::CommandButton cmdSave;
  platform::CommonDialog cdlLog;
};

// Puts `text` on the status line in the colour (red, green, blue) and
// appends it to the log as a line of its own. Each component must fit a
// 16-bit signed integer (else an Overflow error); above 255 counts as 255.
void ShowStatus(frmMain& form, const std::string& text, std::int32_t red,
                std::int32_t green, std::int32_t blue);
