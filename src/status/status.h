// Status reporting: the PID file and its hand-off to the agent.
#ifndef TARVEX_STATUS_STATUS_H_
#define TARVEX_STATUS_STATUS_H_

#include <string>

#include "platform/platform.h"

namespace tarvex {

// MM/dd/yyyy hh:mm:ss AM|PM, "/" always, the host's time separator.
std::string fncStatusDateTime(const LocalTime& objTime, const std::string& strTimeSeparator);

bool fncCreatePIDFile(const std::string& strPID);
void subWriteFinalStatus();
void subHandOffPIDFile();

}  // namespace tarvex

#endif  // TARVEX_STATUS_STATUS_H_
