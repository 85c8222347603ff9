#include "deploy/signature.h"

#include "control/run_state.h"

namespace tarvex {

namespace {

bool fncIsBlank(char chr) { return chr == ' ' || chr == '\t' || chr == '\r' || chr == '\n'; }

int fncBase64Value(char chr) {
  if (chr >= 'A' && chr <= 'Z') return chr - 'A';
  if (chr >= 'a' && chr <= 'z') return chr - 'a' + 26;
  if (chr >= '0' && chr <= '9') return chr - '0' + 52;
  if (chr == '+') return 62;
  if (chr == '/') return 63;
  return -1;
}

SignatureVerdict fncFault(SignatureFault intFault, const std::string& strReason, long lngLine = 0) {
  SignatureVerdict objVerdict;
  objVerdict.intFault = intFault;
  objVerdict.strReason = strReason;
  objVerdict.lngLine = lngLine;
  return objVerdict;
}

// The seal or its signature: "is missing", or why it cannot be read.
bool fncFileFault(const char* strName, const Error& objError, SignatureVerdict* pVerdict) {
  if (objError.lngNumber == 0) return false;
  *pVerdict = objError.lngNumber == kErrFileNotFound
                  ? fncFault(kSignatureFileMissing, std::string(strName) + " is missing")
                  : fncFault(kSignatureFileUnreadable, strName + fncErrorSuffix(objError));
  return true;
}

}  // namespace

bool fncDecodeBase64(const std::string& strText, std::string* pBytes) {
  std::string strBytes;
  uint32_t lngBits = 0;
  int intHeld = 0, intPadding = 0, intCount = 0;
  for (char chr : strText) {
    if (fncIsBlank(chr)) continue;
    ++intCount;
    if (chr == '=') {
      ++intPadding;
      continue;
    }
    const int intValue = fncBase64Value(chr);
    if (intValue < 0 || intPadding > 0) return false;  // nothing after the padding
    lngBits = (lngBits << 6) | static_cast<uint32_t>(intValue);
    intHeld += 6;
    if (intHeld >= 8) {
      intHeld -= 8;
      strBytes += static_cast<char>((lngBits >> intHeld) & 0xFF);
    }
  }
  // Whole groups of four, at most two of them padding, and no bits left
  // that a padding would not explain.
  if (intCount % 4 != 0 || intPadding > 2 || (lngBits & ((1u << intHeld) - 1)) != 0) return false;
  if (intPadding != (intHeld == 4 ? 2 : intHeld == 2 ? 1 : 0)) return false;
  *pBytes = strBytes;
  return true;
}

PackageKeys fncParsePackageKeys(const std::string& strValue) {
  PackageKeys objKeys;
  size_t lngStart = 0;
  while (lngStart <= strValue.size()) {
    size_t lngComma = strValue.find(',', lngStart);
    if (lngComma == std::string::npos) lngComma = strValue.size();
    const std::string strEntry = strValue.substr(lngStart, lngComma - lngStart);
    lngStart = lngComma + 1;
    if (strEntry.find_first_not_of(" \t\r\n") == std::string::npos) continue;
    std::string strKey;
    if (!fncDecodeBase64(strEntry, &strKey) || !Os().fncIsP256Key(strKey)) return PackageKeys();
    objKeys.objKeys.push_back(strKey);
  }
  objKeys.blnReadable = !objKeys.objKeys.empty();
  return objKeys;
}

bool fncKeyFromPem(const std::string& strPem, std::string* pKey) {
  const std::string strBegin = "-----BEGIN PUBLIC KEY-----";
  const std::string strEnd = "-----END PUBLIC KEY-----";
  const size_t lngBegin = strPem.find(strBegin);
  if (lngBegin == std::string::npos) return false;
  const size_t lngBody = lngBegin + strBegin.size();
  const size_t lngEnd = strPem.find(strEnd, lngBody);
  return lngEnd != std::string::npos &&
         fncDecodeBase64(strPem.substr(lngBody, lngEnd - lngBody), pKey) && !pKey->empty();
}

bool fncIsPackageName(const std::string& strName) {
  if (strName.empty()) return false;
  for (char chr : strName)
    if (!((chr >= 'A' && chr <= 'Z') || (chr >= 'a' && chr <= 'z') || (chr >= '0' && chr <= '9') ||
          chr == '.' || chr == '_' || chr == '-'))
      return false;
  return true;
}

bool fncParseVersion(const std::string& strText, int64_t* pVersion) {
  if (strText.empty() || strText.size() > 19) return false;
  uint64_t lngValue = 0;
  for (char chr : strText) {
    if (chr < '0' || chr > '9') return false;
    lngValue = lngValue * 10 + static_cast<uint64_t>(chr - '0');
  }
  if (lngValue == 0 || lngValue > static_cast<uint64_t>(INT64_MAX)) return false;
  *pVersion = static_cast<int64_t>(lngValue);
  return true;
}

bool fncParseExpires(const std::string& strText, int64_t* pSeconds) {
  // YYYY-MM-DDTHH:MM:SSZ, nothing else.
  const char kForm[] = "dddd-dd-ddTdd:dd:ddZ";
  if (strText.size() != sizeof kForm - 1) return false;
  for (size_t i = 0; i < strText.size(); ++i)
    if (kForm[i] == 'd' ? (strText[i] < '0' || strText[i] > '9') : strText[i] != kForm[i])
      return false;
  auto fncNumber = [&](size_t lngAt, size_t lngLength) {
    return std::stoi(strText.substr(lngAt, lngLength));
  };
  const int intYear = fncNumber(0, 4), intMonth = fncNumber(5, 2), intDay = fncNumber(8, 2);
  const int intHour = fncNumber(11, 2), intMinute = fncNumber(14, 2), intSecond = fncNumber(17, 2);
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool blnLeap = (intYear % 4 == 0 && intYear % 100 != 0) || intYear % 400 == 0;
  if (intMonth < 1 || intMonth > 12 || intDay < 1 ||
      intDay > kDays[intMonth - 1] + (intMonth == 2 && blnLeap ? 1 : 0) || intHour > 23 ||
      intMinute > 59 || intSecond > 59)
    return false;
  *pSeconds = fncUtcSeconds(LocalTime{intYear, intMonth, intDay, intHour, intMinute, intSecond});
  return true;
}

SignatureVerdict fncCheckSignature(const Package& objPackage, const PackageKeys& objKeys,
                                   int64_t lngNow) {
  SignatureVerdict objVerdict;
  if (!objPackage.blnSealed)
    return fncFault(kSignatureFileMissing, std::string(kSealName) + " is missing");
  if (fncFileFault(kSealName, objPackage.objSealError, &objVerdict) ||
      fncFileFault(kSignatureName, objPackage.objSignatureError, &objVerdict))
    return objVerdict;
  if (!objKeys.blnReadable) return fncFault(kSignatureKeysUnreadable, "PackageKeys cannot be read");
  bool blnVerified = false;
  for (const std::string& strKey : objKeys.objKeys)
    blnVerified = blnVerified ||
                  Os().fncVerifyP256(strKey, objPackage.strSealBytes, objPackage.strSignature);
  if (!blnVerified) return fncFault(kSignatureNotVerified, "does not verify");

  // What the seal states is the publisher's word only now that it verifies.
  const SealHeader& objHeader = objPackage.objSeal.objHeader;
  for (const SealStatement* pStatement : {&objHeader.objPackage, &objHeader.objVersion}) {
    const bool blnGood =
        pStatement->blnGiven && !pStatement->blnRepeated &&
        (pStatement == &objHeader.objPackage
             ? fncIsPackageName(pStatement->strValue)
             : fncParseVersion(pStatement->strValue, &objVerdict.lngVersion));
    if (!blnGood)
      return fncFault(kSignatureStatementMissing, "Package or Version missing",
                      pStatement->lngLine);
  }
  objVerdict.strPackage = objHeader.objPackage.strValue;
  const SealStatement& objExpires = objHeader.objExpires;
  if (objExpires.blnGiven) {
    int64_t lngExpires = 0;
    if (objExpires.blnRepeated || !fncParseExpires(objExpires.strValue, &lngExpires))
      return fncFault(kSignatureExpiresUnreadable, "Expires cannot be read", objExpires.lngLine);
    if (lngExpires <= lngNow)
      return fncFault(kSignatureExpired, "expired at " + objExpires.strValue, objExpires.lngLine);
  }
  return objVerdict;
}

void subHoldAgainstRecord(SignatureVerdict& objVerdict, const VersionRecord& objRecord) {
  if (objVerdict.intFault != kSignatureGood) return;
  if (objRecord.objError.lngNumber != 0) {
    objVerdict.intFault = kSignatureRecordUnreadable;
    objVerdict.strReason = "TarvexState.ini" + fncErrorSuffix(objRecord.objError);
  } else if (objRecord.blnFound && objVerdict.lngVersion < objRecord.lngVersion) {
    objVerdict.intFault = kSignatureOlder;
    objVerdict.strReason = "version " + std::to_string(objVerdict.lngVersion) +
                           " is older than " + std::to_string(objRecord.lngVersion);
    objVerdict.lngLine = 0;
  }
}

}  // namespace tarvex
