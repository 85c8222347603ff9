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

// Files a run reads or writes beside the program (on POSIX also its lock
// file): never something to deploy.
const char* const kRunFiles[] = {"TARVEX.EXE",    "TARVEX.INI",    "DUPLIX.LOG",
                                 "DUPLIX.INI",    "DUPLIX.JSON",   ".TARVEX.LOCK",
                                 "TARVEX.SHA256", "TARVEX.SHA256.SIG"};
// The programs themselves, which a package folder may hold as well.
const char* const kPrograms[] = {"TARVEX", "TARVEXCHECK.EXE", "TARVEX-CHECK"};

struct Listing {
  std::unordered_set<std::string> objExact;
  std::unordered_map<std::string, std::string> objByUpper;  // upper-cased -> as stored
};

struct Context {
  CheckReport objReport;
  Listing objListing;
  std::string strFolder;
  std::string strInstall;
};

void subFind(Context& objCheck, long lngLine, bool blnError, const std::string& strText) {
  objCheck.objReport.objFindings.push_back(Finding{lngLine, blnError, strText, ""});
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
    subFind(objCheck, lngLine, true,
            strWhat + " is stored as " + fncQ(strOther) + ": a run on POSIX would not find it");
}

const ScanKey* fncScanKey(const ScanSection* pScan, const char* strKey) {
  if (pScan == nullptr) return nullptr;
  const std::string strUpper = fncUpperCase(strKey);
  for (const ScanKey& objKey : pScan->objKeys)
    if (fncUpperCase(objKey.strName) == strUpper) return &objKey;
  return nullptr;
}

// The line of the key that counts, or the header's when the key is absent.
long fncKeyLine(const ScanSection* pScan, const char* strKey, long lngHeader) {
  const ScanKey* pKey = fncScanKey(pScan, strKey);
  return pKey != nullptr ? pKey->lngLine : lngHeader;
}

bool fncIsFlagValue(const std::string& strValue) {
  std::string strUpper = fncUpperCase(strValue);
  return strUpper.empty() || strUpper == "Y" || strUpper == "N";
}

// The file a FileName names in the package folder: as given, without the
// leading ".\" a run's path takes as this folder.
std::string fncPackageName(const std::string& strFileName) {
  size_t lngFrom = 0;
  while (strFileName.size() > lngFrom + 2 && strFileName[lngFrom] == '.' &&
         (strFileName[lngFrom + 1] == '\\' || strFileName[lngFrom + 1] == '/'))
    lngFrom += 2;
  return strFileName.substr(lngFrom);
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
                  (objEntry.strParameters.empty() ? "" : " with " + objEntry.strParameters);
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
    subFind(objCheck, lngPath, false,
            "FilePath " + fncQ(strFilePath) +
                " ends with '/': a run takes it as a folder, as it takes '\\', which is the "
                "Windows style");
  } else if (!strFilePath.empty() && strFilePath.back() != '\\') {
    std::string strText = "FilePath " + fncQ(strFilePath) + " does not end with '\\': a run ";
    if (blnCopy) strText += "copies the file to a file named " + fncFolderOf(objCheck, objEntry);
    if (blnCopy && blnUsed) strText += ", while it unregisters, registers or runs " + strTarget;
    if (!blnCopy) strText += "glues folder and file name together (" + strTarget + ")";
    subFind(objCheck, lngPath, true, strText);
  }
  if (fncIsAbsolute(strFilePath))
    subFind(objCheck, lngPath, false,
            "FilePath " + fncQ(strFilePath) +
                " is absolute: a run still puts it below the installation folder");
  else if (fncClimbsOut(strFilePath))
    subFind(objCheck, lngPath, false,
            "FilePath " + fncQ(strFilePath) + " climbs out of the installation folder with '..'");
}

