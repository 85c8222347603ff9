// Fuzzes the seal reader: a seal file is read before anything else of a
// package, whatever it holds.
#include <cstdint>
#include <string>

#include "deploy/seal.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t lngSize) {
  const std::string strInput(reinterpret_cast<const char*>(pData), lngSize);
  const tarvex::Seal objSeal = tarvex::fncParseSeal(strInput);

  // Every line is either a seal line or a bad one, each once, in order.
  long lngLast = 0;
  size_t lngBad = 0;
  for (const tarvex::SealLine& objLine : objSeal.objLines) {
    FUZZ_CHECK(objLine.lngLine > lngLast);
    lngLast = objLine.lngLine;
    FUZZ_CHECK(objLine.strDigest.size() == 64);
    FUZZ_CHECK(objLine.strDigest.find_first_not_of("0123456789abcdef") == std::string::npos);
    FUZZ_CHECK(!objLine.strName.empty());
    for (char chr : objLine.strName) FUZZ_CHECK(static_cast<unsigned char>(chr) >= 0x20);
    const std::string strWrapped = "/" + objLine.strName + "/";
    for (const char* strPart : {"/../", "/..\\", "\\../", "\\..\\"})
      FUZZ_CHECK(strWrapped.find(strPart) == std::string::npos);
    FUZZ_CHECK(objLine.strName[0] != '/' && objLine.strName[0] != '\\');
  }
  for (long lngLine : objSeal.objBadLines) {
    FUZZ_CHECK(lngLine > 0);
    ++lngBad;
  }
  FUZZ_CHECK(objSeal.objLines.size() + lngBad <= strInput.size() + 1);

  // What is written reads back as the same files.
  const tarvex::Seal objAgain = tarvex::fncParseSeal(tarvex::fncSealText(objSeal.objLines));
  FUZZ_CHECK(objAgain.objBadLines.empty());
  FUZZ_CHECK(objAgain.objLines.size() == objSeal.objLines.size());
  for (size_t i = 0; i < objAgain.objLines.size() && i < objSeal.objLines.size(); ++i) {
    FUZZ_CHECK(objAgain.objLines[i].strDigest == objSeal.objLines[i].strDigest);
    FUZZ_CHECK(tarvex::fncSealKey(objAgain.objLines[i].strName) ==
               tarvex::fncSealKey(objSeal.objLines[i].strName));
  }
  return 0;
}
