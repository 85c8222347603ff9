// The package checker: reads a package folder as a run would and says what a
// run would do with it and what is wrong. It never writes, creates, deletes
// or starts anything, and reads nothing outside the package folder but what
// a link there leads to, which a run would copy.
//
// Values come from the run's own routines (fncGetSectionNames, fncReadEntry
// over fncReadINI), so the checker and a run cannot disagree on what a key
// holds. A plain scan of the manifest's text alongside finds the line of each
// section header and key, and the keys a run never asks for.
#ifndef TARVEX_CHECK_CHECK_H_
#define TARVEX_CHECK_CHECK_H_

#include <cstdint>
#include <map>
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

// The scan's section for each name the profile routines list: by position,
// as the scan finds the same headers in the same order; by name should an
// encoding make the counts differ, looking a few headers ahead only (a
// name not found there gets nullptr), so that no manifest makes this
// quadratic.
std::vector<const ScanSection*> fncMatchSections(const std::vector<std::string>& objNames,
                                                 const std::vector<ScanSection>& objScan);
// The line of a key in a section, any case: the first (the one that
// counts), or lngHeader, the section's, when the key is absent.
long fncKeyLine(const ScanSection* pScan, const char* strKey, long lngHeader);

// ---- rules.cc: the plan and the findings for one package folder.

// The kinds of finding (rules.def).
enum CheckRule : int {
#define TARVEX_RULE(NAME, ID, LEVEL, DESCRIPTION) NAME,
#include "check/rules.def"
  kRuleCount
};
enum FindingLevel : int { kLevelError, kLevelWarning, kLevelNote };

struct Finding {
  CheckRule intRule;
  long lngLine;  // 0 when no line applies
  std::string strText;
  std::string strFile;  // the package file the line is of; "" for the manifest
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
// be replaced); with pKey (a P-256 public key, DER) the seal's signature as
// a run that pins that key would. strInstall is what targets are shown
// under and ends in the separator. Raises Error when the folder cannot be
// listed.
CheckReport fncCheckPackage(const std::string& strFolder, const std::string& strInstall,
                            bool blnSealing, const std::string* pKey = nullptr);

// ---- keys.cc: the keys of one entry's section.

// Unknown keys (naming the likely typo), repeated keys, quoted values.
void subCheckKeys(const ScanSection& objScan, std::vector<Finding>& objFindings);
// A name or value in quotes; a long one cut short.
std::string fncQuote(const std::string& strText);
// A FilePath from a root or a drive; one whose ".." parts lead above where
// it starts.
bool fncIsAbsolute(const std::string& strPath);
bool fncClimbsOut(const std::string& strPath);

// ---- outcome_check.cc: how a run judges an entry's program.

struct EntryValues;
struct EntryRules;

// An entry a run executes as a program (an .EXE with ExecuteFile=Y): the
// only kind whose SuccessCodes, RebootCodes and Timeout a run reads.
bool fncRunsProgram(const EntryValues& objEntry);
EntryRules fncEntryRules(const EntryValues& objEntry);
// What follows "run TARGET [with PARAMETERS]" in the plan: the time limit
// and the judgment, if any.
std::string fncJudgePlan(const EntryRules& objRules);
// The findings on the three keys, each at its line (lngHeader's without).
void subCheckOutcome(const EntryValues& objEntry, const ScanSection* pScan, long lngHeader,
                     std::vector<Finding>& objFindings);

// ---- sources.cc: a copy source as a run opens it.

// The regular files directly in a package folder, by identity (volume,
// index): read once, when the first link asks where it leads.
struct PackageFiles {
  std::string strFolder;
  bool blnRead = false;
  std::map<std::pair<uint64_t, uint64_t>, std::string> objByIdentity;
};

// The findings on a copy source the package folder holds (at lngLine):
// a link (a warning where it leads to a file of the package, an error
// where it leads out), what is not a regular file or cannot be read, a
// read-only source; and with blnProgram (an .EXE that is run) one without
// execute permission or empty.
void subCheckSource(PackageFiles& objFiles, const std::string& strName, long lngLine,
                    bool blnProgram, std::vector<Finding>& objFindings);
// True when the name itself is a link or another reparse point.
bool fncIsLink(const std::string& strPath);

// ---- seal_check.cc: the package's seal.

// Checks the seal of a package, if it has one, as a run would, and adds its
// findings to the report.
void subCheckSeal(const Package& objPackage, CheckReport& objReport);
// The seal's signature (fncReadPackage read it) checked with that key now,
// as a run that pins it would: the run's verdict as a finding at the seal's
// line it is about. Without pKey, a note that a signature is left unchecked.
void subCheckSignature(const Package& objPackage, const std::string* pKey,
                       CheckReport& objReport);
// Orders the findings by file and line, as a reader goes through the files,
// and counts them.
void subOrderAndCount(CheckReport& objReport);

// ---- sarif.cc: the findings as a SARIF 2.1.0 log.

// A kind of finding: its ID, its level (the same for every finding of the
// kind) and what it is.
struct RuleInfo {
  const char* strId;
  FindingLevel intLevel;
  const char* strDescription;
};
const RuleInfo& fncRule(CheckRule intRule);
// "error", "warning" or "note", as both outputs write a level.
const char* fncLevelName(FindingLevel intLevel);

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
