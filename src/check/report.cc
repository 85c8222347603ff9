// The checker's command line and its output: the plan, the findings in the
// form compilers use, and a summary.
#include "check/check.h"
#include "control/run_state.h"
#include "deploy/seal.h"

namespace tarvex {

namespace {

std::string fncUsage(const std::string& strProgram) {
  return "Usage: " + strProgram + " [--install PATH] [--format text|sarif] [FOLDER]\n"
         "       " + strProgram + " --seal [FOLDER]\n"
         "Checks a Tarvex package: FOLDER (default: the current folder) holds " +
         kManifestName + " and the files it names.\n"
         "Prints what a run would do (a line per entry, in run order), then each finding as\n"
         "MANIFEST:LINE: error|warning|note: TEXT, then a count of errors and warnings.\n"
         "A sealed package (" + kSealName + ") is checked as a run checks it.\n"
         "Reads only the package folder; writes, deletes and starts nothing (but --seal).\n"
         "\n"
         "  --install PATH  show targets under PATH instead of <install>" + fncSep() + "\n"
         "  --format sarif  print the findings as a SARIF 2.1.0 log instead\n"
         "  --seal          seal a package without errors: write " + kSealName + " over\n"
         "                  " + kManifestName + " and every copy source\n"
         "  -h, --help      show this help\n"
         "\n"
         "Exit status: 0 no errors (warnings allowed), 1 errors found, 2 the check could not "
         "run.\n";
}

std::string fncCount(int intCount, const char* strWhat) {
  return std::to_string(intCount) + " " + strWhat + (intCount == 1 ? "" : "s");
}

}  // namespace

int fncCheckMain(const std::string& strProgram, const std::vector<std::string>& objArgs,
                 std::string& strOut, std::string& strErr) {
  std::string strFolder, strInstall = "<install>";
  bool blnFolder = false, blnOptions = true, blnSeal = false, blnSarif = false;
  for (size_t i = 0; i < objArgs.size(); ++i) {
    const std::string& strArg = objArgs[i];
    if (blnOptions && (strArg == "-h" || strArg == "--help")) {
      strOut = fncUsage(strProgram);
      return kCheckClean;
    }
    std::string strError;
    if (blnOptions && strArg == "--") {
      blnOptions = false;
    } else if (blnOptions && strArg == "--install") {
      if (i + 1 < objArgs.size() && !objArgs[i + 1].empty())
        strInstall = objArgs[++i];
      else
        strError = "--install needs a PATH";
    } else if (blnOptions && strArg.compare(0, 10, "--install=") == 0 && strArg.size() > 10) {
      strInstall = strArg.substr(10);
    } else if (blnOptions && strArg == "--seal") {
      blnSeal = true;
    } else if (blnOptions && (strArg == "--format" || strArg.compare(0, 9, "--format=") == 0)) {
      std::string strFormat;
      if (strArg.size() > 9)
        strFormat = strArg.substr(9);
      else if (strArg.size() == 8 && i + 1 < objArgs.size())
        strFormat = objArgs[++i];
      if (strFormat == "sarif" || strFormat == "text")
        blnSarif = strFormat == "sarif";
      else
        strError = "--format needs text or sarif";
    } else if (blnOptions && strArg.size() > 1 && strArg[0] == '-') {
      strError = "unknown option " + strArg;
    } else if (blnFolder || strArg.empty()) {
      strError = strArg.empty() ? "empty FOLDER" : "more than one FOLDER: " + strArg;
    } else {
      strFolder = strArg;
      blnFolder = true;
    }
    if (!strError.empty()) {
      strErr = strProgram + ": " + strError + "\n" + fncUsage(strProgram);
      return kCheckCannotRun;
    }
  }

  if (blnSeal && blnSarif) {
    strErr = strProgram + ": --seal prints what it sealed, not SARIF\n" + fncUsage(strProgram);
    return kCheckCannotRun;
  }

  // The profile routines look for a bare file name in the system's folder on
  // Windows: the manifest is always named with its folder.
  const std::string strRead = blnFolder ? strFolder : ".";
  const std::string strShown = blnFolder ? fncJoinPath(strFolder, kManifestName) : kManifestName;
  if (strInstall.back() != Os().chrSeparator && strInstall.back() != '/') strInstall += fncSep();
  CheckReport objReport;
  try {
    objReport = fncCheckPackage(strRead, strInstall, blnSeal);
  } catch (...) {
    strErr = strProgram + ": " + strRead + ": the check could not run:" +
             fncErrorSuffix(fncTrappedError()) + "\n";
    return kCheckCannotRun;
  }

  const std::string strSealShown = blnFolder ? fncJoinPath(strFolder, kSealName) : kSealName;
  if (blnSarif) {
    strOut = fncSarifLog(objReport, strShown, strSealShown);
    return objReport.intErrors != 0 ? kCheckErrors : kCheckClean;
  }
  for (const std::string& strLine : objReport.objPlan) strOut += strLine + "\n";
  for (const Finding& objFinding : objReport.objFindings)
    strOut += (objFinding.strFile.empty() ? strShown : strSealShown) + ":" +
              std::to_string(objFinding.lngLine) +
              (objFinding.blnError ? ": error: "
                                   : objFinding.blnNote ? ": note: " : ": warning: ") +
              objFinding.strText + "\n";
  strOut += fncCount(objReport.intErrors, "error") + ", " +
            fncCount(objReport.intWarnings, "warning") + "\n";
  if (blnSeal) {
    if (objReport.intErrors != 0) {
      strOut += "not sealed: a package with errors is never sealed\n";
      return kCheckErrors;
    }
    try {
      for (const std::string& strLine : fncWriteSeal(strRead, objReport.objSealedFiles))
        strOut += "sealed " + strLine;
    } catch (...) {
      strErr = strProgram + ": " + strSealShown + ": the seal could not be written:" +
               fncErrorSuffix(fncTrappedError()) + "\n";
      return kCheckCannotRun;
    }
    strOut += "wrote " + strSealShown + "\n";
  }
  return objReport.intErrors != 0 ? kCheckErrors : kCheckClean;
}

}  // namespace tarvex