void subCheckEntry(Context& objCheck, const ScanSection* pScan, long lngHeader,
                   const EntryValues& objEntry) {
  auto fncLine = [&](const char* strKey) { return fncKeyLine(pScan, strKey, lngHeader); };
  const std::string& strFileName = objEntry.strFileName;
  const std::string strName = fncPackageName(strFileName);
  const bool blnCopy = fncFlag(objEntry.strDuplix);
  const bool blnExecute = fncFlag(objEntry.strExecuteFile);
  const std::string strKind = fncFileKind(strFileName);

  const char* const kFlags[][2] = {{"Duplix", "asks for a copy"},
                                   {"ExecuteFile", "asks to register or run the file"}};
  const std::string* pValues[] = {&objEntry.strDuplix, &objEntry.strExecuteFile};
  for (int i = 0; i < 2; ++i)
    if (!fncIsFlagValue(*pValues[i]))
      subFind(objCheck, fncLine(kFlags[i][0]), true,
              std::string(kFlags[i][0]) + "=" + *pValues[i] +
                  " counts as N: only Y (any case) " + kFlags[i][1]);

  const long lngName = fncLine("FileName");
  bool blnNameUsable = !strName.empty();
  const std::string strUpper = fncUpperCase(strName);
  if (strName.find_first_of("\\/") != std::string::npos) {
    subFind(objCheck, lngName, true,
            "FileName " + fncQ(strFileName) +
                " holds a folder separator: a package's files lie directly in its folder");
    blnNameUsable = false;
  } else if (fncIn(std::begin(kRunFiles), std::end(kRunFiles), strUpper)) {
    subFind(objCheck, lngName, true,
            "FileName " + fncQ(strFileName) + " names one of Tarvex's own files");
  }
  if (strFileName.empty() && (blnCopy || blnExecute))
    subFind(objCheck, fncLine(blnCopy ? "Duplix" : "ExecuteFile"), true,
            std::string(blnCopy ? "Duplix" : "ExecuteFile") +
                "=Y without a FileName: a run fails this entry");
  const bool blnQuoteInName = strFileName.find('"') != std::string::npos;
  if ((blnCopy || blnExecute) && fncTargetOf(objCheck, objEntry).find('"') != std::string::npos)
    subFind(objCheck, blnQuoteInName ? lngName : fncLine("FilePath"), true,
            std::string(blnQuoteInName ? "FileName " + fncQ(strFileName)
                                       : "FilePath " + fncQ(objEntry.strFilePath)) +
                " holds '\"', which no Windows name holds and no command line can quote: a run "
                "fails this entry before copying anything (123)");

  // The run writes its status file and log itself before any entry.
  const bool blnWrittenByRun = strUpper == "DUPLIX.INI" || strUpper == "DUPLIX.LOG";
  const std::string strSource = fncJoinPath(objCheck.strFolder, strName);
  const bool blnInPackage = blnNameUsable && Os().fncFileExists(strSource);
  if (blnCopy && blnNameUsable) objCheck.objReport.objCopySources.emplace_back(strFileName, lngName);
  if (blnCopy && blnNameUsable && !blnWrittenByRun) {
    if (!blnInPackage)
      subFind(objCheck, lngName, true,
              "source " + fncQ(strName) + " is not in the package folder" +
                  fncCaseNote(objCheck.objListing, strName) + ": a run fails this entry");
    else
      subCaseOnly(objCheck, lngName, "source " + fncQ(strName), strName);
  }
  if (blnCopy && blnInPackage) {
    // A copy keeps its source's attributes (on POSIX its permission bits).
    const uint32_t lngTraits = Os().fncFileTraits(strSource);
    if (lngTraits & kTraitReadOnly)
      objCheck.objReport.objFindings.push_back(
          Finding{lngName, false,
                  "source " + fncQ(strName) +
                      " is read-only, and so is its copy: later runs leave it in place while "
                      "it holds these bytes, and cannot replace it with other bytes",
                  "", true});
    if (blnExecute && strKind == ".EXE" && (lngTraits & kTraitNotRunnable))
      subFind(objCheck, lngName, false,
              "program " + fncQ(strName) +
                  " has no execute permission, nor has its copy: a run cannot start it");
  }
  if (blnExecute && !blnCopy && blnNameUsable && !blnInPackage)
    subFind(objCheck, fncLine("ExecuteFile"), false,
            "ExecuteFile=Y without Duplix=Y on " + fncQ(strName) +
                ", which the package does not hold: a run relies on " +
                fncTargetOf(objCheck, objEntry) + " being installed already");
  if (blnCopy && !blnExecute && strKind == ".DLL")
    subFind(objCheck, fncLine("ExecuteFile"), false,
            "library " + fncQ(strName) +
                " is copied but not registered: a run unregisters the installed one first and "
                "never registers the new one (ExecuteFile=Y does)");
  if (blnExecute && !strFileName.empty() && strKind != ".DLL" && strKind != ".EXE")
    subFind(objCheck, fncLine("ExecuteFile"), true,
            "ExecuteFile=Y on " + fncQ(strFileName) +
                ", which is neither a .DLL nor an .EXE: a run fails this entry");

  subCheckFilePath(objCheck, fncLine("FilePath"), objEntry);

  if (!objEntry.strParameters.empty()) {
    if (!blnExecute)
      subFind(objCheck, fncLine("Parameters"), false,
              "Parameters on an entry that is not executed are never used");
    else if (strKind == ".DLL")
      subFind(objCheck, fncLine("Parameters"), false,
              "Parameters on a library are never used: a registration takes none");
  }
}

