// The system's libraries that are not KnownDLLs (bcrypt, crypt32). Neither
// program imports them: an import is loaded before any code of the
// program's own runs, from the program's folder first, so a bcrypt.dll
// planted beside it would run as the agent's account. They are loaded here
// when first needed, from the system folder alone, and the process is told
// to load nothing from anywhere else.
#include "platform/win32/internal.h"

namespace tarvex {

void subBeginProcess(int, char**) {
  // Windows 8 and later, and Windows 7 with its update for it; elsewhere
  // each load below names the system folder itself.
  typedef BOOL(WINAPI * SetDirectories)(DWORD);
  SetDirectories pSet = reinterpret_cast<SetDirectories>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories")));
  if (pSet != nullptr) pSet(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

namespace win32 {

HMODULE fncSystemLibrary(const char* pName) {
  HMODULE objLibrary = LoadLibraryExA(pName, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (objLibrary == nullptr && GetLastError() == ERROR_INVALID_PARAMETER) {
    // A system that does not know the flag: the library by its full path.
    char chrFolder[MAX_PATH];
    const UINT lngLength = GetSystemDirectoryA(chrFolder, MAX_PATH);
    if (lngLength > 0 && lngLength < MAX_PATH)
      objLibrary = LoadLibraryExA((std::string(chrFolder, lngLength) + "\\" + pName).c_str(),
                                  nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  }
  return objLibrary;
}

namespace {

template <typename Entry>
bool fncFind(HMODULE objLibrary, const char* pName, Entry* pEntry) {
  *pEntry = objLibrary == nullptr
                ? nullptr
                : reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(objLibrary, pName)));
  return *pEntry != nullptr;
}

Crypto fncLoadCrypto() {
  Crypto objCrypto = {};
  HMODULE objBcrypt = fncSystemLibrary("bcrypt.dll");
  HMODULE objCrypt32 = fncSystemLibrary("crypt32.dll");
  objCrypto.blnLoaded =
      fncFind(objBcrypt, "BCryptOpenAlgorithmProvider", &objCrypto.pOpenAlgorithmProvider) &
      fncFind(objBcrypt, "BCryptCreateHash", &objCrypto.pCreateHash) &
      fncFind(objBcrypt, "BCryptHashData", &objCrypto.pHashData) &
      fncFind(objBcrypt, "BCryptFinishHash", &objCrypto.pFinishHash) &
      fncFind(objBcrypt, "BCryptDestroyHash", &objCrypto.pDestroyHash) &
      fncFind(objBcrypt, "BCryptVerifySignature", &objCrypto.pVerifySignature) &
      fncFind(objBcrypt, "BCryptDestroyKey", &objCrypto.pDestroyKey) &
      fncFind(objCrypt32, "CryptDecodeObjectEx", &objCrypto.pDecodeObject) &
      fncFind(objCrypt32, "CryptImportPublicKeyInfoEx2", &objCrypto.pImportPublicKeyInfo);
  return objCrypto;
}

}  // namespace

const Crypto& fncCrypto() {
  static const Crypto objCrypto = fncLoadCrypto();
  return objCrypto;
}

}  // namespace win32
}  // namespace tarvex
