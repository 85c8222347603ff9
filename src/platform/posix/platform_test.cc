// Behaviour of the POSIX table that only the real system shows: which mode
// bits reach a target, whose temporary files stay, a copy that runs out of
// memory, and the run lock.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <thread>

#include "gtest/gtest.h"
#include "deploy/deploy.h"
#include "platform/platform.h"
#include "platform/posix/internal.h"
#include "testing/test_platform.h"

// The copy's buffers are arrays; a test can make their allocation fail.
static bool g_refuseLargeArrays = false;
void* operator new[](std::size_t lngSize) {
  void* pMemory = g_refuseLargeArrays && lngSize >= (1 << 16) ? nullptr : std::malloc(lngSize);
  if (pMemory == nullptr) throw std::bad_alloc();
  return pMemory;
}
void operator delete[](void* pMemory) noexcept { std::free(pMemory); }
void operator delete[](void* pMemory, std::size_t) noexcept { std::free(pMemory); }

namespace tarvex {
namespace {

using testing::Harness;
using testing::ReadFile;
using testing::WriteFile;

int Count(const std::string& strFolder, const std::string& strEnding) {
  int intCount = 0;
  for (const auto& objEntry : std::filesystem::directory_iterator(strFolder)) {
    const std::string strName = objEntry.path().filename().string();
    if (strName.size() >= strEnding.size() &&
        strName.compare(strName.size() - strEnding.size(), strEnding.size(), strEnding) == 0)
      ++intCount;
  }
  return intCount;
}

class PosixCopy : public ::testing::Test {
 protected:
  void SetUp() override {
    strSource = objHarness.strApp + "/tool.so";
    strFolder = objHarness.strRoot + "/Bin/";
    testing::MakeDir(strFolder);
    WriteFile(strSource, "new bytes");
  }
  Harness objHarness;
  std::string strSource, strFolder;
};

TEST_F(PosixCopy, TargetsTakeThePermissionBitsOnly) {
  ASSERT_EQ(0, chmod(strSource.c_str(), 07777));
  subCopyFile(strSource, strFolder);
  struct stat objTarget;
  ASSERT_EQ(0, stat((strFolder + "tool.so").c_str(), &objTarget));
  EXPECT_EQ(0755u, objTarget.st_mode & 07777);
}

// The temporary file's name can be foreseen: whatever lies there (here a
// link to a file the run must not touch) is never opened or followed.
TEST_F(PosixCopy, ALinkAtTheTemporaryNameIsNeverFollowed) {
  const std::string strVictim = objHarness.strRoot + "/victim";
  WriteFile(strVictim, "keep me");
  const std::string strTaken = fncNextTemporaryPath(objHarness.strRoot + "/Bin", "tool.so");
  ASSERT_EQ(0, symlink(strVictim.c_str(), strTaken.c_str()));
  subCopyFile(strSource, strFolder);
  EXPECT_EQ("keep me", ReadFile(strVictim));
  EXPECT_EQ("new bytes", ReadFile(strFolder + "tool.so"));
  unlink(strTaken.c_str());
}

// Owner and group of a replaced target stay (the tests run as root, who may
// set them; as another user only the group a run belongs to can be kept).
TEST_F(PosixCopy, AReplacedTargetKeepsItsOwnerAndTakesTheSourcesTime) {
  const std::string strTarget = strFolder + "tool.so";
  WriteFile(strTarget, "old bytes");
  if (geteuid() != 0) GTEST_SKIP() << "only root can give a file away";
  ASSERT_EQ(0, chown(strTarget.c_str(), 65534, 65534));
  struct timespec objTimes[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
  ASSERT_EQ(0, utimensat(AT_FDCWD, strSource.c_str(), objTimes, 0));
  subCopyFile(strSource, strFolder);
  struct stat objAfter;
  ASSERT_EQ(0, stat(strTarget.c_str(), &objAfter));
  EXPECT_EQ(65534u, objAfter.st_uid);
  EXPECT_EQ(65534u, objAfter.st_gid);
  EXPECT_EQ(1000000000, objAfter.st_mtim.tv_sec);
  EXPECT_EQ("new bytes", ReadFile(strTarget));
}

// The mapped comparison of a file cut short meanwhile ends with -1, not
// with the SIGBUS its missing pages raise.
TEST_F(PosixCopy, AMappedComparisonSurvivesAFileCutShort) {
  const std::string strA = strFolder + "a.bin", strB = strFolder + "b.bin";
  WriteFile(strA, std::string(1 << 20, 'x'));
  WriteFile(strB, std::string(1 << 20, 'x'));
  FileInfo objInfo;
  FileHandle objA = NativePlatform().fncOpenRead(strA, &objInfo);
  FileHandle objB = NativePlatform().fncOpenRead(strB, &objInfo);
  EXPECT_EQ(1, NativePlatform().fncCompareRange(objA, objB, 0, 1 << 20));
  ASSERT_EQ(0, truncate(strB.c_str(), 4096));
  EXPECT_EQ(-1, NativePlatform().fncCompareRange(objA, objB, 0, 1 << 20));
  NativePlatform().fncClose(objA);
  NativePlatform().fncClose(objB);
}

// Mapping and reading, and the choice between them, agree on every range:
// equal, different at its start, in a later block or at its last byte, and
// running past the end of a file cut short (-1, so that the copy engine's
// own reads decide). The ranges end off any block or page boundary.
TEST_F(PosixCopy, EachWayOfComparingRangesGivesTheSameVerdicts) {
  const size_t lngSize = (3 << 20) + 5000;
  const std::string strA = strFolder + "a.bin", strB = strFolder + "b.bin";
  std::string strBytes(lngSize, '\0');
  for (size_t i = 0; i < lngSize; ++i) strBytes[i] = static_cast<char>(i * 7919 % 251);
  WriteFile(strA, strBytes);
  using Compare = int (*)(FileHandle, FileHandle, uint64_t, size_t);
  const std::pair<const char*, Compare> kWays[] = {{"mapped", posix::fncCompareMapped},
                                                   {"read", posix::fncCompareRead},
                                                   {"chosen", posix::fncCompareRange}};
  const struct {
    size_t lngChanged;  // the byte of b that differs, or npos
    size_t lngCut;      // b's length, when it is cut short
    int intWanted;
  } kCases[] = {{std::string::npos, lngSize, 1}, {0, lngSize, 0}, {(1 << 16) + 3, lngSize, 0},
                {(2 << 20) + 1, lngSize, 0}, {lngSize - 1, lngSize, 0},
                {std::string::npos, (1 << 20) + 4096, -1}};
  for (const auto& objCase : kCases) {
    std::string strOther = strBytes.substr(0, objCase.lngCut);
    if (objCase.lngChanged != std::string::npos) strOther[objCase.lngChanged] ^= 1;
    WriteFile(strB, strOther);
    FileInfo objInfo;
    FileHandle objA = NativePlatform().fncOpenRead(strA, &objInfo);
    FileHandle objB = NativePlatform().fncOpenRead(strB, &objInfo);
    for (const auto& objWay : kWays)
      // The chosen way changes from one range to another.
      for (int intTimes = objWay.second == posix::fncCompareRange ? 20 : 1; intTimes > 0; --intTimes)
        ASSERT_EQ(objCase.intWanted, objWay.second(objA, objB, 0, lngSize))
            << objWay.first << ", byte " << objCase.lngChanged << ", b cut to " << objCase.lngCut;
    EXPECT_EQ(-1, posix::fncCompareRange(objA, objB, 100, 4096)) << "not at a page's start";
    NativePlatform().fncClose(objA);
    NativePlatform().fncClose(objB);
  }
}

TEST_F(PosixCopy, LeftoversOfEndedRunsGoThoseOfLiveRunsStay) {
  // No process has an ID beyond the kernel's limit (2^22); the parent lives.
  const std::string strEnded = strFolder + ".tool.so.99999999-1.tarvex.tmp";
  const std::string strLive =
      strFolder + ".tool.so." + std::to_string(static_cast<long>(getppid())) + "-3.tarvex.tmp";
  WriteFile(strEnded, "torn");
  WriteFile(strLive, "being filled");
  subCopyFile(strSource, strFolder);
  EXPECT_FALSE(testing::Exists(strEnded));
  EXPECT_EQ("being filled", ReadFile(strLive));
  EXPECT_EQ("new bytes", ReadFile(strFolder + "tool.so"));
}

TEST_F(PosixCopy, ACopyOutOfMemoryLeavesNoTemporaryAndNoOpenFile) {
  WriteFile(strFolder + "tool.so", "old bytes");
  const int intOpen = Count("/proc/self/fd", "");
  g_refuseLargeArrays = true;
  bool blnOutOfMemory = false;
  try {
    subCopyFile(strSource, strFolder);
  } catch (const std::bad_alloc&) {
    blnOutOfMemory = true;
  }
  g_refuseLargeArrays = false;
  EXPECT_TRUE(blnOutOfMemory);
  EXPECT_EQ(1, Count(strFolder, ""));
  EXPECT_EQ("old bytes", ReadFile(strFolder + "tool.so"));
  EXPECT_EQ(intOpen, Count("/proc/self/fd", ""));
}

// The lock is a record lock on the lock file of the application folder
// (here the test program's): another open description of that file stands
// for another run.
// What the package is read through: the name itself, a regular file.
TEST(PosixWholeFiles, LinksAndFifosAtTheNameAreRefused) {
  Harness objHarness;
  const std::string strReal = objHarness.strRoot + "/real.ini";
  WriteFile(strReal, "[a]\n");
  const std::string strLink = objHarness.strApp + "/Tarvex.INI";
  ASSERT_EQ(symlink(strReal.c_str(), strLink.c_str()), 0);
  EXPECT_EQ(kErrStoppedAtLink,
            testing::RaisedNumber([&] { fncReadWholeFile(strLink, 100, true); }));
  EXPECT_EQ("[a]\n", fncReadWholeFile(strLink, 100, false));  // a registry file may be one
  const std::string strLoop = objHarness.strApp + "/loop";
  ASSERT_EQ(symlink(strLoop.c_str(), strLoop.c_str()), 0);
  EXPECT_EQ(kErrStoppedAtLink,
            testing::RaisedNumber([&] { fncReadWholeFile(strLoop, 100, true); }));
  const std::string strFifo = objHarness.strApp + "/fifo";
  ASSERT_EQ(mkfifo(strFifo.c_str(), 0600), 0);
  EXPECT_EQ(kErrInvalidParameter,
            testing::RaisedNumber([&] { fncReadWholeFile(strFifo, 100, true); }));
}

TEST(PosixRunLock, WaitsOutAHolderAndIsTakenWhenItLetsGo) {
  const std::string strFile = posix::fncRunLockPath(NativePlatform().fncAppFolder());
  struct flock objLock = {};
  objLock.l_type = F_WRLCK;
  objLock.l_whence = SEEK_SET;
  int intOther = open(strFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(intOther, 0);
  ASSERT_EQ(fcntl(intOther, F_OFD_SETLK, &objLock), 0);
  auto objStart = std::chrono::steady_clock::now();
  EXPECT_FALSE(NativePlatform().fncLockAppFolder(100));
  EXPECT_GE(std::chrono::steady_clock::now() - objStart, std::chrono::milliseconds(90));

  std::thread objRelease([intOther] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    close(intOther);  // the other run ends
  });
  EXPECT_TRUE(NativePlatform().fncLockAppFolder(5000));
  objRelease.join();
  EXPECT_TRUE(NativePlatform().fncLockAppFolder(0));  // held already

  int intLater = open(strFile.c_str(), O_RDWR | O_CLOEXEC);
  EXPECT_NE(fcntl(intLater, F_OFD_SETLK, &objLock), 0);
  close(intLater);
  // No other user may open the file, so none can hold it.
  struct stat objStat;
  ASSERT_EQ(stat(strFile.c_str(), &objStat), 0);
  EXPECT_EQ(objStat.st_mode & 0777, 0600u);
  EXPECT_EQ(posix::fncRunLockPath(""), "/.Tarvex.lock");  // a program at the root
}

}  // namespace
}  // namespace tarvex
