// Deployment: copying and deleting single files, deploying one manifest
// entry.
#ifndef TARVEX_DEPLOY_DEPLOY_H_
#define TARVEX_DEPLOY_DEPLOY_H_

#include <cstdint>
#include <string>

#include "environment/environment.h"

namespace tarvex {

const int kCopyAttempts = 3;
const uint32_t kRetryPauseMs = 10000;
const uint32_t kProcessWaitMs = 600000;
const uint32_t kProcessAccess = 0x1F0FFF;

// strSha256, where not empty, is the digest the copied bytes must have (a
// sealed package's source): other bytes are never placed.
bool fncDuplix(const std::string& strSource, const std::string& strDestination,
               const std::string& strSha256 = std::string());

// The copy engine (copy.cc). Copies with overwrite; a destination ending in
// the separator names the folder to copy into, and the copy keeps the
// source's own name. The target is replaced in one step and is on the disk
// when the copy returns; a target that already holds the source's bytes is
// left in place. A folder at the target's name, a read-only target with
// other bytes and a target that is the source by any path fail it with 5.
// Bytes other than those of the digest strSha256 (when not empty) are
// never placed, nor a target holding them left in place: 13. Raises Error.
void subCopyFile(const std::string& strSource, const std::string& strDestination,
                 const std::string& strSha256 = std::string());

bool fncDeleteFile(const std::string& strPath);

// pSha256: the digest the package's seal gives the source; null for an
// unsealed package. A sealed package's copy without one is refused.
void subDuplix(const std::string& strFileName, const std::string& strFilePath, bool blnCopy,
               bool blnExecute, const std::string& strParameters,
               const std::string* pSha256 = nullptr);

// The five keys of one manifest entry, as fncReadINI reads them, in the
// order a run reads them. A value that cannot be read fails the run (see
// fncReadINI) and reads as empty.
struct EntryValues {
  std::string strFileName;
  std::string strFilePath;
  std::string strDuplix;
  std::string strExecuteFile;
  std::string strParameters;
};
EntryValues fncReadEntry(const std::string& strSection, const Manifest& objManifest);

// The name a copy gives its target: the last part of a FileName given with
// folders ("sub\\setup.exe" gives "setup.exe"). The target, unregistered,
// registered or run, is FilePath and this name.
std::string fncLastNamePart(const std::string& strFileName);

// ASCII upper case, as manifest flags and file kinds compare.
std::string fncUpperCase(const std::string& strText);
// A manifest flag is on only for "Y", in any case.
bool fncFlag(const std::string& strValue);
// The last four characters of a file name, upper-cased: ".DLL" is
// registered, ".EXE" run; nothing else can be executed.
std::string fncFileKind(const std::string& strFileName);

}  // namespace tarvex

#endif  // TARVEX_DEPLOY_DEPLOY_H_
