// The program's entry, the same on both builds: the system's start of a
// process, then Main. The Windows program is a GUI-subsystem executable that
// opens no window (its C run-time calls main as well), so a run started by
// the agent shows nothing on the desktop.
#include "control/control.h"

int main(int argc, char** argv) {
  tarvex::subBeginProcess(argc, argv);
  return tarvex::Main();
}
