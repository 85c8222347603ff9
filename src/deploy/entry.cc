#include "control/run_state.h"
#include "deploy/deploy.h"
#include "environment/environment.h"

namespace tarvex {

std::string fncUpperCase(const std::string& strText) {
  std::string strUpper = strText;
  for (char& chr : strUpper)
    if (chr >= 'a' && chr <= 'z') chr = static_cast<char>(chr - ('a' - 'A'));
  return strUpper;
}

bool fncFlag(const std::string& strValue) { return fncUpperCase(strValue) == "Y"; }

std::string fncFileKind(const std::string& strFileName) {
  return fncUpperCase(strFileName.size() > 4 ? strFileName.substr(strFileName.size() - 4)
                                             : strFileName);
}

EntryValues fncReadEntry(const std::string& strSection, const Manifest& objManifest) {
  EntryValues objEntry;
  objEntry.strFileName = fncReadINI(strSection, "FileName", objManifest);
  objEntry.strFilePath = fncReadINI(strSection, "FilePath", objManifest);
  objEntry.strDuplix = fncReadINI(strSection, "Duplix", objManifest);
  objEntry.strExecuteFile = fncReadINI(strSection, "ExecuteFile", objManifest);
  objEntry.strParameters = fncReadINI(strSection, "Parameters", objManifest);
  return objEntry;
}

std::string fncLastNamePart(const std::string& strFileName) {
  const std::string strSeparators = std::string("/") + Os().chrSeparator;
  const size_t lngSlash = strFileName.find_last_of(strSeparators);
  return lngSlash == std::string::npos ? strFileName : strFileName.substr(lngSlash + 1);
}

namespace {

// The target is quoted: unquoted, a folder with a space in it would make
// the system try its first word as a program.
std::string fncQuoted(const std::string& strPath) { return "\"" + strPath + "\""; }

void subFailExecute(const std::string& strTarget) {
  subRecordFailure("Failed to Execute/Register File " + strTarget + "; ");
}

// The routine's error line, for the error being handled.
void subLogTrapped(const std::string& strFileName) {
  subWriteLog("ERR : Sub - subDuplix FileName - " + strFileName +
              fncErrorSuffix(fncTrappedError()));
}

// Waits for a started process, at most the wait of a registration; true
// unless it ended with a non-zero code. A process still running after the
// wait, or one that cannot be opened or read, is given the benefit of the
// doubt.
bool fncAwaitProcess(uint32_t lngProcessID) {
  ProcHandle objProcess = Os().fncOpenProcess(kProcessAccess, lngProcessID);
  if (objProcess == nullptr) return true;
  Os().fncWaitForProcess(objProcess, kProcessWaitMs);
  uint32_t lngCode = 0;
  bool blnRead = Os().fncExitCode(objProcess, &lngCode);
  Os().subCloseProcess(objProcess);
  return !blnRead || lngCode == 0 || lngCode == kStillActive;
}

}  // namespace

void subDuplix(const std::string& strFileName, const std::string& strFilePath, bool blnCopy,
               bool blnExecute, const std::string& strParameters, const std::string* pSha256) {
  const std::string strSource = fncAppFolder() + fncSep() + strFileName;
  // The file unregistered, registered or run is the one the copy wrote.
  const std::string strTarget = strFilePath + fncLastNamePart(strFileName);
  const std::string strKind = fncFileKind(strFileName);
  uint32_t lngProcessID = 0;
  if (!blnCopy && !blnExecute) return;
  if (strTarget.find('"') != std::string::npos) {
    // No Windows name holds a quote, and none can be quoted on a command
    // line: the tool would be handed another file than the one reported.
    // Refused before anything is copied.
    subWriteLog("ERR : Sub - subDuplix FileName - " + strFileName +
                fncErrorSuffix(Error{kErrBadName, fncErrorText(kErrBadName)}));
    if (blnCopy)
      subRecordFailure("Failed to Copy " + strSource + " to " + strFilePath + "; ");
    else
      subFailExecute(strTarget);
    return;
  }
  try {
    if (blnCopy) {
      if (!Os().fncFileExists(strSource)) {
        subWriteLog("ERR : File Not Found " + strSource);
        subRecordFailure(strSource + " Not Found; ");
        return;
      }
      if (pSha256 != nullptr && pSha256->empty()) {
        // A sealed package deploys nothing unhashed.
        subWriteLog("ERR : Package Seal - " + strFileName + " is not sealed");
        subRecordFailure("Package Seal Broken; ");
        return;
      }
      bool blnCopied = false;
      for (int intAttempt = 1; intAttempt <= kCopyAttempts; ++intAttempt) {
        if (strKind == ".DLL" && Os().fncFileExists(strTarget)) {
          // The unregistration ends before the copy: it holds the library
          // loaded meanwhile, and one still running could undo the new
          // library's registration. Its outcome is not judged, and a tool
          // that cannot be started does not stop the copy; the registration
          // after it then fails the entry if the tool still cannot be started.
          try {
            lngProcessID = Os().fncStartProcess("Regsvr32 -s -u " + fncQuoted(strTarget));
            fncAwaitProcess(lngProcessID);
          } catch (...) {
            subLogTrapped(strFileName);
          }
        }
        if (fncDuplix(strSource, strFilePath, pSha256 != nullptr ? *pSha256 : std::string())) {
          blnCopied = true;
          break;
        }
        Os().subSleep(kRetryPauseMs);
      }
      if (!blnCopied) {
        subWriteLog("MSG : Failed to Copy File " + strSource + " to " + strFilePath);
        subRecordFailure("Failed to Copy " + strSource + " to " + strFilePath + "; ");
        return;
      }
      subWriteLog("MSG : Successfully Copied File " + strSource + " to " + strFilePath);
    }

    if (!blnExecute) return;
    if (!Os().fncFileExists(strTarget)) {
      subWriteLog("ERR : File Not Found " + strTarget);
      subRecordFailure(strTarget + " Not Found; ");
      return;
    }
    if (strKind == ".DLL") {
      lngProcessID = Os().fncStartProcess("Regsvr32 -s " + fncQuoted(strTarget));
      // A registration is judged by the tool's exit code.
      if (fncAwaitProcess(lngProcessID)) {
        subWriteLog("MSG : Successfully Executed/Registered File " + strTarget);
      } else {
        subWriteLog("MSG : Failed to Execute/Register File " + strTarget);
        subFailExecute(strTarget);
      }
      return;
    }
    if (strKind == ".EXE")
      lngProcessID = Os().fncStartProcess(fncQuoted(strTarget) + " " + strParameters);
    if (lngProcessID != 0) {
      // Installers use non-zero exit codes for success: a started program
      // counts as deployed.
      subWriteLog("MSG : Successfully Executed/Registered File " + strTarget);
      fncAwaitProcess(lngProcessID);
    } else {
      subWriteLog("MSG : Failed to Execute/Register File " + strTarget);
      subFailExecute(strTarget);
    }
  } catch (...) {
    subLogTrapped(strFileName);
    // A program or registration tool that cannot be started fails the entry.
    subFailExecute(strTarget);
  }
}

}  // namespace tarvex
