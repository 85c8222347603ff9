#include "platform/platform.h"

#include <cctype>

namespace tarvex {

void subRaise(int32_t lngNumber, const std::string& strDescription) {
  throw Error{lngNumber, strDescription};
}

std::string fncErrorText(int32_t lngNumber) {
  switch (lngNumber) {
    case kErrFileNotFound: return "File not found";
    case kErrPathNotFound: return "Path not found";
    case kErrAccessDenied: return "Permission denied";
    case kErrOutOfMemory: return "Out of memory";
    case kErrInvalidData: return "Invalid data";
    case kErrSharingViolation: return "File in use";
    case kErrFileExists: return "File already exists";
    case kErrInvalidParameter: return "Invalid parameter";
    case kErrDiskFull: return "Disk full";
    case kErrBadName: return "The filename, directory name, or volume label syntax is incorrect";
    case kErrBadExeFormat: return "Not a valid program";
    case kErrFileTooLarge: return "File too large";
    case kErrPathTooLong: return "Path too long";
    case kErrIsFolder: return "Path is a folder";
    case kErrStoppedAtLink: return "Path is a link";
    case kErrIoError: return "Input/output error";
    case kErrInternal: return "Internal error";
    default: return "System error " + std::to_string(lngNumber);
  }
}

std::string fncHex(const unsigned char* pBytes, size_t lngLength) {
  static const char kDigits[] = "0123456789abcdef";
  std::string strHex;
  strHex.reserve(2 * lngLength);
  for (size_t i = 0; i < lngLength; ++i) {
    strHex += kDigits[pBytes[i] >> 4];
    strHex += kDigits[pBytes[i] & 15];
  }
  return strHex;
}

namespace {
const char kTemporarySuffix[] = ".tarvex.tmp";
}  // namespace

std::string fncTemporaryEnding(uint32_t lngProcessID, uint32_t lngSerial) {
  return "." + std::to_string(lngProcessID) + "-" + std::to_string(lngSerial) + kTemporarySuffix;
}

uint32_t fncTemporaryOwner(const std::string& strName) {
  const size_t lngSuffix = sizeof kTemporarySuffix - 1;
  if (strName.size() <= lngSuffix) return 0;
  for (size_t i = 0; i < lngSuffix; ++i)  // case-blind, as Windows names compare
    if (std::tolower(static_cast<unsigned char>(strName[strName.size() - lngSuffix + i])) !=
        kTemporarySuffix[i])
      return 0;
  const std::string strStem = strName.substr(0, strName.size() - lngSuffix);
  const size_t lngDot = strStem.rfind('.');
  const size_t lngDash = strStem.rfind('-');
  if (lngDot == std::string::npos || lngDash == std::string::npos || lngDash < lngDot + 2 ||
      lngDash + 1 == strStem.size() || lngDash - lngDot > 11)
    return 0;
  uint64_t lngOwner = 0;
  for (size_t i = lngDot + 1; i < strStem.size(); ++i) {
    if (i == lngDash) continue;
    if (strStem[i] < '0' || strStem[i] > '9') return 0;
    if (i < lngDash) lngOwner = lngOwner * 10 + static_cast<unsigned>(strStem[i] - '0');
  }
  return lngOwner <= 0xFFFFFFFFu ? static_cast<uint32_t>(lngOwner) : 0;
}

uint32_t fncNameHash(const std::string& strName) {
  uint32_t lngHash = 2166136261u;
  for (unsigned char chr : strName) lngHash = (lngHash ^ chr) * 16777619u;
  return lngHash;
}

Platform& Os() {
  static Platform objCurrent = NativePlatform();
  return objCurrent;
}

}  // namespace tarvex
