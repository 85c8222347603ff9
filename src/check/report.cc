// The checker's command line and its output: the plan, the findings in the
// form compilers use, and a summary.
#include <map>

#include "check/check.h"
#include "control/run_state.h"
#include "deploy/seal.h"
#include "deploy/signature.h"

namespace tarvex {

namespace {

std::string fncUsage(const std::string& strProgram) {
  return "Usage: " + strProgram +
         " [--install PATH] [--format text|sarif] [--key PUB.pem] [FOLDER]\n"
         "       " + strProgram + " --seal [--package NAME --version N [--expires DATE]\n"
         "                  [--sign KEY.pem]] [FOLDER]\n"
         "Checks a Tarvex package: FOLDER (default: the current folder) holds " +
         kManifestName + " and the files it names.\n"
         "Prints what a run would do (a line per entry, in run order), then each finding as\n"
         "MANIFEST:LINE: error|warning|note: TEXT, then a count of errors and warnings.\n"
         "A sealed package (" + kSealName + ") is checked as a run checks it.\n"
         "Reads only the package folder; writes, deletes and starts nothing (but --seal).\n"
         "\n"
         "  --install PATH  show targets under PATH instead of <install>" + fncSep() + "\n"
         "  --format sarif  print the findings as a SARIF 2.1.0 log instead\n"
         "  --key PUB.pem   check the seal's signature (" + kSignatureName + ") as a run\n"
         "                  whose PackageKeys pins this P-256 public key would, now; a run\n"
         "                  also refuses a version older than its machine has deployed,\n"
         "                  which only that machine knows\n"
         "  --seal          seal a package without errors: write " + kSealName + " over\n"
         "                  " + kManifestName + " and every copy source\n"
         "  --package NAME  with --seal, state the package's name (letters, digits, . _ -)\n"
         "  --version N     ... and its version, 1 to 9223372036854775807\n"
         "  --expires DATE  ... and when it expires, YYYY-MM-DDTHH:MM:SSZ (UTC)\n"
         "  --sign KEY.pem  ... and sign the seal with this P-256 private key (PEM), writing\n"
         "                  " + kSignatureName + " (POSIX; elsewhere sign with openssl)\n"
         "  -h, --help      show this help\n"
         "\n"
         "Exit status: 0 no errors (warnings allowed), 1 errors found, 2 the check could not "
         "run.\n";
}

std::string fncCount(int intCount, const char* strWhat) {
  return std::to_string(intCount) + " " + strWhat + (intCount == 1 ? "" : "s");
}

// The options that take a value, as "--name VALUE" or "--name=VALUE", and
// what the value must be.
const char* const kValueOptions[][2] = {
    {"--install", "a PATH"},       {"--format", "text or sarif"}, {"--key", "a PUB.pem file"},
    {"--package", "a NAME"},       {"--version", "a number N"},   {"--expires", "a DATE"},
    {"--sign", "a KEY.pem file"}};

struct Options {
  std::string strFolder;
  bool blnFolder = false, blnSeal = false;
  std::map<std::string, std::string> objValues;  // by option, as given last
  bool fncHas(const char* strOption) const { return objValues.count(strOption) != 0; }
  const std::string& fncValue(const char* strOption) const { return objValues.at(strOption); }
};

// Reads the arguments; "" or what is wrong with them.
std::string fncParse(const std::vector<std::string>& objArgs, Options& objOptions) {
  bool blnOptions = true;
  for (size_t i = 0; i < objArgs.size(); ++i) {
    const std::string& strArg = objArgs[i];
    if (blnOptions && strArg == "--") {
      blnOptions = false;
    } else if (blnOptions && strArg == "--seal") {
      objOptions.blnSeal = true;
    } else if (blnOptions && strArg.size() > 1 && strArg[0] == '-') {
      const std::string strName = strArg.substr(0, strArg.find('='));
      const char* const* pOption = nullptr;
      for (const auto& objOption : kValueOptions)
        if (strName == objOption[0]) pOption = objOption;
      if (pOption == nullptr) return "unknown option " + strArg;
      std::string strValue;
      if (strName.size() < strArg.size())
        strValue = strArg.substr(strName.size() + 1);
      else if (i + 1 < objArgs.size())
        strValue = objArgs[++i];
      if (strValue.empty()) return strName + " needs " + pOption[1];
      objOptions.objValues[strName] = strValue;
    } else if (objOptions.blnFolder || strArg.empty()) {
      return strArg.empty() ? "empty FOLDER" : "more than one FOLDER: " + strArg;
    } else {
      objOptions.strFolder = strArg;
      objOptions.blnFolder = true;
    }
  }
  return "";
}

// What is wrong with the options taken together; "" when nothing is. The
// statements are held to the rules a run holds them to.
std::string fncMisuse(const Options& objOptions, int64_t lngNow) {
  const bool blnStated = objOptions.fncHas("--package") || objOptions.fncHas("--version") ||
                         objOptions.fncHas("--expires");
  if (objOptions.fncHas("--format") && objOptions.fncValue("--format") != "text" &&
      objOptions.fncValue("--format") != "sarif")
    return "--format needs text or sarif";
  const bool blnSarif = objOptions.fncHas("--format") && objOptions.fncValue("--format") == "sarif";
  if (objOptions.blnSeal && blnSarif) return "--seal prints what it sealed, not SARIF";
  if (objOptions.fncHas("--sign") && Os().fncSignP256 == nullptr)
    return "--sign is not available here: sign on POSIX, or with openssl (see README)";
  if (!objOptions.blnSeal && (blnStated || objOptions.fncHas("--sign")))
    return "--package, --version, --expires and --sign go with --seal";
  if (objOptions.blnSeal && objOptions.fncHas("--key"))
    return "--key checks a signed package, --seal writes one: one at a time";
  if (blnStated && !(objOptions.fncHas("--package") && objOptions.fncHas("--version")))
    return "--package and --version go together: a signed run needs both";
  if (objOptions.fncHas("--sign") && !blnStated)
    return "--sign needs --package and --version: a signed run refuses a seal without them";
  int64_t lngValue = 0;
  if (objOptions.fncHas("--package") && !fncIsPackageName(objOptions.fncValue("--package")))
    return "--package " + objOptions.fncValue("--package") +
           ": a name of letters, digits, '.', '_' and '-' only";
  if (objOptions.fncHas("--version") &&
      !fncParseVersion(objOptions.fncValue("--version"), &lngValue))
    return "--version " + objOptions.fncValue("--version") +
           ": a whole number from 1 to 9223372036854775807";
  if (objOptions.fncHas("--expires")) {
    const std::string& strExpires = objOptions.fncValue("--expires");
    if (!fncParseExpires(strExpires, &lngValue))
      return "--expires " + strExpires + ": a time YYYY-MM-DDTHH:MM:SSZ, in UTC";
    if (lngValue <= lngNow) return "--expires " + strExpires + " has passed: a run would refuse it";
  }
  return "";
}

// A key file's text; "" with the reason in strError when it cannot be read.
std::string fncReadKeyFile(const std::string& strPath, std::string& strError) {
  try {
    return fncReadWholeFile(strPath, kSignatureCap, false);
  } catch (...) {
    strError = strPath + " cannot be read:" + fncErrorSuffix(fncTrappedError());
    return "";
  }
}

// The statements the options make; none without --package.
SealHeader fncHeader(const Options& objOptions) {
  SealHeader objHeader;
  const std::pair<const char*, SealStatement*> kStatements[] = {
      {"--package", &objHeader.objPackage},
      {"--version", &objHeader.objVersion},
      {"--expires", &objHeader.objExpires}};
  for (const auto& objStatement : kStatements)
    if (objOptions.fncHas(objStatement.first))
      *objStatement.second = SealStatement{true, false, objOptions.fncValue(objStatement.first), 0};
  return objHeader;
}

}  // namespace

int fncCheckMain(const std::string& strProgram, const std::vector<std::string>& objArgs,
                 std::string& strOut, std::string& strErr) {
  for (const std::string& strArg : objArgs) {
    if (strArg == "--") break;
    if (strArg == "-h" || strArg == "--help") {
      strOut = fncUsage(strProgram);
      return kCheckClean;
    }
  }
  Options objOptions;
  std::string strError = fncParse(objArgs, objOptions);
  if (strError.empty()) strError = fncMisuse(objOptions, Os().fncUnixTime());
  if (!strError.empty()) {
    strErr = strProgram + ": " + strError + "\n" + fncUsage(strProgram);
    return kCheckCannotRun;
  }

  // The keys, before anything is checked: a key that cannot serve stops it.
  std::string strPrivatePem, strPublicKey;
  if (objOptions.fncHas("--sign")) {
    const std::string& strPath = objOptions.fncValue("--sign");
    strPrivatePem = fncReadKeyFile(strPath, strError);
    if (strError.empty()) {
      try {
        Os().fncSignP256(strPrivatePem, "");
      } catch (...) {
        strError = strPath + " holds no P-256 private key (an unencrypted PEM, as openssl "
                             "ecparam -genkey writes it)";
      }
    }
  }
  if (objOptions.fncHas("--key")) {
    const std::string& strPath = objOptions.fncValue("--key");
    const std::string strPem = fncReadKeyFile(strPath, strError);
    if (strError.empty() &&
        !(fncKeyFromPem(strPem, &strPublicKey) && Os().fncIsP256Key(strPublicKey)))
      strError = strPath + " holds no P-256 public key (a PEM PUBLIC KEY, as openssl pkey "
                           "-pubout writes it)";
  }
  if (!strError.empty()) {
    strErr = strProgram + ": " + strError + "\n";
    return kCheckCannotRun;
  }

  // The profile routines look for a bare file name in the system's folder on
  // Windows: the manifest is always named with its folder.
  const bool blnFolder = objOptions.blnFolder;
  const std::string& strFolder = objOptions.strFolder;
  const std::string strRead = blnFolder ? strFolder : ".";
  const std::string strShown = blnFolder ? fncJoinPath(strFolder, kManifestName) : kManifestName;
  std::string strInstall = objOptions.fncHas("--install") ? objOptions.fncValue("--install")
                                                          : "<install>";
  if (strInstall.back() != Os().chrSeparator && strInstall.back() != '/') strInstall += fncSep();
  CheckReport objReport;
  try {
    objReport = fncCheckPackage(strRead, strInstall, objOptions.blnSeal,
                                objOptions.fncHas("--key") ? &strPublicKey : nullptr);
  } catch (...) {
    strErr = strProgram + ": " + strRead + ": the check could not run:" +
             fncErrorSuffix(fncTrappedError()) + "\n";
    return kCheckCannotRun;
  }

  const std::string strSealShown = blnFolder ? fncJoinPath(strFolder, kSealName) : kSealName;
  if (objOptions.fncHas("--format") && objOptions.fncValue("--format") == "sarif") {
    strOut = fncSarifLog(objReport, strShown, strSealShown);
    return objReport.intErrors != 0 ? kCheckErrors : kCheckClean;
  }
  for (const std::string& strLine : objReport.objPlan) strOut += strLine + "\n";
  for (const Finding& objFinding : objReport.objFindings)
    strOut += (objFinding.strFile.empty() ? strShown : strSealShown) + ":" +
              std::to_string(objFinding.lngLine) +
              ": " + fncLevelName(fncRule(objFinding.intRule).intLevel) + ": " +
              objFinding.strText + "\n";
  strOut += fncCount(objReport.intErrors, "error") + ", " +
            fncCount(objReport.intWarnings, "warning") + "\n";
  if (objOptions.blnSeal) {
    if (objReport.intErrors != 0) {
      strOut += "not sealed: a package with errors is never sealed\n";
      return kCheckErrors;
    }
    const bool blnSign = objOptions.fncHas("--sign");
    const SealHeader objHeader = fncHeader(objOptions);
    try {
      for (const std::string& strLine : fncWriteSeal(strRead, objReport.objSealedFiles, objHeader,
                                                     blnSign ? &strPrivatePem : nullptr))
        strOut += "sealed " + strLine;
    } catch (...) {
      strErr = strProgram + ": " + strSealShown + ": the seal could not be written:" +
               fncErrorSuffix(fncTrappedError()) + "\n";
      return kCheckCannotRun;
    }
    std::string strStated;
    if (objHeader.objPackage.blnGiven)
      strStated = " (Package " + objHeader.objPackage.strValue + ", Version " +
                  objHeader.objVersion.strValue +
                  (objHeader.objExpires.blnGiven ? ", Expires " + objHeader.objExpires.strValue
                                                 : std::string()) + ")";
    strOut += "wrote " + strSealShown + strStated + "\n";
    const std::string strSignatureShown =
        blnFolder ? fncJoinPath(strFolder, kSignatureName) : kSignatureName;
    if (blnSign)
      strOut += "wrote " + strSignatureShown + " (signed with " + objOptions.fncValue("--sign") +
                ")\n";
    else if (Os().fncFileExists(fncJoinPath(strRead, kSignatureName)))
      // Never removed: but what it signed is gone.
      strOut += "left " + strSignatureShown + " as it was: it signs the seal replaced, so a run "
                "that pins keys refuses the package until it is signed again\n";
  }
  return objReport.intErrors != 0 ? kCheckErrors : kCheckClean;
}

}  // namespace tarvex
