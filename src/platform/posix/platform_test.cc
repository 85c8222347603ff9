// Behaviour of the POSIX table that only the real system shows: the run lock.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "gtest/gtest.h"
#include "platform/platform.h"

namespace tarvex {
namespace {

// The lock is on the running program's file: another open description of
// that file stands for another run.
TEST(PosixRunLock, WaitsOutAHolderAndIsTakenWhenItLetsGo) {
  int intOther = open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(intOther, 0);
  ASSERT_EQ(flock(intOther, LOCK_EX | LOCK_NB), 0);
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

  int intLater = open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
  EXPECT_NE(flock(intLater, LOCK_EX | LOCK_NB), 0);
  close(intLater);
}

}  // namespace
}  // namespace tarvex
