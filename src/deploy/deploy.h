// Deployment: copying and deleting single files, deploying one manifest
// entry.
#ifndef TARVEX_DEPLOY_DEPLOY_H_
#define TARVEX_DEPLOY_DEPLOY_H_

#include <cstdint>
#include <string>

namespace tarvex {

const int kCopyAttempts = 3;
const uint32_t kRetryPauseMs = 10000;
const uint32_t kProcessWaitMs = 600000;
const uint32_t kProcessAccess = 0x1F0FFF;

bool fncDuplix(const std::string& strSource, const std::string& strDestination);
bool fncDeleteFile(const std::string& strPath);

void subDuplix(const std::string& strFileName, const std::string& strFilePath, bool blnCopy,
               bool blnExecute, const std::string& strParameters);

}  // namespace tarvex

#endif  // TARVEX_DEPLOY_DEPLOY_H_
