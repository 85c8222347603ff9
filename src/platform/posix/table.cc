// The POSIX build's platform table, filled by name in the order of
// primitives.def: two entries cannot trade places unnoticed, and the unit
// tests fail on an entry left null.
#include <climits>

#include "platform/posix/internal.h"

namespace tarvex {

const Platform& NativePlatform() {
  using namespace posix;
  static const Platform objNative = {
      .chrSeparator = '/',
      .lngPathLimit = 0,  // reached through the folder beyond PATH_MAX
      .lngNameLimit = NAME_MAX,
      .strHiddenPrefix = ".",
      // Only the permission bits reach a file Tarvex writes, less group and
      // other write: never set-user-ID, set-group-ID or sticky, and never a
      // program that every user may rewrite (a source on a vfat or SMB
      // mount has mode 0777).
      .lngModeBits = 07777,
      .lngKeptMode = 0755,
      .intRestartExit = 6,
      .fncCommandLineTail = fncCommandLineTail,
      .fncAppFolder = fncAppFolder,
      .fncLocalTime = fncLocalTime,
      .fncUnixTime = fncUnixTime,
      .fncTickMs = fncTickMs,
      .fncShortDate = fncShortDate,
      .fncLongTime = fncLongTime,
      .fncTimeSeparator = fncTimeSeparator,
      .subSleep = subSleep,
      .fncFromUtf8 = fncFromUtf8,
      .fncToUtf8 = fncToUtf8,
      .fncShortPathName = fncShortPathName,
      .fncSetAttributesNormal = fncSetAttributesNormal,
      .fncFileExists = fncFileExists,
      .subDeleteFile = subDeleteFile,
      .fncCreateTextFile = fncCreateTextFile,
      .subWriteLine = subWriteLine,
      .subCloseTextFile = subCloseTextFile,
      .fncQueryFile = fncQueryFile,
      .fncOpenRead = fncOpenRead,
      .fncOpenNoFollow = fncOpenNoFollow,
      .fncReadAt = fncReadAt,
      .fncCreateNew = fncCreateNew,
      .subWrite = subWrite,
      .fncCopyRange = fncCopyRange,
      .fncCompareRange = fncCompareRange,
      .subFlush = subFlush,
      .subSetModeAndTime = subSetModeAndTime,
      .fncReadSecurity = fncReadSecurity,
      .subApplySecurity = subApplySecurity,
      .fncClose = fncClose,
      .subReplace = subReplace,
      .subFlushFolder = subFlushFolder,
      .fncStoredName = fncStoredName,
      .fncListFiles = fncListFiles,
      .fncCurrentProcessID = fncCurrentProcessID,
      .fncProcessEnded = fncProcessEnded,
      .fncRegOpenAgentKey = fncRegOpenAgentKey,
      .fncRegQueryValue = fncRegQueryValue,
      .subRegCloseKey = subRegCloseKey,
      .fncWriteProfileString = fncWriteProfileString,
      .fncStartProcess = fncStartProcess,
      .fncSystemProgram = fncSystemProgram,
      .fncStartGroup = fncStartGroup,
      .subEndGroup = subEndGroup,
      .fncOpenProcess = fncOpenProcess,
      .fncWaitForProcess = fncWaitForProcess,
      .fncExitCode = fncExitCode,
      .subCloseProcess = subCloseProcess,
      .subReapProcesses = subReapProcesses,
      .fncFileTraits = fncFileTraits,
      .fncLockAppFolder = fncLockAppFolder,
      .fncHashBegin = fncHashBegin,
      .subHashAdd = subHashAdd,
      .fncHashEnd = fncHashEnd,
      .fncIsP256Key = fncIsP256Key,
      .fncVerifyP256 = fncVerifyP256,
      .fncSignP256 = fncSignP256,
  };
  return objNative;
}

}  // namespace tarvex
