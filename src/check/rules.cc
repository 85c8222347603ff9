// What a run would do with a package, and what in it is wrong.
//
// Errors are what makes a run fail, or do other than what was plainly meant;
// warnings are what a run ignores or reads otherwise than it looks.
#include <algorithm>
#include <iterator>
#include <unordered_map>
#include <unordered_set>

#include "check/check.h"
#include "control/control.h"
#include "deploy/deploy.h"
#include "environment/environment.h"

namespace tarvex {

namespace {

const char* const kKnownKeys[] = {"FileName", "FilePath", "Duplix", "ExecuteFile", "Parameters"};
// Files a run reads or writes beside the program: never something to deploy.
const char* const kRunFiles[] = {"TARVEX.EXE", "TARVEX.INI", "DUPLIX.LOG", "DUPLIX.INI",
                                 "TARVEX.SHA256"};
// The programs themselves, which a package folder may hold as well.
const char* const kPrograms[] = {"TARVEX", "TARVEXCHECK.EXE", "TARVEX-CHECK"};

// Key names and the like only ever reach an edit distance in their first
// characters: a 10 MB line costs no more than a short one.
const size_t kDistanceLength = 64;

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

// A name or value in quotes; a long one (a binary file's "key") cut short.
std::string fncQ(const std::string& strText) {
  const size_t kShown = 64;
  if (strText.size() <= kShown) return "'" + strText + "'";
  return "'" + strText.substr(0, kShown) + "...'";
}

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

// Levenshtein distance, ASCII case ignored.
size_t fncEditDistance(const std::string& strFirst, const std::string& strSecond) {
  const std::string strA = fncUpperCase(strFirst), strB = fncUpperCase(strSecond);
  std::vector<size_t> objRow(strB.size() + 1);
  for (size_t k = 0; k <= strB.size(); ++k) objRow[k] = k;
  for (size_t i = 1; i <= strA.size(); ++i) {
    size_t lngDiagonal = objRow[0];
    objRow[0] = i;
    for (size_t k = 1; k <= strB.size(); ++k) {
      size_t lngAbove = objRow[k];
      objRow[k] = std::min({objRow[k] + 1, objRow[k - 1] + 1,
                            lngDiagonal + (strA[i - 1] == strB[k - 1] ? 0 : 1)});
      lngDiagonal = lngAbove;
    }
  }
  return objRow[strB.size()];
}

// The known key an unknown one is likely a typo of: the closest, when at
// most half of it differs; otherwise nullptr.
const char* fncClosestKey(const std::string& strName) {
  const std::string strProbe = strName.substr(0, kDistanceLength);
  const char* strBest = nullptr;
  size_t lngBest = static_cast<size_t>(-1);
  for (const char* strKey : kKnownKeys) {
    size_t lngDistance = fncEditDistance(strProbe, strKey);
    if (lngDistance < lngBest && lngDistance <= std::string(strKey).size() / 2) {
      lngBest = lngDistance;
      strBest = strKey;
    }
  }
  return strBest;
}

// Unknown keys, repeated keys and quoted values of one entry's section.
void subCheckKeys(Context& objCheck, const ScanSection& objScan) {
  std::unordered_map<std::string, long> objSeen;
  for (const ScanKey& objKey : objScan.objKeys) {
    const std::string strUpper = fncUpperCase(objKey.strName);
    bool blnKnown = false;
    for (const char* strKey : kKnownKeys) blnKnown = blnKnown || strUpper == fncUpperCase(strKey);
    if (!blnKnown) {
      const char* strClosest = fncClosestKey(objKey.strName);
      subFind(objCheck, objKey.lngLine, false,
              "unknown key " + fncQ(objKey.strName) +
                  (strClosest != nullptr
                       ? " (did you mean " + fncQ(strClosest) + "?): a run never reads it"
                       : ": a run never reads it (the keys are FileName, FilePath, Duplix, "
                         "ExecuteFile, Parameters)"));
      continue;
    }
    auto itSeen = objSeen.emplace(strUpper, objKey.lngLine);
    if (!itSeen.second) {
      subFind(objCheck, objKey.lngLine, false,
              "key " + fncQ(objKey.strName) + " repeats line " +
                  std::to_string(itSeen.first->second) + ": only the first counts");
      continue;
    }
    const std::string& strValue = objKey.strValue;
    if (strValue.size() >= 2 && (strValue[0] == '"' || strValue[0] == '\'') &&
        strValue.back() == strValue[0])
      subFind(objCheck, objKey.lngLine, false,
              objKey.strName + " is in quotes, which a run removes: it reads " +
                  fncQ(strValue.substr(1, strValue.size() - 2)));
  }
}

bool fncIsFlagValue(const std::string& strValue) {
  std::string strUpper = fncUpperCase(strValue);
  return strUpper.empty() || strUpper == "Y" || strUpper == "N";
}

bool fncIsAbsolute(const std::string& strPath) {
  if (!strPath.empty() && (strPath[0] == '\\' || strPath[0] == '/')) return true;
  return strPath.size() >= 2 && strPath[1] == ':' &&
         ((strPath[0] >= 'A' && strPath[0] <= 'Z') || (strPath[0] >= 'a' && strPath[0] <= 'z'));
}

// True when a relative path's ".." parts lead above where it starts.
bool fncClimbsOut(const std::string& strPath) {
  long lngDepth = 0;
  size_t lngStart = 0;
  while (lngStart <= strPath.size()) {
    size_t lngEnd = strPath.find_first_of("\\/", lngStart);
    if (lngEnd == std::string::npos) lngEnd = strPath.size();
    std::string strPart = strPath.substr(lngStart, lngEnd - lngStart);
    if (strPart == "..") {
      if (--lngDepth < 0) return true;
    } else if (!strPart.empty() && strPart != ".") {
      ++lngDepth;
    }
    lngStart = lngEnd + 1;
  }
  return false;
}

// What a run does with one entry, as subDuplix would do it.
std::string fncPlanLine(const Context& objCheck, const std::string& strSection,
                        const EntryValues& objEntry) {
  const std::string strFileName = fncNativePath(objEntry.strFileName);
  const std::string strFolder = objCheck.strInstall + fncNativePath(objEntry.strFilePath);
  const std::string strTarget = strFolder + strFileName;
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

void subCheckEntry(Context& objCheck, const ScanSection* pScan, long lngHeader,
                   const EntryValues& objEntry) {
  auto fncLine = [&](const char* strKey) { return fncKeyLine(pScan, strKey, lngHeader); };
  const std::string& strFileName = objEntry.strFileName;
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
  bool blnNameUsable = !strFileName.empty();
  if (strFileName.find_first_of("\\/") != std::string::npos) {
    subFind(objCheck, lngName, true,
            "FileName " + fncQ(strFileName) +
                " holds a folder separator: a package's files lie directly in its folder");
    blnNameUsable = false;
  } else if (fncIn(std::begin(kRunFiles), std::end(kRunFiles), fncUpperCase(strFileName))) {
    subFind(objCheck, lngName, true,
            "FileName " + fncQ(strFileName) + " names one of Tarvex's own files");
  }
  if (strFileName.empty() && (blnCopy || blnExecute))
    subFind(objCheck, fncLine(blnCopy ? "Duplix" : "ExecuteFile"), true,
            std::string(blnCopy ? "Duplix" : "ExecuteFile") +
                "=Y without a FileName: a run fails this entry");
  if (blnCopy && blnNameUsable) {
    objCheck.objReport.objCopySources.emplace_back(strFileName, lngName);
    const std::string strSource = fncJoinPath(objCheck.strFolder, strFileName);
    if (!Os().fncFileExists(strSource))
      subFind(objCheck, lngName, true,
              "source " + fncQ(strFileName) + " is not in the package folder" +
                  fncCaseNote(objCheck.objListing, strFileName) + ": a run fails this entry");
    else
      subCaseOnly(objCheck, lngName, "source " + fncQ(strFileName), strFileName);
  }
  if (blnExecute && !strFileName.empty() && strKind != ".DLL" && strKind != ".EXE")
    subFind(objCheck, fncLine("ExecuteFile"), true,
            "ExecuteFile=Y on " + fncQ(strFileName) +
                ", which is neither a .DLL nor an .EXE: a run fails this entry");

  const std::string& strFilePath = objEntry.strFilePath;
  const long lngPath = fncLine("FilePath");
  if (!strFilePath.empty() && strFilePath.back() != '\\')
    subFind(objCheck, lngPath, true,
            "FilePath " + fncQ(strFilePath) +
                " does not end with '\\': a run glues folder and file name together (" +
                objCheck.strInstall + fncNativePath(strFilePath + strFileName) + ")");
  if (fncIsAbsolute(strFilePath))
    subFind(objCheck, lngPath, false,
            "FilePath " + fncQ(strFilePath) +
                " is absolute: a run still puts it below the installation folder");
  else if (fncClimbsOut(strFilePath))
    subFind(objCheck, lngPath, false,
            "FilePath " + fncQ(strFilePath) + " climbs out of the installation folder with '..'");

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

void subCheckManifest(Context& objCheck, const std::string& strManifest,
                      const std::string& strBytes) {
  const std::vector<ScanSection> objScan = fncScanManifest(strBytes);
  for (const ScanKey& objKey : objScan[0].objKeys)
    subFind(objCheck, objKey.lngLine, false,
            "key " + fncQ(objKey.strName) + " before the first section belongs to no entry");
  for (size_t i = 1; i < objScan.size(); ++i)
    if (objScan[i].strName.empty())
      subFind(objCheck, objScan[i].lngLine, false, "a section without a name is never read");

  const std::vector<std::string> objNames = fncGetSectionNames(strManifest);
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
    const EntryValues objEntry = fncReadEntry(strSection, strManifest);
    objCheck.objReport.objPlan.push_back(fncPlanLine(objCheck, strSection, objEntry));
    if (g_run.blnFailed)
      subFind(objCheck, lngHeader, true,
              "a value of [" + strSection + "] cannot be read: a run fails this entry");
    objNamedFiles.insert(fncUpperCase(objEntry.strFileName));
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
    if (pScan != nullptr) subCheckKeys(objCheck, *pScan);
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

CheckReport fncCheckPackage(const std::string& strFolder, const std::string& strInstall) {
  Context objCheck;
  objCheck.strInstall = strInstall;
  objCheck.strFolder = strFolder;
  for (std::string& strFile : Os().fncListFiles(strFolder)) {
    objCheck.objListing.objByUpper.emplace(fncUpperCase(strFile), strFile);
    objCheck.objListing.objExact.insert(std::move(strFile));
  }

  const std::string strManifest = fncJoinPath(strFolder, kManifestName);
  if (!Os().fncFileExists(strManifest)) {
    subFind(objCheck, 0, true,
            std::string("no ") + kManifestName + " in the package folder" +
                fncCaseNote(objCheck.objListing, kManifestName) +
                ": a run fails with \"Tarvex.ini Not Found\"");
  } else {
    subCaseOnly(objCheck, 0, kManifestName, kManifestName);
    try {
      subCheckManifest(objCheck, strManifest, Os().fncReadFileBytes(strManifest));
    } catch (...) {
      subFind(objCheck, 0, true,
              std::string(kManifestName) + " cannot be read:" + fncErrorSuffix(fncTrappedError()));
    }
  }

  CheckReport& objReport = objCheck.objReport;
  std::stable_sort(objReport.objFindings.begin(), objReport.objFindings.end(),
                   [](const Finding& a, const Finding& b) { return a.lngLine < b.lngLine; });
  for (const Finding& objFinding : objReport.objFindings)
    ++(objFinding.blnError ? objReport.intErrors : objReport.intWarnings);
  return objReport;
}

}  // namespace tarvex
