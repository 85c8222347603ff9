// Package seals: Tarvex.SHA256 in the application folder, a SHA-256 digest
// per file in the form of sha256sum, so that an administrator can check a
// package by hand as well. The run checks it before its first entry; the
// package checker writes it and checks it.
#ifndef TARVEX_DEPLOY_SEAL_H_
#define TARVEX_DEPLOY_SEAL_H_

#include <string>
#include <vector>

namespace tarvex {

const char kSealName[] = "Tarvex.SHA256";

struct SealLine {
  std::string strName;    // as the seal writes it, either separator
  std::string strDigest;  // 64 lowercase hex digits
  long lngLine;           // 1-based
};

struct Seal {
  std::vector<SealLine> objLines;
  std::vector<long> objBadLines;  // lines that are no seal line, in order
};

// Reads a seal's text: LF or CR LF line ends, hex in either case, two
// spaces or a space and '*' before the name. A name must stay inside the
// application folder (neither absolute nor climbing out with "..").
Seal fncParseSeal(const std::string& strText);

// A seal's text over the lines given, in their order: lowercase hex, two
// spaces, '/' as separator, LF.
std::string fncSealText(const std::vector<SealLine>& objLines);

// What names compare by: '/' for either separator, and case folded where
// the system's file names ignore case (Windows).
std::string fncSealKey(const std::string& strName);

// A seal name as a path in the folder, with this build's separator.
std::string fncSealPath(const std::string& strFolder, const std::string& strName);

}  // namespace tarvex

#endif  // TARVEX_DEPLOY_SEAL_H_
