// The Windows build's platform table, over the ANSI Win32 API.
#include "platform/hash.h"
#include "platform/win32/internal.h"

namespace tarvex {

const Platform& NativePlatform() {
  // Filled by name, in the order of the declaration: two entries cannot
  // trade places unnoticed.
  static const Platform objNative = {
      .chrSeparator = '\\',
      .fncCommandLineTail = static_cast<std::string (*)()>(win32::fncCommandLineTail),
      .fncAppFolder = win32::fncAppFolder,
      .fncLocalTime = win32::fncLocalTime,
      .fncShortDate = win32::fncShortDate,
      .fncLongTime = win32::fncLongTime,
      .fncTimeSeparator = win32::fncTimeSeparator,
      .subSleep = win32::subSleep,
      .fncShortPathName = win32::fncShortPathName,
      .fncSetAttributesNormal = win32::fncSetAttributesNormal,
      .fncFileExists = win32::fncFileExists,
      .subDeleteFile = win32::subDeleteFile,
      .fncCreateTextFile = win32::fncCreateTextFile,
      .subWriteLine = win32::subWriteLine,
      .subCloseTextFile = win32::subCloseTextFile,
      .fncQueryFile = win32::fncQueryFile,
      .fncOpenRead = win32::fncOpenRead,
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
      .lngPathLimit = MAX_PATH,  // no ANSI call reaches a longer path
      .lngNameLimit = 255,  // a name in a folder (NTFS)
      .strHiddenPrefix = "",
      .lngModeBits = win32::kKeptAttributes,
      .lngKeptMode = win32::kKeptAttributes,
      .fncRegOpenAgentKey = win32::fncRegOpenAgentKey,
      .fncRegQueryValue = win32::fncRegQueryValue,
      .subRegCloseKey = win32::subRegCloseKey,
      .fncGetProfileString = win32::fncGetProfileString,
      .fncGetProfileSectionNames = win32::fncGetProfileSectionNames,
      .fncWriteProfileString = win32::fncWriteProfileString,
      .fncStartProcess = win32::fncStartProcess,
      .fncOpenProcess = win32::fncOpenProcess,
      .fncWaitForProcess = win32::fncWaitForProcess,
      .fncExitCode = win32::fncExitCode,
      .subCloseProcess = win32::subCloseProcess,
      .subReapProcesses = win32::subReapProcesses,
      .fncReadFileBytes = win32::fncReadFileBytes,
      .fncFileTraits = win32::fncFileTraits,
      .fncLockAppFolder = win32::fncLockAppFolder,
      .fncHashBegin = hash::fncHashBegin,
      .subHashAdd = hash::subHashAdd,
      .fncHashEnd = hash::fncHashEnd,
      .fncHashFile = hash::fncHashFile,
  };
  return objNative;
}

}  // namespace tarvex
