// Entry of the Windows program: a GUI-subsystem executable that opens no
// window, so a run started by the agent shows nothing on the desktop.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "control/control.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return tarvex::Main(); }
