// Text helpers of the platform layers, the same on both builds: ASCII case
// folding and UTF conversions.
#ifndef TARVEX_PLATFORM_TEXT_H_
#define TARVEX_PLATFORM_TEXT_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace tarvex {
namespace text {

// ASCII case folding, as profile and registry names compare.
std::string fncFold(const std::string& strText);
void subAppendUtf8(std::string& strOut, uint32_t lngCode);
// UTF-16 (without its mark) to UTF-8 and back; what cannot be converted
// becomes U+FFFD, an odd last byte is dropped.
std::string fncFromUtf16(const char* pData, size_t lngSize, bool blnBigEndian);
std::string fncToUtf16(const std::string& strText, bool blnBigEndian);

}  // namespace text
}  // namespace tarvex

#endif  // TARVEX_PLATFORM_TEXT_H_
