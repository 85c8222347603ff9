// The bottom of the logic: the run's state, its log, its errors, and the
// paths every subsystem forms. Everything above the platform layer may
// include this; Main and the run sequence (control.h) stand on top of all.
#ifndef TARVEX_CONTROL_RUN_STATE_H_
#define TARVEX_CONTROL_RUN_STATE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace tarvex {

// What the run report (Duplix.json) tells of one manifest entry.
struct CopyReport {
  std::string strResult = "not-asked";  // copied, unchanged, failed, skipped, not-asked
  int intAttempts = 0;
  uint64_t lngBytes = 0;
  std::string strSha256;  // of what was placed, where the run hashed it
  Error objError{0, ""};  // of the last attempt that failed
};
struct ExecutionReport {
  // registered, ran, failed, not-started, timed-out, not-asked
  std::string strResult = "not-asked";
  std::string strCommand;
  bool blnExitCode = false;
  uint32_t lngExitCode = 0;
  double dblSeconds = 0;
  std::string strJudgment;  // success, reboot or failure, for a judged entry
};
struct EntryReport {
  std::string strSection, strFileName, strTarget;
  CopyReport objCopy;
  ExecutionReport objExecution;
};

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
  // The agent's PackageKeys: whether the value is there (then only signed
  // packages run), whether it could be read as text, and the text.
  bool blnPackageKeys = false;
  bool blnPackageKeysRead = false;
  std::string strPackageKeys;
  // When the run started, in seconds since 1970 (UTC), and as local time.
  int64_t lngStartTime = 0;
  LocalTime objStartLocal{};
  // The status decided at the end ("" before), and whether an entry's
  // program asked for a restart.
  std::string strStatus;
  bool blnRebootRequired = false;
  bool blnHandOffTried = false;
  // What the run report tells of the seal and the entries.
  std::string strSealState = "none";  // verified, broken
  size_t lngSealFiles = 0;
  std::string strSignedPackage;
  int64_t lngSignedVersion = 0;
  std::vector<EntryReport> objEntries;
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

// The seconds since 1970 of a calendar time read as UTC.
int64_t fncUtcSeconds(const LocalTime& objTime);

// The application folder, and the separator as text.
std::string fncAppFolder();
std::string fncSep();

}  // namespace tarvex

#endif  // TARVEX_CONTROL_RUN_STATE_H_
