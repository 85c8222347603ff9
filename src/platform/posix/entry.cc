#include <clocale>

#include "control/control.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  // Dates and times follow the host's locale, as on Windows.
  std::setlocale(LC_TIME, "");
  tarvex::subSetArguments(argc, argv);
  return tarvex::Main();
}
