// Run control: the run state, the run log, Main and the run sequence.
#ifndef TARVEX_CONTROL_CONTROL_H_
#define TARVEX_CONTROL_CONTROL_H_

#include <map>
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
  // The package seal's digests, by fncSealKey of each name; empty for an
  // unsealed package.
  std::map<std::string, std::string> objSealDigests;
  TextFile objLog = nullptr;
};

extern RunState g_run;

// The deployment manifest, beside the program.
const char kManifestName[] = "Tarvex.INI";

// Process exit codes.
enum : int {
  kExitSuccess = 0,
  kExitFailed = 1,
  kExitInvalidParameter = 2,
  kExitTrapped = 3,
  kExitLockTimeout = 4,  // another run held the application folder too long
  kExitNotHandedOver = 5,  // the agent never received this run's status file
};

// How long a run waits for the run in its application folder to end.
constexpr uint32_t kLockWaitMilliseconds = 30 * 60 * 1000;

// Appends one line to the run log; never fails.
void subWriteLog(const std::string& strMessage);

// Records a deployment failure in the run state.
void subRecordFailure(const std::string& strFragment);

// The error being handled inside a catch block, as a number and a text.
Error fncTrappedError();
std::string fncErrorSuffix(const Error& objError);  // " " + number + " " + text

// Quotes removed, outer spaces trimmed.
std::string fncCleanCommandLine(const std::string& strCommandLine);

// Host's general date-time text: short date, a space, long time; the time
// is left out at exactly midnight.
std::string fncGeneralDateTime(const LocalTime& objTime);

// The application folder, its short form, and the separator as text.
std::string fncAppFolder();
std::string fncSep();

// Body of a run with an accepted PID; returns the exit code.
int fncRunSequence();

// The entry routine; returns the process exit code.
int Main();

}  // namespace tarvex

#endif  // TARVEX_CONTROL_CONTROL_H_
