// Times the two ways the POSIX build compares an unchanged target with its
// source, over two files of the same bytes in the page cache, 4 MiB at a
// time as the copy engine asks: both mapped, and both read into two blocks
// that stay in the L2 cache. The ways alternate, ROUNDS times each; prints
// "mapped NS" and "read NS", the median of each, in nanoseconds.
//   compare_probe A B ROUNDS
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/posix/internal.h"

namespace {

using Compare = int (*)(tarvex::FileHandle, tarvex::FileHandle, uint64_t, size_t);

long long fncTimeOne(Compare fncWay, int intA, int intB, uint64_t lngSize) {
  const auto objStart = std::chrono::steady_clock::now();
  for (uint64_t lngAt = 0; lngAt < lngSize; lngAt += 1 << 22) {
    const size_t lngLength = static_cast<size_t>(std::min<uint64_t>(lngSize - lngAt, 1 << 22));
    if (fncWay(intA, intB, lngAt, lngLength) != 1) {
      std::fprintf(stderr, "compare_probe: the files differ or cannot be compared\n");
      std::exit(1);
    }
  }
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() -
                                                              objStart).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: compare_probe A B ROUNDS\n");
    return 2;
  }
  const int intA = open(argv[1], O_RDONLY), intB = open(argv[2], O_RDONLY);
  struct stat objStat;
  if (intA < 0 || intB < 0 || fstat(intA, &objStat) != 0) return 1;
  const Compare kWays[] = {tarvex::posix::fncCompareMapped, tarvex::posix::fncCompareRead};
  std::vector<long long> objTimes[2];
  for (int intRound = 0; intRound < std::atoi(argv[3]); ++intRound)
    for (int intWay = 0; intWay < 2; ++intWay) {
      const int intNow = (intWay + intRound) % 2;  // the order turns each round
      objTimes[intNow].push_back(fncTimeOne(kWays[intNow], intA, intB, objStat.st_size));
    }
  const char* kNames[] = {"mapped", "read"};
  for (int intWay = 0; intWay < 2; ++intWay) {
    std::vector<long long>& objAll = objTimes[intWay];
    std::nth_element(objAll.begin(), objAll.begin() + objAll.size() / 2, objAll.end());
    std::printf("%s %lld\n", kNames[intWay], objAll[objAll.size() / 2]);
  }
  return 0;
}
