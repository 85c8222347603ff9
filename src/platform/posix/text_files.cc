// Whole text files: the run log, and a file's whole content replaced in one
// step (the profile writer).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/internal.h"

namespace tarvex {
namespace posix {

namespace {
struct LogFile {
  int intFile;
};
}  // namespace

// The file is opened without following a link and emptied only once it is
// known to be a plain file of its own that may be written: a link at its
// name would make the run overwrite another file, and a read-only file is
// refused as on Windows, also for root, whom the system would let write. A
// new log takes the mode the umask gives, as any new file does: an account
// that shares the folder may need to replace it.
TextFile fncCreateTextFile(const std::string& strPath) {
  int intFile =
      open(strPath.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
  if (intFile < 0) {
    if (errno == ELOOP) subRaise(kErrAccessDenied, fncErrorText(kErrAccessDenied));
    subRaiseErrno(errno);
  }
  struct stat objStat;
  int intErrno = 0;
  if (fstat(intFile, &objStat) != 0)
    intErrno = errno;
  else if (!S_ISREG(objStat.st_mode) || objStat.st_nlink > 1 || (objStat.st_mode & S_IWUSR) == 0)
    intErrno = EACCES;
  else if (ftruncate(intFile, 0) != 0)
    intErrno = errno;
  if (intErrno != 0) {
    close(intFile);
    subRaiseErrno(intErrno);
  }
  try {
    return new LogFile{intFile};
  } catch (...) {
    close(intFile);
    throw;
  }
}

// Each line goes to the file at once: a run that is killed keeps its lines.
void subWriteLine(TextFile objFile, const std::string& strText) {
  LogFile* objLog = static_cast<LogFile*>(objFile);
  if (objLog == nullptr) subRaise(kErrInvalidParameter, fncErrorText(kErrInvalidParameter));
  std::string strLine = strText + "\r\n";
  if (!fncWriteAll(objLog->intFile, strLine.data(), strLine.size())) subRaiseErrno(errno);
}

void subCloseTextFile(TextFile objFile) {
  LogFile* objLog = static_cast<LogFile*>(objFile);
  if (objLog == nullptr) return;
  close(objLog->intFile);
  delete objLog;
}

// This build's code page is UTF-8.
std::string fncFromUtf8(const std::string& strText) { return strText; }
std::string fncToUtf8(const std::string& strText) { return strText; }

// The profile API's own rewrite: this build's calls, not the table's,
// as WritePrivateProfileStringA is one call on Windows.
void subReplaceFileContent(const std::string& strPath, const std::string& strContent) {
  const size_t lngSlash = strPath.rfind('/');
  const std::string strFolder =
      lngSlash == std::string::npos ? "." : lngSlash == 0 ? "/" : strPath.substr(0, lngSlash);
  const std::string strName = lngSlash == std::string::npos ? strPath : strPath.substr(lngSlash + 1);
  // The file keeps its mode; a new one takes the umask's, as any new file.
  FileInfo objOld;
  const bool blnOld = fncQueryFile(strPath, &objOld) == 0;
  std::string strTemporary;
  FileHandle objFile = fncCreateTemporary(strFolder, strName, &strTemporary, true);
  try {
    subWrite(objFile, strContent.data(), strContent.size());
    if (blnOld) subSetModeAndTime(objFile, objOld.lngMode & 0777, 0);
    FileHandle objClosing = objFile;
    objFile = kNoFile;
    if (!fncClose(objClosing)) subRaise(kErrIoError, fncErrorText(kErrIoError));
    // Rewrites in the application folder are not flushed: only what is
    // handed over must survive a loss of power.
    subReplace(strTemporary, strPath);
  } catch (...) {
    if (objFile != kNoFile) fncClose(objFile);
    subDiscardTemporary(strTemporary);
    throw;
  }
}

}  // namespace posix
}  // namespace tarvex
