// Signed packages: a seal signed by the publisher's key, pinned outside the
// package (the agent's PackageKeys), stating the package's name, a version
// that may only go up on a machine and an optional expiry. Whoever can
// alter a package can seal it again, but cannot sign it. The files are
// those openssl makes and checks by hand: the signature of the seal's exact
// bytes, ECDSA P-256 with SHA-256, DER, in Tarvex.SHA256.sig.
#ifndef TARVEX_DEPLOY_SIGNATURE_H_
#define TARVEX_DEPLOY_SIGNATURE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "deploy/seal.h"

namespace tarvex {

// The keys of PackageKeys: each the base64 body of a PEM "PUBLIC KEY"
// (SubjectPublicKeyInfo DER), separated by commas, blanks ignored. A value
// without a key, or with any entry that is no ECDSA P-256 public key, can
// not be read: a typo never silently drops a key.
struct PackageKeys {
  bool blnReadable = false;
  std::vector<std::string> objKeys;  // DER
};
PackageKeys fncParsePackageKeys(const std::string& strValue);
// The DER of the first "PUBLIC KEY" of a PEM text; false when there is none.
bool fncKeyFromPem(const std::string& strPem, std::string* pKey);
// Base64 (RFC 4648, padded); blanks and line ends between the characters are
// ignored, anything else fails it.
bool fncDecodeBase64(const std::string& strText, std::string* pBytes);

// What a seal may state: a name of letters, digits, '.', '_' and '-'; a
// whole number from 1 to 2^63-1; a time YYYY-MM-DDTHH:MM:SSZ (UTC), as
// seconds since 1970.
bool fncIsPackageName(const std::string& strName);
bool fncParseVersion(const std::string& strText, int64_t* pVersion);
bool fncParseExpires(const std::string& strText, int64_t* pSeconds);

// The highest version of a package that a run on this machine completed
// with SUCCESS.
struct VersionRecord {
  Error objError{0, ""};  // the record could not be read
  bool blnFound = false;
  int64_t lngVersion = 0;
};

// What a signed run finds, in the order it looks; the first fault ends it.
enum SignatureFault {
  kSignatureGood,
  kSignatureFileMissing,     // the seal or the signature is not there
  kSignatureFileUnreadable,  // ... or cannot be read
  kSignatureKeysUnreadable,  // PackageKeys
  kSignatureNotVerified,
  kSignatureStatementMissing,  // Package or Version missing or malformed
  kSignatureExpiresUnreadable,
  kSignatureExpired,
  kSignatureRecordUnreadable,
  kSignatureOlder,
};
struct SignatureVerdict {
  SignatureFault intFault = kSignatureGood;
  std::string strReason;  // as a run logs it, after "Package Signature - "
  long lngLine = 0;       // the seal's line it is about; 0 where none
  std::string strPackage;
  int64_t lngVersion = 0;
};
// The seal and its signature, read by fncReadPackage with its signature,
// against the keys, at a run's start (lngNow, UTC).
SignatureVerdict fncCheckSignature(const Package& objPackage, const PackageKeys& objKeys,
                                   int64_t lngNow);
// A good verdict's version against the record: equal runs (a redeploy).
void subHoldAgainstRecord(SignatureVerdict& objVerdict, const VersionRecord& objRecord);

}  // namespace tarvex

#endif  // TARVEX_DEPLOY_SIGNATURE_H_
