// Status reporting: the PID file and its hand-off to the agent.
#ifndef TARVEX_STATUS_STATUS_H_
#define TARVEX_STATUS_STATUS_H_

#include <cstdint>
#include <string>

#include "deploy/signature.h"
#include "platform/platform.h"

namespace tarvex {

// MM/dd/yyyy hh:mm:ss AM|PM, "/" always, the host's time separator.
std::string fncStatusDateTime(const LocalTime& objTime, const std::string& strTimeSeparator);

bool fncCreatePIDFile(const std::string& strPID);
void subWriteFinalStatus();
void subHandOffPIDFile();

// The run report, Duplix.json beside the log: its text for a run that ends
// with intExit, and its writing (one exclusive temporary file, one rename);
// a failure to write it is logged ("ERR : Sub - subWriteRunReport").
const char kRunReportName[] = "Duplix.json";
std::string fncRunReport(int intExit);
void subWriteRunReport(int intExit);

// The versions of signed packages this machine has deployed, in the agent's
// installation folder.
const char kStateName[] = "TarvexState.ini";
// The highest version of the package recorded; read once, at its name.
VersionRecord fncRecordedVersion(const std::string& strPackage);
// Records a version after a SUCCESS, unless a higher one is recorded;
// a failure is logged ("ERR : Sub - subRecordVersion").
void subRecordVersion(const std::string& strPackage, int64_t lngVersion);

}  // namespace tarvex

#endif  // TARVEX_STATUS_STATUS_H_
