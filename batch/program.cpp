// The program's entry: it takes no arguments. The window outlives the batch
// and the program ends when the user closes it.
#include <exception>

#include "batch/basFunctions.h"
#include "platform/controls.h"
#include "window/frmMain.h"

int main() {
  try {
    platform::PrepareProcess();
    platform::Initialize();
    frmMain form;
    basFunctions::Main(form);
    form.RunUntilClosed();
    return 0;
  } catch (const std::exception& e) {
    // Only what fails before there is a window to say it in, or after it.
    platform::ShowStartupError(e.what());
    return 1;
  }
}
