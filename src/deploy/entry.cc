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
  objEntry.strSuccessCodes = fncReadINI(strSection, "SuccessCodes", objManifest);
  objEntry.strRebootCodes = fncReadINI(strSection, "RebootCodes", objManifest);
  objEntry.strTimeout = fncReadINI(strSection, "Timeout", objManifest);
  return objEntry;
}

std::string fncLastNamePart(const std::string& strFileName) {
  const std::string strSeparators = std::string("/") + Os().chrSeparator;
  const size_t lngSlash = strFileName.find_last_of(strSeparators);
  return lngSlash == std::string::npos ? strFileName : strFileName.substr(lngSlash + 1);
}

namespace {

void subFailExecute(const std::string& strTarget) {
  subRecordFailure("Failed to Execute/Register File " + strTarget + "; ");
}

// The routine's error line, for the error being handled.
void subLogTrapped(const std::string& strFileName) {
  subWriteLog("ERR : Sub - subDuplix FileName - " + strFileName +
              fncErrorSuffix(fncTrappedError()));
}

// Refused before anything is copied, with the error that tells why.
void subRefuse(const std::string& strFileName, int32_t lngNumber) {
  subWriteLog("ERR : Sub - subDuplix FileName - " + strFileName +
              fncErrorSuffix(Error{lngNumber, fncErrorText(lngNumber)}));
}

}  // namespace

void subDuplix(const std::string& strFileName, const std::string& strFilePath, bool blnCopy,
               bool blnExecute, const std::string& strParameters,
               const EntryOptions& objOptions) {
  const std::string strSource = fncAppFolder() + fncSep() + strFileName;
  // The file unregistered, registered or run is the one the copy wrote.
  const std::string strTarget = strFilePath + fncLastNamePart(strFileName);
  const std::string strKind = fncFileKind(strFileName);
  EntryReport objIgnored;
  EntryReport& objReport = objOptions.pReport != nullptr ? *objOptions.pReport : objIgnored;
  objReport.strTarget = strTarget;
  if (blnCopy) objReport.objCopy.strResult = "skipped";
  if (blnExecute) objReport.objExecution.strResult = "not-started";
  if (!blnCopy && !blnExecute) return;
  if (strTarget.find('"') != std::string::npos) {
    // No Windows name holds a quote, and none can be quoted on a command
    // line: the tool would be handed another file than the one reported.
    subRefuse(strFileName, kErrBadName);
    if (blnCopy)
      subRecordFailure("Failed to Copy " + strSource + " to " + strFilePath + "; ");
    else
      subFailExecute(strTarget);
    return;
  }
  if (blnExecute && strKind == ".EXE" && objOptions.objRules.intFault != kRulesGood) {
    // A program whose outcome cannot be judged as asked is not run on
    // guesses: not a file of it is copied.
    subRefuse(strFileName, kErrInvalidParameter);
    subFailExecute(strTarget);
    return;
  }
  const std::string* pSha256 = objOptions.pSha256;
  try {
    if (blnCopy) {
      if (!Os().fncFileExists(strSource)) {
        subWriteLog("ERR : File Not Found " + strSource);
        subRecordFailure(strSource + " Not Found; ");
        objReport.objCopy.strResult = "failed";
        objReport.objCopy.objError = Error{kErrFileNotFound, fncErrorText(kErrFileNotFound)};
        return;
      }
      if (pSha256 != nullptr && pSha256->empty()) {
        // A sealed package deploys nothing unhashed.
        subWriteLog("ERR : Package Seal - " + strFileName + " is not sealed");
        subRecordFailure("Package Seal Broken; ");
        objReport.objCopy.strResult = "failed";
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
            fncAwaitProcess(Os().fncStartProcess(fncRegsvr32() + " -s -u " + fncQuoted(strTarget)),
                            kProcessWaitMs);
          } catch (...) {
            subLogTrapped(strFileName);
          }
        }
        if (fncDuplix(strSource, strFilePath, pSha256 != nullptr ? *pSha256 : std::string(),
                      &objReport.objCopy)) {
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
      objReport.objExecution.strResult = "failed";
      return;
    }
    subExecute(strTarget, strParameters, objOptions.objRules, objReport.objExecution);
  } catch (...) {
    subLogTrapped(strFileName);
    // A program or registration tool that cannot be started fails the entry.
    subFailExecute(strTarget);
    objReport.objExecution.strResult = "failed";
  }
}

}  // namespace tarvex
