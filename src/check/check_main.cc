// Entry of the package checker, a console program on both builds.
#include <cstdio>

#include "check/check.h"
#include "deploy/deploy.h"

namespace {

// The name the program was started by, without its folder or ".exe".
std::string fncProgramName(const char* pArgument) {
  std::string strName = pArgument != nullptr ? pArgument : "";
  size_t lngSlash = strName.find_last_of("\\/");
  if (lngSlash != std::string::npos) strName.erase(0, lngSlash + 1);
  if (tarvex::fncFileKind(strName) == ".EXE") strName.resize(strName.size() - 4);
  return strName.empty() ? "tarvex-check" : strName;
}

}  // namespace

int main(int argc, char** argv) {
  // As the run: on Windows no library is loaded from beside the program.
  tarvex::subBeginProcess(argc, argv);
  std::vector<std::string> objArgs(argv + (argc > 0 ? 1 : 0), argv + argc);
  std::string strOut, strErr;
  int intExit = tarvex::fncCheckMain(fncProgramName(argc > 0 ? argv[0] : nullptr), objArgs,
                                     strOut, strErr);
  std::fwrite(strOut.data(), 1, strOut.size(), stdout);
  std::fwrite(strErr.data(), 1, strErr.size(), stderr);
  return std::fflush(stdout) == 0 ? intExit : tarvex::kCheckCannotRun;
}
