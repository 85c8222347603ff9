// Times what taking the run lock adds to a run: one call of this build's
// fncLockAppFolder in a fresh process, as a run makes it once. Prints the
// nanoseconds; exits 1 when the lock was not free. The lock is the one of
// this program's own folder.
#include <chrono>
#include <cstdio>

#include "platform/platform.h"

int main() {
  // A run has read its own folder by then (on POSIX the first look into
  // /proc, which costs a run the same with or without the lock).
  tarvex::NativePlatform().fncAppFolder();
  auto objStart = std::chrono::steady_clock::now();
  bool blnHeld = tarvex::NativePlatform().fncLockAppFolder(0);
  auto objEnd = std::chrono::steady_clock::now();
  std::printf("%lld\n", static_cast<long long>(
                            std::chrono::duration_cast<std::chrono::nanoseconds>(objEnd - objStart)
                                .count()));
  return blnHeld ? 0 : 1;
}
