// The package checker: reads a package folder as a run would and says what a
// run would do with it and what is wrong. It never writes, creates, deletes
// or starts anything, and reads nothing outside the package folder.
//
// Values come from the run's own routines (fncGetSectionNames, fncReadEntry
// over fncReadINI), so the checker and a run cannot disagree on what a key
// holds. A plain scan of the manifest's text alongside finds the line of each
// section header and key, and the keys a run never asks for.
#ifndef TARVEX_CHECK_CHECK_H_
#define TARVEX_CHECK_CHECK_H_

#include <string>
#include <utility>
#include <vector>

namespace tarvex {

// ---- scan.cc: section headers and key lines of a manifest's text.

struct ScanKey {
  std::string strName;   // trimmed, cut at a NUL
  std::string strValue;  // trimmed, quotes kept
  long lngLine;          // 1-based
};

struct ScanSection {
  std::string strName;  // trimmed, cut at a NUL; "" for a nameless one
  long lngLine;         // of the header; 0 for the lines before the first
  std::vector<ScanKey> objKeys;
};

// [0] holds the key lines before the first header. Lines end at CR, LF or
// CR LF; blank lines and ';' comments are left out. A UTF-8 mark is
// skipped; UTF-16 text is read unit by unit, anything beyond ASCII as '?'.
std::vector<ScanSection> fncScanManifest(const std::string& strBytes);

// ---- rules.cc: the plan and the findings for one package folder.

struct Finding {
  long lngLine;  // 0 when no line applies
  bool blnError;
  std::string strText;
  std::string strFile;  // the package file the line is of; "" for the manifest
  bool blnNote = false;  // information only: neither an error nor a warning
};

struct CheckReport {
  std::vector<std::string> objPlan;  // a line per entry, in run order
  std::vector<Finding> objFindings;  // by line
  int intErrors = 0;
  int intWarnings = 0;
  // FileName and its line, of each entry a run copies, in run order.
  std::vector<std::pair<std::string, long>> objCopySources;
  // What a seal of the package must list, as a run asks it.
  std::vector<std::string> objSealedFiles;
};

struct Package;

// Checks a package folder, and its seal unless blnSealing (a seal about to
// be replaced). strInstall is what targets are shown under and ends in the
// separator. Raises Error when the folder cannot be listed.
CheckReport fncCheckPackage(const std::string& strFolder, const std::string& strInstall,
                            bool blnSealing);

// ---- keys.cc: the keys of one entry's section.

// Unknown keys (naming the likely typo), repeated keys, quoted values.
void subCheckKeys(const ScanSection& objScan, std::vector<Finding>& objFindings);
// A name or value in quotes; a long one cut short.
std::string fncQuote(const std::string& strText);
// A FilePath from a root or a drive; one whose ".." parts lead above where
// it starts.
bool fncIsAbsolute(const std::string& strPath);
bool fncClimbsOut(const std::string& strPath);

// ---- seal_check.cc: the package's seal.

// Checks the seal of a package, if it has one, as a run would, and adds its
// findings to the report.
void subCheckSeal(const Package& objPackage, CheckReport& objReport);
// Orders the findings by file and line, as a reader goes through the files,
// and counts them.
void subOrderAndCount(CheckReport& objReport);

// ---- sarif.cc: the findings as a SARIF 2.1.0 log.

// strManifest and strSeal: the two files' paths as shown.
std::string fncSarifLog(const CheckReport& objReport, const std::string& strManifest,
                        const std::string& strSeal);

// A name in a folder: the separator added unless the folder ends in one.
std::string fncJoinPath(const std::string& strFolder, const std::string& strName);

// ---- report.cc: the program.

enum : int { kCheckClean = 0, kCheckErrors = 1, kCheckCannotRun = 2 };

// Runs the checker over its arguments (without the program name); fills
// what goes to standard output and standard error; returns the exit code.
int fncCheckMain(const std::string& strProgram, const std::vector<std::string>& objArgs,
                 std::string& strOut, std::string& strErr);

}  // namespace tarvex

#endif  // TARVEX_CHECK_CHECK_H_
