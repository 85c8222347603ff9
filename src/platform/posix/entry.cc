#include <clocale>
#include <csignal>

#include "control/control.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  // Dates and times follow the host's locale, as on Windows.
  std::setlocale(LC_TIME, "");
  // An ignored SIGCHLD survives exec and makes the system reap the children
  // itself: their exit codes would be lost to waitpid.
  std::signal(SIGCHLD, SIG_DFL);
  tarvex::subSetArguments(argc, argv);
  return tarvex::Main();
}
