// Pieces of the Win32 platform layer shared between its files, and open to
// the unit tests.
#ifndef TARVEX_PLATFORM_WIN32_INTERNAL_H_
#define TARVEX_PLATFORM_WIN32_INTERNAL_H_

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace tarvex {
namespace win32 {

// ---- run_lock.cc
// The name of the run lock of an application folder: the same for every
// spelling of the folder.
std::string fncRunLockName(const std::string& strFolder);
// The security of the run lock, in the system's descriptor language (SDDL).
std::string fncRunLockSecurity();
// The platform table's run lock (see platform.h).
bool fncLockAppFolder(uint32_t lngMilliseconds);

}  // namespace win32
}  // namespace tarvex

#endif  // TARVEX_PLATFORM_WIN32_INTERNAL_H_
