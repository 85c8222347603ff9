// The package beside the program, read once, and its seal: Tarvex.SHA256 in
// the application folder, a SHA-256 digest per file in the form of
// sha256sum, so that an administrator can check a package by hand as well.
// A run and the package checker read, check and write it here alike.
#ifndef TARVEX_DEPLOY_SEAL_H_
#define TARVEX_DEPLOY_SEAL_H_

#include <map>
#include <string>
#include <vector>

#include "environment/environment.h"

namespace tarvex {

// The largest seal a run reads.
const uint64_t kSealCap = 16u << 20;

struct SealLine {
  std::string strName;    // as the seal writes it, either separator
  std::string strDigest;  // 64 lowercase hex digits
  long lngLine;           // 1-based
};

// What a seal states of its package, in comment lines ("# Package: NAME",
// "# Version: N", "# Expires: YYYY-MM-DDTHH:MM:SSZ"), which sha256sum -c
// skips and a signature covers. A statement made twice states nothing
// clearly, and counts as malformed.
struct SealStatement {
  bool blnGiven = false;
  bool blnRepeated = false;
  std::string strValue;  // blanks around it dropped
  long lngLine = 0;
};
struct SealHeader {
  SealStatement objPackage, objVersion, objExpires;
};

struct Seal {
  std::vector<SealLine> objLines;
  std::vector<long> objBadLines;  // lines that are no seal line, in order
  SealHeader objHeader;
};

// Reads a seal's text: LF or CR LF line ends, hex in either case, two
// spaces or a space and '*' before the name. A name must stay inside the
// application folder (neither absolute nor climbing out with ".."). Lines
// starting with '#' are comments: the statements above are read from them,
// others are skipped.
Seal fncParseSeal(const std::string& strText);

// A seal's text over the lines given, in their order: lowercase hex, two
// spaces, '/' as separator, LF; the statements given first.
std::string fncSealText(const std::vector<SealLine>& objLines,
                        const SealHeader& objHeader = SealHeader());

// The name a seal gives a manifest's FileName: without the leading ".\"
// that a run's path takes as this folder.
std::string fncSealName(const std::string& strFileName);

// What names compare by: '/' for either separator, no leading "./", and
// case folded where the system's file names ignore case (Windows).
std::string fncSealKey(const std::string& strName);

// A seal name as a path in the folder, with this build's separator.
std::string fncSealPath(const std::string& strFolder, const std::string& strName);

// ---- The package, read once: the manifest and, when there is one, the
// seal (and where asked its signature), each through one handle, never
// through a link, within its cap.
const char kSignatureName[] = "Tarvex.SHA256.sig";
const uint64_t kSignatureCap = 64u << 10;

struct Package {
  std::string strFolder;
  // The manifest: 0, or why it could not be read (2: it is missing or a
  // folder, which a run reports as not found).
  Error objManifestError{0, ""};
  Manifest objManifest;
  // The seal: only "no such file" leaves a package unsealed; a seal that is
  // anything else, or cannot be read, seals it shut.
  bool blnSealed = false;
  Error objSealError{0, ""};
  std::string strSealBytes;  // what a signature signs
  Seal objSeal;
  std::map<std::string, std::string> objDigests;  // by fncSealKey
  // The signature, where asked for: 0, or why it could not be read (2: it
  // is not there).
  Error objSignatureError{kErrFileNotFound, ""};
  std::string strSignature;
};
// pManifestBytes receives the manifest's bytes where the caller wants them;
// blnSignature reads the seal's signature too.
Package fncReadPackage(const std::string& strFolder, std::string* pManifestBytes = nullptr,
                       bool blnSignature = false);

// The files a seal must list: the manifest and each copy source, in the
// manifest's order, each once.
std::vector<std::string> fncSealedFiles(const Package& objPackage);

// The digest the seal gives a manifest's FileName; empty when none.
std::string fncSealedDigest(const Package& objPackage, const std::string& strFileName);

// What is wrong with a sealed package, in the seal's order: its bad lines,
// then its files by line; then each required file it does not list.
enum SealFault {
  kSealUnreadable,      // the seal itself (objError)
  kSealBadLine,         // a line that is no seal line
  kSealFileMissing,     // a file it lists is not there
  kSealMismatch,        // a file it lists has other bytes
  kSealFileUnreadable,  // a file it lists cannot be read (objError)
  kSealNotListed,       // a file that must be sealed is not
};
struct SealProblem {
  SealFault intFault;
  long lngLine;  // of the seal; 0 where none applies
  std::string strName;
  Error objError;
};
// Hashes every file the seal lists (the manifest as it was read); empty
// for an unsealed package and for a sound seal.
std::vector<SealProblem> fncCheckSeal(const Package& objPackage,
                                      const std::vector<std::string>& objRequired);

// Writes a seal over the named files of the folder, with the statements
// given, in one step (subReplaceWholeFile); returns its digest lines. With
// pPrivatePem (a P-256 key, where the table can sign) its signature too,
// Tarvex.SHA256.sig, made before either file is written and written after
// the seal. Raises Error.
std::vector<std::string> fncWriteSeal(const std::string& strFolder,
                                      const std::vector<std::string>& objNames,
                                      const SealHeader& objHeader = SealHeader(),
                                      const std::string* pPrivatePem = nullptr);

}  // namespace tarvex

#endif  // TARVEX_DEPLOY_SEAL_H_
