// What a run would do with a package, and what in it is wrong.
//
// Errors are what makes a run fail, or do other than what was plainly meant;
// warnings are what a run ignores or reads otherwise than it looks.
#include <algorithm>
#include <iterator>
#include <unordered_map>
#include <unordered_set>

#include "check/check.h"
#include "control/run_state.h"
#include "deploy/deploy.h"
#include "deploy/seal.h"
#include "environment/environment.h"

namespace tarvex {

namespace {

// Tarvex's own files beside the program: the program of either build and
// what a run reads or writes there (also its lock file). Never something
// to deploy.
const char* const kRunFiles[] = {"TARVEX.EXE",  "TARVEX",       "TARVEX.INI",    "DUPLIX.LOG",
                                 "DUPLIX.INI",  "DUPLIX.JSON",  ".TARVEX.LOCK",  "TARVEX.SHA256",
                                 "TARVEX.SHA256.SIG"};
// Those of them a run does not have in place while it deploys: the package
// brings them, or the run writes them at its end.
const char* const kNotHeld[] = {"DUPLIX.JSON", "TARVEX.SHA256", "TARVEX.SHA256.SIG"};
// The checker, which a package folder may hold as well.
const char* const kPrograms[] = {"TARVEXCHECK.EXE", "TARVEX-CHECK"};

struct Listing {
  std::unordered_set<std::string> objExact;
  std::unordered_map<std::string, std::string> objByUpper;  // upper-cased -> as stored
};

struct Context {
  CheckReport objReport;
  Listing objListing;
  std::string strFolder;
  std::string strInstall;
  PackageFiles objFiles;
};

void subFind(Context& objCheck, CheckRule intRule, long lngLine, const std::string& strText) {
  objCheck.objReport.objFindings.push_back(Finding{intRule, lngLine, strText, ""});
}

std::string fncQ(const std::string& strText) { return fncQuote(strText); }

bool fncIn(const char* const* pFirst, const char* const* pLast, const std::string& strUpper) {
  return std::find_if(pFirst, pLast, [&](const char* p) { return strUpper == p; }) != pLast;
}

// The name as the folder stores it when only another case of it is there;
// "" when the name itself is there or no case of it is.
std::string fncOtherCase(const Listing& objListing, const std::string& strName) {
  if (objListing.objExact.count(strName) != 0) return "";
  auto it = objListing.objByUpper.find(fncUpperCase(strName));
  return it == objListing.objByUpper.end() ? "" : it->second;
}

std::string fncCaseNote(const Listing& objListing, const std::string& strName) {
  std::string strOther = fncOtherCase(objListing, strName);
  return strOther.empty() ? "" : " (there is " + fncQ(strOther) + ": names differ in case)";
}

// A file the existence test finds, stored under another case: found on
// Windows, missing on POSIX.
void subCaseOnly(Context& objCheck, long lngLine, const std::string& strWhat,
                 const std::string& strName) {
  std::string strOther = fncOtherCase(objCheck.objListing, strName);
  if (!strOther.empty())
    subFind(objCheck, kRuleCaseOnly, lngLine,
            strWhat + " is stored as " + fncQ(strOther) + ": a run on POSIX would not find it");
}

bool fncIsFlagValue(const std::string& strValue) {
  std::string strUpper = fncUpperCase(strValue);
  return strUpper.empty() || strUpper == "Y" || strUpper == "N";
}

// The folder a run copies into, and the target it unregisters, registers
// or runs, as subDuplix forms them.
std::string fncFolderOf(const Context& objCheck, const EntryValues& objEntry) {
  return objCheck.strInstall + fncNativePath(objEntry.strFilePath);
}
std::string fncTargetOf(const Context& objCheck, const EntryValues& objEntry) {
  return fncFolderOf(objCheck, objEntry) +
         fncLastNamePart(fncNativePath(objEntry.strFileName));
}

// What a run does with one entry, as subDuplix would do it.
std::string fncPlanLine(const Context& objCheck, const std::string& strSection,
                        const EntryValues& objEntry) {
  const std::string strFileName = fncNativePath(objEntry.strFileName);
  const std::string strFolder = fncFolderOf(objCheck, objEntry);
  const std::string strTarget = fncTargetOf(objCheck, objEntry);
  const std::string strKind = fncFileKind(strFileName);
  const EntryRules objRules = fncEntryRules(objEntry);
  // A program whose judgment cannot be read is refused before its copy.
  if (fncRunsProgram(objEntry) && objRules.intFault != kRulesGood)
    return "[" + strSection + "] fail before copying anything: its " + objRules.strFaultKey +
           " cannot be used";
  std::string strSteps;
  if (fncFlag(objEntry.strDuplix)) {
    strSteps = "copy " + (strFileName.empty() ? "(no FileName)" : strFileName) + " to " +
               strFolder;
    if (strKind == ".DLL") strSteps += " (unregistering the installed library first)";
  }
  if (fncFlag(objEntry.strExecuteFile)) {
    if (!strSteps.empty()) strSteps += ", then ";
    if (strKind == ".DLL")
      strSteps += "register " + strTarget;
    else if (strKind == ".EXE")
      strSteps += "run " + strTarget +
                  (objEntry.strParameters.empty() ? "" : " with " + objEntry.strParameters) +
                  fncJudgePlan(objRules);
    else
      strSteps += "fail to execute " + strTarget;
  }
  return "[" + strSection + "] " + (strSteps.empty() ? "nothing" : strSteps);
}

// The FilePath as a run takes it: a trailing '/' is a folder as '\' is;
// without either, the copy writes a file of the folder's name, while the
// target the tool is handed is the two glued together.
void subCheckFilePath(Context& objCheck, long lngPath, const EntryValues& objEntry) {
  const std::string& strFilePath = objEntry.strFilePath;
  const bool blnCopy = fncFlag(objEntry.strDuplix);
  const bool blnUsed = fncFlag(objEntry.strExecuteFile) ||
                       (blnCopy && fncFileKind(objEntry.strFileName) == ".DLL");
  const std::string strTarget = fncTargetOf(objCheck, objEntry);
  if (!strFilePath.empty() && strFilePath.back() == '/') {
    subFind(objCheck, kRuleFilePathSlash, lngPath,
            "FilePath " + fncQ(strFilePath) +
                " ends with '/': a run takes it as a folder, as it takes '\\', which is the "
                "Windows style");
  } else if (!strFilePath.empty() && strFilePath.back() != '\\') {
    std::string strText = "FilePath " + fncQ(strFilePath) + " does not end with '\\': a run ";
    if (blnCopy) strText += "copies the file to a file named " + fncFolderOf(objCheck, objEntry);
    if (blnCopy && blnUsed) strText += ", while it unregisters, registers or runs " + strTarget;
    if (!blnCopy) strText += "glues folder and file name together (" + strTarget + ")";
    subFind(objCheck, kRuleFilePathEnd, lngPath, strText);
  }
  if (fncIsAbsolute(strFilePath))
    subFind(objCheck, kRuleAbsolutePath, lngPath,
            "FilePath " + fncQ(strFilePath) +
                " is absolute: a run still puts it below the installation folder");
  else if (fncClimbsOut(strFilePath))
    subFind(objCheck, kRuleClimbingPath, lngPath,
            "FilePath " + fncQ(strFilePath) + " climbs out of the installation folder with '..'");
}

void subCheckEntry(Context& objCheck, const ScanSection* pScan, long lngHeader,
                   const EntryValues& objEntry) {
  auto fncLine = [&](const char* strKey) { return fncKeyLine(pScan, strKey, lngHeader); };
  const std::string& strFileName = objEntry.strFileName;
  // The file it names in the package folder: without the leading ".\" that
  // a run's path takes as this folder, as the seal names it.
  const std::string strName = fncSealName(strFileName);
  const bool blnCopy = fncFlag(objEntry.strDuplix);
  const bool blnExecute = fncFlag(objEntry.strExecuteFile);
  const std::string strKind = fncFileKind(strFileName);

  const char* const kFlags[][2] = {{"Duplix", "asks for a copy"},
                                   {"ExecuteFile", "asks to register or run the file"}};
  const std::string* pValues[] = {&objEntry.strDuplix, &objEntry.strExecuteFile};
  for (int i = 0; i < 2; ++i)
    if (!fncIsFlagValue(*pValues[i]))
      subFind(objCheck, kRuleFlagValue, fncLine(kFlags[i][0]),
              std::string(kFlags[i][0]) + "=" + *pValues[i] +
                  " counts as N: only Y (any case) " + kFlags[i][1]);

  const long lngName = fncLine("FileName");
  bool blnNameUsable = !strName.empty();
  const std::string strUpper = fncUpperCase(strName);
  if (strName.find_first_of("\\/") != std::string::npos) {
    subFind(objCheck, kRuleSeparatorInName, lngName,
            "FileName " + fncQ(strFileName) +
                " holds a folder separator: a package's files lie directly in its folder");
    blnNameUsable = false;
  } else if (fncIn(std::begin(kRunFiles), std::end(kRunFiles), strUpper)) {
    subFind(objCheck, kRuleOwnFile, lngName,
            "FileName " + fncQ(strFileName) + " names one of Tarvex's own files");
  }
  if (strFileName.empty() && (blnCopy || blnExecute))
    subFind(objCheck, kRuleMissingFileName, fncLine(blnCopy ? "Duplix" : "ExecuteFile"),
            std::string(blnCopy ? "Duplix" : "ExecuteFile") +
                "=Y without a FileName: a run fails this entry");
  const bool blnQuoteInName = strFileName.find('"') != std::string::npos;
  if ((blnCopy || blnExecute) && fncTargetOf(objCheck, objEntry).find('"') != std::string::npos)
    subFind(objCheck, kRuleQuoteInName, blnQuoteInName ? lngName : fncLine("FilePath"),
            std::string(blnQuoteInName ? "FileName " + fncQ(strFileName)
                                       : "FilePath " + fncQ(objEntry.strFilePath)) +
                " holds '\"', which no Windows name holds and no command line can quote: a run "
                "fails this entry before copying anything (123)");

  // A run has most of its own files in place when it deploys: a copy of one
  // is never short of its source, and what lies at that name now is not
  // what the run will copy.
  const bool blnHeldByRun = fncIn(std::begin(kRunFiles), std::end(kRunFiles), strUpper) &&
                            !fncIn(std::begin(kNotHeld), std::end(kNotHeld), strUpper);
  const std::string strSource = fncJoinPath(objCheck.strFolder, strName);
  const bool blnInPackage = blnNameUsable && Os().fncFileExists(strSource);
  if (blnCopy && blnNameUsable) objCheck.objReport.objCopySources.emplace_back(strFileName, lngName);
  if (blnCopy && blnNameUsable && !blnHeldByRun) {
    if (blnInPackage) {
      subCaseOnly(objCheck, lngName, "source " + fncQ(strName), strName);
      subCheckSource(objCheck.objFiles, strName, lngName, blnExecute && strKind == ".EXE",
                     objCheck.objReport.objFindings);
    } else if (fncIsLink(strSource)) {
      subFind(objCheck, kRuleMissingSource, lngName,
              "source " + fncQ(strName) +
                  " is a link that leads to no file: a run fails this entry");
    } else {
      subFind(objCheck, kRuleMissingSource, lngName,
              "source " + fncQ(strName) + " is not in the package folder" +
                  fncCaseNote(objCheck.objListing, strName) + ": a run fails this entry");
    }
  }
  // Whether the package holds the file or not, a run executes the one
  // installed already.
  if (blnExecute && !blnCopy && blnNameUsable && (strKind == ".DLL" || strKind == ".EXE"))
    subFind(objCheck, kRuleExecuteOnly, fncLine("ExecuteFile"),
            "ExecuteFile=Y without Duplix=Y on " + fncQ(strName) +
                (blnInPackage ? ", which the package holds but a run does not copy"
                              : ", which the package does not hold") +
                ": a run relies on " + fncTargetOf(objCheck, objEntry) +
                " being installed already");
  if (blnCopy && !blnExecute && strKind == ".DLL")
    subFind(objCheck, kRuleUnregisteredLibrary, fncLine("ExecuteFile"),
            "library " + fncQ(strName) +
                " is copied but not registered: a run unregisters the installed one first and "
                "never registers the new one (ExecuteFile=Y does)");
  if (blnExecute && !strFileName.empty() && strKind != ".DLL" && strKind != ".EXE")
    subFind(objCheck, kRuleNotExecutable, fncLine("ExecuteFile"),
            "ExecuteFile=Y on " + fncQ(strFileName) +
                ", which is neither a .DLL nor an .EXE: a run fails this entry");

  subCheckFilePath(objCheck, fncLine("FilePath"), objEntry);

  if (!objEntry.strParameters.empty()) {
    if (!blnExecute)
      subFind(objCheck, kRuleUnusedParameters, fncLine("Parameters"),
              "Parameters on an entry that is not executed are never used");
    else if (strKind == ".DLL")
      subFind(objCheck, kRuleUnusedParameters, fncLine("Parameters"),
              "Parameters on a library are never used: a registration takes none");
  }
  subCheckOutcome(objEntry, pScan, lngHeader, objCheck.objReport.objFindings);
}

void subCheckManifest(Context& objCheck, const Manifest& objManifest,
                      const std::string& strBytes) {
  const std::vector<ScanSection> objScan = fncScanManifest(strBytes);
  for (const ScanKey& objKey : objScan[0].objKeys)
    subFind(objCheck, kRuleKeyOutsideSection, objKey.lngLine,
            "key " + fncQ(objKey.strName) + " before the first section belongs to no entry");
  for (size_t i = 1; i < objScan.size(); ++i)
    if (objScan[i].strName.empty())
      subFind(objCheck, kRuleNamelessSection, objScan[i].lngLine,
              "a section without a name is never read");

  const std::vector<std::string> objNames = fncGetSectionNames(objManifest);
  if (objNames.empty()) {
    subFind(objCheck, kRuleNoSections, 0,
            "no sections: a run deploys nothing and fails with \"File Info Not Found in "
            "Tarvex.ini\"");
    return;
  }
  const std::vector<const ScanSection*> objMatched = fncMatchSections(objNames, objScan);
  std::unordered_map<std::string, const ScanSection*> objFirst;
  std::unordered_set<std::string> objNamedFiles;
  for (size_t i = 0; i < objNames.size(); ++i) {
    const std::string& strSection = objNames[i];
    if (strSection.empty()) continue;  // as a run skips it
    const ScanSection* pScan = objMatched[i];
    const long lngHeader = pScan != nullptr ? pScan->lngLine : 0;
    g_run.blnFailed = false;
    g_run.strFailureDesc.clear();
    const EntryValues objEntry = fncReadEntry(strSection, objManifest);
    objCheck.objReport.objPlan.push_back(fncPlanLine(objCheck, strSection, objEntry));
    if (g_run.blnFailed)
      subFind(objCheck, kRuleUnreadableValue, lngHeader,
              "a value of [" + strSection + "] cannot be read: a run fails this entry");
    objNamedFiles.insert(fncUpperCase(fncSealName(objEntry.strFileName)));
    auto itFirst = objFirst.emplace(fncUpperCase(strSection), pScan);
    if (!itFirst.second) {
      const ScanSection* pFirst = itFirst.first->second;
      subFind(objCheck, kRuleRepeatedSection, lngHeader,
              "section [" + strSection + "] repeats [" +
                  (pFirst != nullptr ? pFirst->strName : strSection) + "] of line " +
                  std::to_string(pFirst != nullptr ? pFirst->lngLine : 0) +
                  " (names ignore case): a run reads only the first, so it deploys that entry "
                  "again and never reads this one");
      continue;
    }
    if (pScan != nullptr) subCheckKeys(*pScan, objCheck.objReport.objFindings);
    subCheckEntry(objCheck, pScan, lngHeader, objEntry);
  }

  std::vector<std::string> objUnnamed;
  for (const std::string& strFile : objCheck.objListing.objExact) {
    const std::string strUpper = fncUpperCase(strFile);
    if (objNamedFiles.count(strUpper) == 0 &&
        !fncIn(std::begin(kRunFiles), std::end(kRunFiles), strUpper) &&
        !fncIn(std::begin(kPrograms), std::end(kPrograms), strUpper))
      objUnnamed.push_back(strFile);
  }
  std::sort(objUnnamed.begin(), objUnnamed.end());
  for (const std::string& strFile : objUnnamed)
    subFind(objCheck, kRuleUnnamedFile, 0,
            fncQ(strFile) + " is in the package folder but no entry names it");
}

}  // namespace

std::string fncJoinPath(const std::string& strFolder, const std::string& strName) {
  if (!strFolder.empty() && (strFolder.back() == Os().chrSeparator || strFolder.back() == '/'))
    return strFolder + strName;
  return strFolder + fncSep() + strName;
}

CheckReport fncCheckPackage(const std::string& strFolder, const std::string& strInstall,
                            bool blnSealing, const std::string* pKey) {
  Context objCheck;
  objCheck.strInstall = strInstall;
  objCheck.strFolder = strFolder;
  objCheck.objFiles.strFolder = strFolder;
  for (std::string& strFile : Os().fncListFiles(strFolder)) {
    objCheck.objListing.objByUpper.emplace(fncUpperCase(strFile), strFile);
    objCheck.objListing.objExact.insert(std::move(strFile));
  }

  // The package as a run reads it: each file once, never through a link.
  std::string strBytes;
  const Package objPackage = fncReadPackage(strFolder, &strBytes, pKey != nullptr);
  const Error& objError = objPackage.objManifestError;
  if (objError.lngNumber == kErrFileNotFound) {
    subFind(objCheck, kRuleMissingManifest, 0,
            std::string("no ") + kManifestName + " in the package folder" +
                fncCaseNote(objCheck.objListing, kManifestName) +
                ": a run fails with \"Tarvex.ini Not Found\"");
  } else if (objError.lngNumber != 0) {
    subFind(objCheck, kRuleUnreadableManifest, 0,
            std::string(kManifestName) + " cannot be read:" + fncErrorSuffix(objError));
  } else {
    subCaseOnly(objCheck, 0, kManifestName, kManifestName);
    subCheckManifest(objCheck, objPackage.objManifest, strBytes);
  }

  CheckReport& objReport = objCheck.objReport;
  objReport.objSealedFiles = fncSealedFiles(objPackage);
  // Sealing replaces the seal there is, whatever it holds.
  if (!blnSealing) {
    subCheckSeal(objPackage, objReport);
    subCheckSignature(objPackage, pKey, objReport);
  }
  subOrderAndCount(objReport);
  return objReport;
}

}  // namespace tarvex