// The scan's section for each listed name: by position, as the scan finds
// the same headers in the same order; by name should an encoding make the
// counts differ, looking a few headers ahead only (a name not found there
// gets line 0), so that no manifest makes this quadratic.
std::vector<const ScanSection*> fncMatchSections(const std::vector<std::string>& objNames,
                                                 const std::vector<ScanSection>& objScan) {
  std::vector<const ScanSection*> objNamed;
  for (size_t i = 1; i < objScan.size(); ++i)
    if (!objScan[i].strName.empty()) objNamed.push_back(&objScan[i]);
  if (objNamed.size() == objNames.size()) return objNamed;
  std::vector<const ScanSection*> objMatched(objNames.size(), nullptr);
  size_t lngNext = 0;
  for (size_t i = 0; i < objNames.size(); ++i) {
    const std::string strUpper = fncUpperCase(objNames[i]);
    const size_t kLookAhead = 64;
    for (size_t k = lngNext; k < objNamed.size() && k < lngNext + kLookAhead; ++k) {
      if (fncUpperCase(objNamed[k]->strName) == strUpper) {
        objMatched[i] = objNamed[k];
        lngNext = k + 1;
        break;
      }
    }
  }
  return objMatched;
}

void subCheckManifest(Context& objCheck, const Manifest& objManifest,
                      const std::string& strBytes) {
  const std::vector<ScanSection> objScan = fncScanManifest(strBytes);
  for (const ScanKey& objKey : objScan[0].objKeys)
    subFind(objCheck, objKey.lngLine, false,
            "key " + fncQ(objKey.strName) + " before the first section belongs to no entry");
  for (size_t i = 1; i < objScan.size(); ++i)
    if (objScan[i].strName.empty())
      subFind(objCheck, objScan[i].lngLine, false, "a section without a name is never read");

  const std::vector<std::string> objNames = fncGetSectionNames(objManifest);
  if (objNames.empty()) {
    subFind(objCheck, 0, true,
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
      subFind(objCheck, lngHeader, true,
              "a value of [" + strSection + "] cannot be read: a run fails this entry");
    objNamedFiles.insert(fncUpperCase(fncPackageName(objEntry.strFileName)));
    auto itFirst = objFirst.emplace(fncUpperCase(strSection), pScan);
    if (!itFirst.second) {
      const ScanSection* pFirst = itFirst.first->second;
      subFind(objCheck, lngHeader, true,
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
    subFind(objCheck, 0, false, fncQ(strFile) + " is in the package folder but no entry names it");
}

}  // namespace

std::string fncJoinPath(const std::string& strFolder, const std::string& strName) {
  if (!strFolder.empty() && (strFolder.back() == Os().chrSeparator || strFolder.back() == '/'))
    return strFolder + strName;
  return strFolder + fncSep() + strName;
}

CheckReport fncCheckPackage(const std::string& strFolder, const std::string& strInstall,
                            bool blnSealing) {
  Context objCheck;
  objCheck.strInstall = strInstall;
  objCheck.strFolder = strFolder;
  for (std::string& strFile : Os().fncListFiles(strFolder)) {
    objCheck.objListing.objByUpper.emplace(fncUpperCase(strFile), strFile);
    objCheck.objListing.objExact.insert(std::move(strFile));
  }

  // The package as a run reads it: each file once, never through a link.
  std::string strBytes;
  const Package objPackage = fncReadPackage(strFolder, &strBytes);
  const Error& objError = objPackage.objManifestError;
  if (objError.lngNumber == kErrFileNotFound) {
    subFind(objCheck, 0, true,
            std::string("no ") + kManifestName + " in the package folder" +
                fncCaseNote(objCheck.objListing, kManifestName) +
                ": a run fails with \"Tarvex.ini Not Found\"");
  } else if (objError.lngNumber != 0) {
    subFind(objCheck, 0, true,
            std::string(kManifestName) + " cannot be read:" + fncErrorSuffix(objError));
  } else {
    subCaseOnly(objCheck, 0, kManifestName, kManifestName);
    subCheckManifest(objCheck, objPackage.objManifest, strBytes);
  }

  CheckReport& objReport = objCheck.objReport;
  objReport.objSealedFiles = fncSealedFiles(objPackage);
  // Sealing replaces the seal there is, whatever it holds.
  if (!blnSealing) subCheckSeal(objPackage, objReport);
  subOrderAndCount(objReport);
  return objReport;
}

}  // namespace tarvex
