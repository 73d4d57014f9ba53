// The program's entry: it takes no arguments. The window outlives the batch
// and the program ends when the user closes it.
#include "batch/basFunctions.h"
#include "platform/controls.h"
#include "window/frmMain.h"

int main() {
  platform::Initialize();
  frmMain form;
  basFunctions::Main(form, basFunctions::ProgramSetup());
  form.RunUntilClosed();
  return 0;
}
