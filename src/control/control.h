// Run control, top: Main and the run sequence, over every subsystem. No
// subsystem below includes this; they share control/run_state.h.
#ifndef TARVEX_CONTROL_CONTROL_H_
#define TARVEX_CONTROL_CONTROL_H_

#include <cstdint>
#include <string>

#include "control/run_state.h"

namespace tarvex {

// Process exit codes.
enum : int {
  kExitSuccess = 0,
  kExitFailed = 1,
  kExitInvalidParameter = 2,
  kExitTrapped = 3,
  kExitLockTimeout = 4,  // another run held the application folder too long
  kExitNotHandedOver = 5,  // the agent never received this run's status file
};

// How long a run waits for the run in its application folder to end.
constexpr uint32_t kLockWaitMilliseconds = 30 * 60 * 1000;

// Quotes removed, outer spaces trimmed.
std::string fncCleanCommandLine(const std::string& strCommandLine);

// Host's general date-time text: short date, a space, long time; the time
// is left out at exactly midnight.
std::string fncGeneralDateTime(const LocalTime& objTime);

// Body of a run with an accepted PID; returns the exit code.
int fncRunSequence();

// The entry routine; returns the process exit code.
int Main();

}  // namespace tarvex

#endif  // TARVEX_CONTROL_CONTROL_H_
