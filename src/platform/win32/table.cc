// The Windows build's platform table, over the ANSI Win32 API, filled by
// name in the order of primitives.def: two entries cannot trade places
// unnoticed, and the unit tests fail on an entry left null.
#include "platform/win32/internal.h"

namespace tarvex {

const Platform& NativePlatform() {
  static const Platform objNative = {
      .chrSeparator = '\\',
      .lngPathLimit = MAX_PATH,  // no ANSI call reaches a longer path
      .lngNameLimit = 255,  // a name in a folder (NTFS)
      .strHiddenPrefix = "",
      .lngModeBits = win32::kKeptAttributes,
      .lngKeptMode = win32::kKeptAttributes,
      .intRestartExit = 3010,
      .fncCommandLineTail = static_cast<std::string (*)()>(win32::fncCommandLineTail),
      .fncAppFolder = win32::fncAppFolder,
      .fncLocalTime = win32::fncLocalTime,
      .fncUnixTime = win32::fncUnixTime,
      .fncTickMs = win32::fncTickMs,
      .fncShortDate = win32::fncShortDate,
      .fncLongTime = win32::fncLongTime,
      .fncTimeSeparator = win32::fncTimeSeparator,
      .subSleep = win32::subSleep,
      .fncFromUtf8 = win32::fncFromUtf8,
      .fncToUtf8 = win32::fncToUtf8,
      .fncShortPathName = win32::fncShortPathName,
      .fncSetAttributesNormal = win32::fncSetAttributesNormal,
      .fncFileExists = win32::fncFileExists,
      .subDeleteFile = win32::subDeleteFile,
      .fncCreateTextFile = win32::fncCreateTextFile,
      .subWriteLine = win32::subWriteLine,
      .subCloseTextFile = win32::subCloseTextFile,
      .fncQueryFile = win32::fncQueryFile,
      .fncOpenRead = win32::fncOpenRead,
      .fncOpenNoFollow = win32::fncOpenNoFollow,
      .fncReadAt = win32::fncReadAt,
      .fncCreateNew = win32::fncCreateNew,
      .subWrite = win32::subWrite,
      .fncCopyRange = nullptr,  // no kernel copy: the engine streams
      .fncCompareRange = nullptr,  // a mapped view's read error would end the run
      .subFlush = win32::subFlush,
      .subSetModeAndTime = win32::subSetModeAndTime,
      .fncReadSecurity = win32::fncReadSecurity,
      .subApplySecurity = win32::subApplySecurity,
      .fncClose = win32::fncClose,
      .subReplace = win32::subReplace,
      .subFlushFolder = win32::subFlushFolder,
      .fncStoredName = win32::fncStoredName,
      .fncListFiles = win32::fncListFiles,
      .fncCurrentProcessID = win32::fncCurrentProcessID,
      .fncProcessEnded = win32::fncProcessEnded,
      .fncRegOpenAgentKey = win32::fncRegOpenAgentKey,
      .fncRegQueryValue = win32::fncRegQueryValue,
      .subRegCloseKey = win32::subRegCloseKey,
      .fncWriteProfileString = win32::fncWriteProfileString,
      .fncStartProcess = win32::fncStartProcess,
      .fncSystemProgram = win32::fncSystemProgram,
      .fncStartGroup = win32::fncStartGroup,
      .subEndGroup = win32::subEndGroup,
      .fncOpenProcess = win32::fncOpenProcess,
      .fncWaitForProcess = win32::fncWaitForProcess,
      .fncExitCode = win32::fncExitCode,
      .subCloseProcess = win32::subCloseProcess,
      .subReapProcesses = win32::subReapProcesses,
      .fncFileTraits = win32::fncFileTraits,
      .fncLockAppFolder = win32::fncLockAppFolder,
      .fncHashBegin = win32::fncHashBegin,
      .subHashAdd = win32::subHashAdd,
      .fncHashEnd = win32::fncHashEnd,
      .fncIsP256Key = win32::fncIsP256Key,
      .fncVerifyP256 = win32::fncVerifyP256,
      .fncSignP256 = nullptr,  // packages are signed on POSIX
  };
  return objNative;
}

}  // namespace tarvex
