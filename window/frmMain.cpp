#include "window/frmMain.h"

#include <cstdio>

#include "platform/platform.h"

namespace {

// Client area and control rectangles, in twips.
constexpr int kClientWidth = 6840;
constexpr int kClientHeight = 4035;

std::int16_t NarrowToInteger(std::int32_t value) {
  if (value < -32768 || value > 32767)
    throw platform::Error(platform::kErrOverflow, "Overflow");
  return static_cast<std::int16_t>(value);
}

std::uint8_t ColorComponent(std::int32_t value) {
  const std::int16_t narrow = NarrowToInteger(value);
  if (narrow < 0)
    throw platform::Error(platform::kErrInvalidCall,
                          "Invalid procedure call or argument");
  return static_cast<std::uint8_t>(narrow > 255 ? 255 : narrow);
}

const char kSaveTitle[] = "Save Logfile";

// yyyymmdd
std::string DateStamp(const platform::Date& date) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d%02d%02d", date.year % 10000,
                date.month % 100, date.day % 100);
  return text;
}

// Where the program lies; empty when the system cannot name it, and the
// dialog then opens where the system puts it.
std::string ProgramFolder() {
  try {
    return platform::ApplicationFolder();
  } catch (const platform::Error&) {
    return "";
  }
}

}  // namespace

frmMain::frmMain()
    : window_("Larkspire Decompress Tool", kClientWidth, kClientHeight),
      lblStatus(window_, {120, 120, 6615, 495}, platform::Align::kLeft, ""),
      txtLog(window_, {120, 600, 6615, 2535}),
      pbProgress(window_, {120, 3360, 6375, 255}),
      lblPercent(window_, {2760, 3120, 1215, 255}, platform::Align::kCenter,
                 "Progress:"),
      cmdSave(window_, {5520, 3720, 975, 255}, "&Save Log"),
      cdlLog(window_) {
  txtLog.SetAccessibleName("Log");
  pbProgress.NameAfter(lblPercent);
  cmdSave.OnClick([this] { cmdSave_Click(); });
}

void frmMain::cmdSave_Click() {
  // Set on every press, so a name chosen before is not offered again.
  const platform::Date today = platform::Today();
  cdlLog.DefaultExt = "txt";
  cdlLog.DialogTitle = kSaveTitle;
  cdlLog.InitDir = ProgramFolder();
  cdlLog.CancelError = true;
  cdlLog.FileName = "larkspireRepoLog_" + DateStamp(today) + ".txt";
  try {
    cdlLog.ShowSave();
    platform::WriteFileReplacing(cdlLog.FileName,
                                 platform::TextFileBytes(txtLog.Text()));
  } catch (const platform::Error& e) {
    if (e.Number() != platform::kErrCancel) ReportSaveFailure(e);
  } catch (const std::exception& e) {
    ReportSaveFailure(e);
  }
}

void frmMain::ReportSaveFailure(const std::exception& error) {
  platform::ShowError(
      window_, kSaveTitle,
      "The log could not be saved to " + cdlLog.FileName + ": " + error.what());
}

void ShowStatus(frmMain& form, const std::string& text, std::int32_t red,
                std::int32_t green, std::int32_t blue) {
  form.lblStatus.SetCaption(text);
  form.lblStatus.SetForeColor(
      {ColorComponent(red), ColorComponent(green), ColorComponent(blue)});
  // The log is the text box's own text. The result is what reading it,
  // adding CR LF when it is not empty, and setting it back would give, but
  // without copying the whole log on every message.
  form.txtLog.Append(form.txtLog.Length() == 0 ? text : "\r\n" + text);
  form.txtLog.SetSelStart(form.txtLog.Length());
  form.txtLog.SetSelLength(0);
}
