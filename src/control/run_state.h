// The bottom of the logic: the run's state, its log, its errors, and the
// paths every subsystem forms. Everything above the platform layer may
// include this; Main and the run sequence (control.h) stand on top of all.
#ifndef TARVEX_CONTROL_RUN_STATE_H_
#define TARVEX_CONTROL_RUN_STATE_H_

#include <string>

#include "platform/platform.h"

namespace tarvex {

// The state of one run; one instance per process, owned by Main.
struct RunState {
  std::string strPID;
  std::string strInstallPath;  // ends in the separator when not empty
  std::string strRegID;
  std::string strPIDFilePath;
  bool blnFailed = false;
  std::string strFailureDesc;  // fragments, each ending in "; "
  // The status file holds this run's PID and, once written, its final
  // status; only such a file is handed over.
  bool blnStatusWritten = false;
  // The status file reached the agent's PMStatus folder.
  bool blnHandedOver = false;
  TextFile objLog = nullptr;
};

extern RunState g_run;

// The deployment manifest and the package's seal, beside the program.
const char kManifestName[] = "Tarvex.INI";
const char kSealName[] = "Tarvex.SHA256";

// Appends one line to the run log; never fails.
void subWriteLog(const std::string& strMessage);

// Records a deployment failure in the run state.
void subRecordFailure(const std::string& strFragment);

// The error being handled inside a catch block, as a number and a text.
Error fncTrappedError();
std::string fncErrorSuffix(const Error& objError);  // " " + number + " " + text

// The application folder, and the separator as text.
std::string fncAppFolder();
std::string fncSep();

}  // namespace tarvex

#endif  // TARVEX_CONTROL_RUN_STATE_H_
