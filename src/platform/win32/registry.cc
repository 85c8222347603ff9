// The agent's key: HKLM\SOFTWARE\VELMOR, 32-bit view.
#include <cstdio>

#include "platform/win32/internal.h"

namespace tarvex {
namespace win32 {

// ---- Registry

int32_t fncRegOpenAgentKey(RegKey* pKey) {
  // A 32-bit build sees the 32-bit view by itself; a 64-bit build asks for it.
  const REGSAM lngAccess = KEY_READ | (sizeof(void*) == 8 ? KEY_WOW64_32KEY : 0);
  HKEY objKey = nullptr;
  LONG lngCode = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\VELMOR", 0, lngAccess, &objKey);
  *pKey = lngCode == ERROR_SUCCESS ? static_cast<RegKey>(objKey) : nullptr;
  return static_cast<int32_t>(lngCode);
}

int32_t fncRegQueryValue(RegKey objKey, const std::string& strName, uint32_t* pType,
                         char* pData, uint32_t* pSize) {
  DWORD lngType = 0;
  DWORD lngSize = pSize != nullptr ? *pSize : 0;
  LONG lngCode = RegQueryValueExA(static_cast<HKEY>(objKey), strName.c_str(), nullptr, &lngType,
                                  reinterpret_cast<BYTE*>(pData),
                                  pSize != nullptr ? &lngSize : nullptr);
  if (pType != nullptr) *pType = lngType;
  if (pSize != nullptr) *pSize = lngSize;
  return static_cast<int32_t>(lngCode);
}

void subRegCloseKey(RegKey objKey) {
  if (objKey != nullptr) RegCloseKey(static_cast<HKEY>(objKey));
}


}  // namespace win32
}  // namespace tarvex
