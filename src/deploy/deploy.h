// Deployment: copying and deleting single files, deploying one manifest
// entry.
#ifndef TARVEX_DEPLOY_DEPLOY_H_
#define TARVEX_DEPLOY_DEPLOY_H_

#include <cstdint>
#include <string>

#include "control/run_state.h"
#include "deploy/outcome.h"
#include "environment/environment.h"

namespace tarvex {

const int kCopyAttempts = 3;
const uint32_t kRetryPauseMs = 10000;
const uint32_t kProcessWaitMs = 600000;
const uint32_t kProcessAccess = 0x1F0FFF;

// What a copy did: left the target in place (it held the bytes already) or
// placed the source's lngBytes.
struct CopyOutcome {
  bool blnUnchanged = false;
  uint64_t lngBytes = 0;
};

// strSha256, where not empty, is the digest the copied bytes must have (a
// sealed package's source): other bytes are never placed. pReport, where
// given, learns what the copy did, or the error it failed with.
bool fncDuplix(const std::string& strSource, const std::string& strDestination,
               const std::string& strSha256 = std::string(), CopyReport* pReport = nullptr);

// The copy engine (copy.cc). Copies with overwrite; a destination ending in
// the separator names the folder to copy into, and the copy keeps the
// source's own name. The target is replaced in one step and is on the disk
// when the copy returns; a target that already holds the source's bytes is
// left in place. A folder at the target's name, a read-only target with
// other bytes and a target that is the source by any path fail it with 5.
// Bytes other than those of the digest strSha256 (when not empty) are
// never placed, nor a target holding them left in place: 13. Raises Error.
CopyOutcome subCopyFile(const std::string& strSource, const std::string& strDestination,
                        const std::string& strSha256 = std::string());

bool fncDeleteFile(const std::string& strPath);

// What a run hands an entry beyond its five keys.
struct EntryOptions {
  // The digest the package's seal gives the source; null for an unsealed
  // package. A sealed package's copy without one is refused.
  const std::string* pSha256 = nullptr;
  // How its program is judged and how long it may take (SuccessCodes,
  // RebootCodes, Timeout); a program's only.
  EntryRules objRules;
  // What the run report tells of the entry; null for none.
  EntryReport* pReport = nullptr;
};

void subDuplix(const std::string& strFileName, const std::string& strFilePath, bool blnCopy,
               bool blnExecute, const std::string& strParameters,
               const EntryOptions& objOptions = EntryOptions());

// ---- execute.cc
// A path in quotes: unquoted, a folder with a space in it would make the
// system try its first word as a program.
std::string fncQuoted(const std::string& strPath);
// The registration tool's command: the system's own, by its full path where
// it has one, never one found beside the program.
std::string fncRegsvr32();
// What waiting for a started process found.
struct Waited {
  bool blnOpened = false;  // the process could be opened and waited for
  bool blnEnded = false;   // it ended within the wait
  bool blnCode = false;    // its exit code could be read
  uint32_t lngCode = 0;
  double dblSeconds = 0;   // from the call to the end of the wait
};
Waited fncAwaitProcess(uint32_t lngProcessID, uint32_t lngMilliseconds);

// The execute phase of an entry whose target is in place: a
// library registered, a program run and, where asked, judged and held to
// its time. Logs and records its outcome; raises Error when the program or
// the tool cannot be started.
void subExecute(const std::string& strTarget, const std::string& strParameters,
                const EntryRules& objRules, ExecutionReport& objReport);

// The keys of one manifest entry, as fncReadINI reads them, in the order a
// run reads them. A value that cannot be read fails the run (see
// fncReadINI) and reads as empty.
struct EntryValues {
  std::string strFileName;
  std::string strFilePath;
  std::string strDuplix;
  std::string strExecuteFile;
  std::string strParameters;
  // How a program is judged, where the package asks for it (after the
  // five, so that a run reads those as it always did).
  std::string strSuccessCodes;
  std::string strRebootCodes;
  std::string strTimeout;
};
EntryValues fncReadEntry(const std::string& strSection, const Manifest& objManifest);

// The name a copy gives its target: the last part of a FileName given with
// folders ("sub\\setup.exe" gives "setup.exe"). The target, unregistered,
// registered or run, is FilePath and this name.
std::string fncLastNamePart(const std::string& strFileName);

// ASCII upper case, as manifest flags and file kinds compare.
std::string fncUpperCase(const std::string& strText);
// A manifest flag is on only for "Y", in any case.
bool fncFlag(const std::string& strValue);
// The last four characters of a file name, upper-cased: ".DLL" is
// registered, ".EXE" run; nothing else can be executed.
std::string fncFileKind(const std::string& strFileName);

}  // namespace tarvex

#endif  // TARVEX_DEPLOY_DEPLOY_H_
