// The POSIX build's platform table.
#include <climits>

#include "platform/hash.h"
#include "platform/posix/internal.h"

namespace tarvex {

namespace {

Platform fncMakeNative() {
  using namespace posix;
  Platform objTable{};  // every entry not filled below is null
  objTable.chrSeparator = '/';
  objTable.fncCommandLineTail = fncCommandLineTail;
  objTable.fncAppFolder = fncAppFolder;
  objTable.fncLocalTime = fncLocalTime;
  objTable.fncShortDate = fncShortDate;
  objTable.fncLongTime = fncLongTime;
  objTable.fncTimeSeparator = fncTimeSeparator;
  objTable.subSleep = subSleep;
  objTable.fncShortPathName = fncShortPathName;
  objTable.fncSetAttributesNormal = fncSetAttributesNormal;
  objTable.fncFileExists = fncFileExists;
  objTable.subDeleteFile = subDeleteFile;
  objTable.fncCreateTextFile = fncCreateTextFile;
  objTable.subWriteLine = subWriteLine;
  objTable.subCloseTextFile = subCloseTextFile;
  objTable.fncQueryFile = fncQueryFile;
  objTable.fncOpenRead = fncOpenRead;
  objTable.fncReadAt = fncReadAt;
  objTable.fncCreateNew = fncCreateNew;
  objTable.subWrite = subWrite;
  objTable.fncCopyRange = fncCopyRange;
  objTable.fncCompareRange = fncCompareRange;
  objTable.subFlush = subFlush;
  objTable.subSetModeAndTime = subSetModeAndTime;
  objTable.fncReadSecurity = fncReadSecurity;
  objTable.subApplySecurity = subApplySecurity;
  objTable.fncClose = fncClose;
  objTable.subReplace = subReplace;
  objTable.subFlushFolder = subFlushFolder;
  objTable.fncStoredName = fncStoredName;
  objTable.fncListFiles = fncListFiles;
  objTable.fncCurrentProcessID = fncCurrentProcessID;
  objTable.fncProcessEnded = fncProcessEnded;
  objTable.lngPathLimit = 0;  // reached through the folder beyond PATH_MAX
  objTable.lngNameLimit = NAME_MAX;
  objTable.strHiddenPrefix = ".";
  // Only the permission bits reach a file Tarvex writes, less group and
  // other write: never set-user-ID, set-group-ID or sticky, and never a
  // program that every user may rewrite (a source on a vfat or SMB mount
  // has mode 0777).
  objTable.lngModeBits = 07777;
  objTable.lngKeptMode = 0755;
  objTable.fncRegOpenAgentKey = fncRegOpenAgentKey;
  objTable.fncRegQueryValue = fncRegQueryValue;
  objTable.subRegCloseKey = subRegCloseKey;
  objTable.fncGetProfileString = fncGetProfileString;
  objTable.fncGetProfileSectionNames = fncGetProfileSectionNames;
  objTable.fncWriteProfileString = fncWriteProfileString;
  objTable.fncStartProcess = fncStartProcess;
  objTable.fncOpenProcess = fncOpenProcess;
  objTable.fncWaitForProcess = fncWaitForProcess;
  objTable.fncExitCode = fncExitCode;
  objTable.subCloseProcess = subCloseProcess;
  objTable.subReapProcesses = subReapProcesses;
  objTable.fncReadFileBytes = fncReadFileBytes;
  objTable.fncFileTraits = fncFileTraits;
  objTable.fncLockAppFolder = fncLockAppFolder;
  objTable.fncHashBegin = hash::fncHashBegin;
  objTable.subHashAdd = hash::subHashAdd;
  objTable.fncHashEnd = hash::fncHashEnd;
  objTable.fncHashFile = hash::fncHashFile;
  return objTable;
}

}  // namespace

const Platform& NativePlatform() {
  static const Platform objNative = fncMakeNative();
  return objNative;
}

}  // namespace tarvex
