// Text helpers shared by the profile reader and the POSIX registry file.
#include "platform/text.h"

namespace tarvex {
namespace text {

std::string fncFold(const std::string& strText) {
  std::string strOut(strText);
  for (char& chr : strOut)
    if (chr >= 'A' && chr <= 'Z') chr = static_cast<char>(chr + ('a' - 'A'));
  return strOut;
}

void subAppendUtf8(std::string& strOut, uint32_t lngCode) {
  if (lngCode < 0x80) {
    strOut += static_cast<char>(lngCode);
  } else if (lngCode < 0x800) {
    strOut += static_cast<char>(0xC0 | (lngCode >> 6));
    strOut += static_cast<char>(0x80 | (lngCode & 0x3F));
  } else if (lngCode < 0x10000) {
    strOut += static_cast<char>(0xE0 | (lngCode >> 12));
    strOut += static_cast<char>(0x80 | ((lngCode >> 6) & 0x3F));
    strOut += static_cast<char>(0x80 | (lngCode & 0x3F));
  } else {
    strOut += static_cast<char>(0xF0 | (lngCode >> 18));
    strOut += static_cast<char>(0x80 | ((lngCode >> 12) & 0x3F));
    strOut += static_cast<char>(0x80 | ((lngCode >> 6) & 0x3F));
    strOut += static_cast<char>(0x80 | (lngCode & 0x3F));
  }
}

// UTF-16 without its mark to UTF-8; a lone surrogate becomes U+FFFD and an
// odd last byte is dropped.
std::string fncFromUtf16(const char* pData, size_t lngSize, bool blnBigEndian) {
  std::string strOut;
  strOut.reserve(lngSize / 2);
  size_t lngUnits = lngSize / 2;
  auto fncUnit = [&](size_t i) -> uint32_t {
    unsigned char intFirst = static_cast<unsigned char>(pData[2 * i]);
    unsigned char intSecond = static_cast<unsigned char>(pData[2 * i + 1]);
    return blnBigEndian ? (intFirst << 8 | intSecond) : (intSecond << 8 | intFirst);
  };
  for (size_t i = 0; i < lngUnits; ++i) {
    uint32_t lngUnit = fncUnit(i);
    if (lngUnit >= 0xD800 && lngUnit < 0xDC00 && i + 1 < lngUnits) {
      uint32_t lngLow = fncUnit(i + 1);
      if (lngLow >= 0xDC00 && lngLow < 0xE000) {
        subAppendUtf8(strOut, 0x10000 + ((lngUnit - 0xD800) << 10) + (lngLow - 0xDC00));
        ++i;
        continue;
      }
    }
    if (lngUnit >= 0xD800 && lngUnit < 0xE000) lngUnit = 0xFFFD;
    subAppendUtf8(strOut, lngUnit);
  }
  return strOut;
}

// UTF-8 to UTF-16; a byte that starts no valid sequence becomes U+FFFD.
std::string fncToUtf16(const std::string& strText, bool blnBigEndian) {
  std::string strOut;
  auto subUnit = [&](uint32_t lngUnit) {
    char chrHigh = static_cast<char>(lngUnit >> 8), chrLow = static_cast<char>(lngUnit & 0xFF);
    strOut += blnBigEndian ? chrHigh : chrLow;
    strOut += blnBigEndian ? chrLow : chrHigh;
  };
  size_t i = 0;
  while (i < strText.size()) {
    unsigned char intLead = static_cast<unsigned char>(strText[i]);
    uint32_t lngCode = 0xFFFD;
    size_t lngLength = 1;
    size_t lngMore = intLead < 0x80         ? 0
                     : (intLead >> 5) == 6  ? 1
                     : (intLead >> 4) == 14 ? 2
                     : (intLead >> 3) == 30 ? 3
                                            : 9;
    if (lngMore == 0) {
      lngCode = intLead;
    } else if (lngMore < 9 && i + lngMore < strText.size()) {
      uint32_t lngValue = intLead & (0x3F >> lngMore);
      bool blnValid = true;
      for (size_t k = 1; blnValid && k <= lngMore; ++k) {
        unsigned char intByte = static_cast<unsigned char>(strText[i + k]);
        if ((intByte & 0xC0) != 0x80) blnValid = false;
        lngValue = lngValue << 6 | (intByte & 0x3F);
      }
      static const uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
      if (blnValid && lngValue >= kLeast[lngMore] && lngValue <= 0x10FFFF &&
          !(lngValue >= 0xD800 && lngValue < 0xE000)) {
        lngCode = lngValue;
        lngLength = lngMore + 1;
      }
    }
    if (lngCode >= 0x10000) {
      subUnit(0xD800 + ((lngCode - 0x10000) >> 10));
      subUnit(0xDC00 + ((lngCode - 0x10000) & 0x3FF));
    } else {
      subUnit(lngCode);
    }
    i += lngLength;
  }
  return strOut;
}

}  // namespace text
}  // namespace tarvex
