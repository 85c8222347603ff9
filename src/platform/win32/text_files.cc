// Text files: the run log; text in the code page.
#include <cstdio>

#include "platform/win32/internal.h"

namespace tarvex {
namespace win32 {

namespace {
HANDLE fncHandle(TextFile objFile) { return static_cast<HANDLE>(objFile); }

}  // namespace
TextFile fncCreateTextFile(const std::string& strPath) {
  // Windows refuses to replace a read-only file, but Wine running as root
  // does not: asked here, so both refuse it alike.
  DWORD lngAttributes = GetFileAttributesA(strPath.c_str());
  if (lngAttributes != INVALID_FILE_ATTRIBUTES && (lngAttributes & FILE_ATTRIBUTE_READONLY) &&
      !(lngAttributes & FILE_ATTRIBUTE_DIRECTORY))
    subRaiseNumber(kErrAccessDenied);
  HANDLE objFile = CreateFileA(strPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (objFile == INVALID_HANDLE_VALUE) subRaiseCode(GetLastError());
  return objFile;
}

// Each line goes straight to the file, so a run that is killed keeps every
// line it wrote.
void subWriteLine(TextFile objFile, const std::string& strText) {
  if (objFile == nullptr || fncHandle(objFile) == INVALID_HANDLE_VALUE)
    subRaiseNumber(kErrInvalidParameter);
  const std::string strLine = strText + "\r\n";
  const char* pNext = strLine.data();
  size_t lngLeft = strLine.size();
  while (lngLeft > 0) {
    DWORD lngWritten = 0;
    if (!WriteFile(fncHandle(objFile), pNext, static_cast<DWORD>(lngLeft), &lngWritten, nullptr))
      subRaiseCode(GetLastError());
    if (lngWritten == 0) subRaiseNumber(kErrIoError);
    pNext += lngWritten;
    lngLeft -= lngWritten;
  }
}

void subCloseTextFile(TextFile objFile) {
  if (objFile != nullptr && fncHandle(objFile) != INVALID_HANDLE_VALUE)
    CloseHandle(fncHandle(objFile));
}

namespace {

// Text from one code page to another, through UTF-16; what the second
// cannot hold as the system replaces it.
std::string fncConvert(const std::string& strText, UINT lngFrom, UINT lngTo) {
  if (strText.empty()) return strText;
  const int intLength = static_cast<int>(strText.size());
  const int intWide = MultiByteToWideChar(lngFrom, 0, strText.data(), intLength, nullptr, 0);
  if (intWide <= 0) return strText;
  std::wstring strWide(static_cast<size_t>(intWide), L'\0');
  MultiByteToWideChar(lngFrom, 0, strText.data(), intLength, &strWide[0], intWide);
  const int intOut =
      WideCharToMultiByte(lngTo, 0, strWide.data(), intWide, nullptr, 0, nullptr, nullptr);
  if (intOut <= 0) return strText;
  std::string strOut(static_cast<size_t>(intOut), '\0');
  WideCharToMultiByte(lngTo, 0, strWide.data(), intWide, &strOut[0], intOut, nullptr, nullptr);
  return strOut;
}

}  // namespace

// As GetPrivateProfileStringA hands out a marked file's text.
std::string fncFromUtf8(const std::string& strText) { return fncConvert(strText, CP_UTF8, CP_ACP); }

std::string fncToUtf8(const std::string& strText) { return fncConvert(strText, CP_ACP, CP_UTF8); }

}  // namespace win32
}  // namespace tarvex
