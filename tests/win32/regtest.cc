// A self-registering library for the registration tests: registering it
// sets HKLM\SOFTWARE\TarvexTest "Registered" = "1", unregistering removes
// that value (and the key, once it holds nothing else). With the variable
// TARVEX_REGTEST_FAIL set, registering fails; TARVEX_REGTEST_UNREGISTER_MS
// makes unregistering wait that long before it removes the value, as a
// tool that holds the library loaded would.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdlib>

namespace {

const char kKey[] = "SOFTWARE\\TarvexTest";
const char kValue[] = "Registered";

}  // namespace

extern "C" HRESULT __stdcall DllRegisterServer() {
  // Lets a test see how a failing registration is reported.
  char chrFail[8];
  if (GetEnvironmentVariableA("TARVEX_REGTEST_FAIL", chrFail, sizeof chrFail) > 0) return E_FAIL;
  HKEY objKey = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &objKey,
                      nullptr) != ERROR_SUCCESS)
    return E_ACCESSDENIED;
  static const char kOne[] = "1";
  LONG lngCode = RegSetValueExA(objKey, kValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(kOne),
                                sizeof kOne);
  RegCloseKey(objKey);
  return lngCode == ERROR_SUCCESS ? S_OK : E_FAIL;
}

extern "C" HRESULT __stdcall DllUnregisterServer() {
  char chrWait[16];
  DWORD lngWait = GetEnvironmentVariableA("TARVEX_REGTEST_UNREGISTER_MS", chrWait, sizeof chrWait);
  if (lngWait > 0 && lngWait < sizeof chrWait) Sleep(strtoul(chrWait, nullptr, 10));
  HKEY objKey = nullptr;
  LONG lngCode = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_SET_VALUE | KEY_QUERY_VALUE,
                               &objKey);
  if (lngCode == ERROR_FILE_NOT_FOUND) return S_OK;  // nothing registered
  if (lngCode != ERROR_SUCCESS) return E_ACCESSDENIED;
  lngCode = RegDeleteValueA(objKey, kValue);
  DWORD lngSubKeys = 0, lngValues = 0;
  bool blnEmpty = RegQueryInfoKeyA(objKey, nullptr, nullptr, nullptr, &lngSubKeys, nullptr,
                                   nullptr, &lngValues, nullptr, nullptr, nullptr,
                                   nullptr) == ERROR_SUCCESS &&
                  lngSubKeys == 0 && lngValues == 0;
  RegCloseKey(objKey);
  if (blnEmpty) RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKey);
  return lngCode == ERROR_SUCCESS || lngCode == ERROR_FILE_NOT_FOUND ? S_OK : E_FAIL;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
