// Shared pieces of the fuzz targets: a failed check ends the run as a crash
// libFuzzer records, and the targets that need files get a private folder.
#ifndef TARVEX_FUZZ_FUZZ_SUPPORT_H_
#define TARVEX_FUZZ_FUZZ_SUPPORT_H_

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

// Stops on the first broken invariant; the line says which one.
#define FUZZ_CHECK(cond)                                                                  \
  do {                                                                                    \
    if (!(cond)) {                                                                        \
      std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
      std::fflush(stderr);                                                                \
      __builtin_trap();                                                                   \
    }                                                                                     \
  } while (0)

namespace tarvex_fuzz {

inline std::string& ScratchFolderPath() {
  static std::string strPath;
  return strPath;
}

// Removes the scratch folder's files and the folder (at exit).
inline void RemoveScratchFolder() {
  const std::string& strDir = ScratchFolderPath();
  if (strDir.empty()) return;
  if (DIR* pDir = opendir(strDir.c_str())) {
    while (struct dirent* pEntry = readdir(pDir)) {
      std::string strName = pEntry->d_name;
      if (strName != "." && strName != "..") unlink((strDir + "/" + strName).c_str());
    }
    closedir(pDir);
  }
  rmdir(strDir.c_str());
}

// A folder of this process's own under $TMPDIR (or /tmp), made once.
inline const std::string& ScratchFolder() {
  std::string& strPath = ScratchFolderPath();
  if (strPath.empty()) {
    const char* pTmp = std::getenv("TMPDIR");
    std::string strTemplate =
        std::string(pTmp != nullptr && *pTmp ? pTmp : "/tmp") + "/tarvex-fuzz.XXXXXX";
    FUZZ_CHECK(mkdtemp(&strTemplate[0]) != nullptr);
    strPath = strTemplate;
    std::atexit(RemoveScratchFolder);
  }
  return strPath;
}

// Replaces a file's content in place (same inode when it exists).
inline void WriteWholeFile(const std::string& strPath, const std::string& strData) {
  int intFile = open(strPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  FUZZ_CHECK(intFile >= 0);
  size_t lngDone = 0;
  while (lngDone < strData.size()) {
    ssize_t lngWritten = write(intFile, strData.data() + lngDone, strData.size() - lngDone);
    FUZZ_CHECK(lngWritten > 0);
    lngDone += static_cast<size_t>(lngWritten);
  }
  close(intFile);
}

inline std::string ReadWholeFile(const std::string& strPath) {
  std::string strData;
  int intFile = open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
  FUZZ_CHECK(intFile >= 0);
  char achBuffer[65536];
  for (;;) {
    ssize_t lngRead = read(intFile, achBuffer, sizeof achBuffer);
    FUZZ_CHECK(lngRead >= 0);
    if (lngRead == 0) break;
    strData.append(achBuffer, static_cast<size_t>(lngRead));
  }
  close(intFile);
  return strData;
}

}  // namespace tarvex_fuzz

#endif  // TARVEX_FUZZ_FUZZ_SUPPORT_H_
