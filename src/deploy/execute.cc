// The execute phase of an entry: a library registered (judged by the tool's
// exit code), a program run. A program runs as it always has unless its
// entry asks for more: judged by its exit code (SuccessCodes, RebootCodes),
// held to a time (Timeout), after which it is ended with everything it
// started. Installers use their own exit codes: a program that is not
// judged counts as deployed once it has started.
#include "control/run_state.h"
#include "deploy/deploy.h"

namespace tarvex {

std::string fncQuoted(const std::string& strPath) { return "\"" + strPath + "\""; }

std::string fncRegsvr32() {
  const std::string strProgram = Os().fncSystemProgram("Regsvr32");
  return strProgram.find(' ') == std::string::npos ? strProgram : fncQuoted(strProgram);
}

Waited fncAwaitProcess(uint32_t lngProcessID, uint32_t lngMilliseconds) {
  Waited objWaited;
  const int64_t lngStart = Os().fncTickMs();
  ProcHandle objProcess = Os().fncOpenProcess(kProcessAccess, lngProcessID);
  if (objProcess == nullptr) return objWaited;
  objWaited.blnOpened = true;
  objWaited.blnEnded = Os().fncWaitForProcess(objProcess, lngMilliseconds) == kWaitObject0;
  objWaited.blnCode = Os().fncExitCode(objProcess, &objWaited.lngCode);
  // Still running is no exit code.
  if (objWaited.blnCode && !objWaited.blnEnded && objWaited.lngCode == kStillActive)
    objWaited.blnCode = false;
  Os().subCloseProcess(objProcess);
  objWaited.dblSeconds = static_cast<double>(Os().fncTickMs() - lngStart) / 1000.0;
  return objWaited;
}

namespace {

void subSucceeded(const std::string& strTarget) {
  subWriteLog("MSG : Successfully Executed/Registered File " + strTarget);
}

void subFailed(const std::string& strTarget, ExecutionReport& objReport) {
  subWriteLog("MSG : Failed to Execute/Register File " + strTarget);
  subRecordFailure("Failed to Execute/Register File " + strTarget + "; ");
  objReport.strResult = "failed";
}

void subNote(const Waited& objWaited, ExecutionReport& objReport) {
  objReport.dblSeconds = objWaited.dblSeconds;
  objReport.blnExitCode = objWaited.blnCode;
  objReport.lngExitCode = objWaited.lngCode;
}

// A program whose entry asks for a judgment or a time limit: nothing is
// said of it before it has ended (or its time is up).
void subRunJudged(const std::string& strTarget, const std::string& strCommand,
                  const EntryRules& objRules, ExecutionReport& objReport) {
  const uint32_t lngProcessID = objRules.lngTimeout != 0 ? Os().fncStartGroup(strCommand)
                                                         : Os().fncStartProcess(strCommand);
  const Waited objWaited = fncAwaitProcess(
      lngProcessID, objRules.lngTimeout != 0 ? objRules.lngTimeout * 1000 : kProcessWaitMs);
  subNote(objWaited, objReport);
  if (objRules.lngTimeout != 0 && objWaited.blnOpened && !objWaited.blnEnded) {
    // Its time is up: it ends, and whatever it started with it.
    Os().subEndGroup(lngProcessID);
    subWriteLog("ERR : Timed Out After " + std::to_string(objRules.lngTimeout) + " Seconds - " +
                strTarget);
    subFailed(strTarget, objReport);
    objReport.strResult = "timed-out";
    objReport.blnExitCode = false;
    if (objRules.blnJudged) objReport.strJudgment = "failure";
    return;
  }
  objReport.strResult = "ran";
  if (!objRules.blnJudged) {
    subSucceeded(strTarget);
    return;
  }
  // A program still running, or whose code cannot be read, has not shown
  // that it succeeded.
  const Judgment intJudgment =
      objWaited.blnCode ? fncJudge(objRules, objWaited.lngCode) : kJudgedFailure;
  if (objWaited.blnCode)
    subWriteLog("MSG : Exit Code " + fncCodeText(objWaited.lngCode) + " - " + strTarget);
  objReport.strJudgment = intJudgment == kJudgedSuccess  ? "success"
                          : intJudgment == kJudgedReboot ? "reboot"
                                                         : "failure";
  if (intJudgment == kJudgedFailure) {
    subFailed(strTarget, objReport);
    return;
  }
  subSucceeded(strTarget);
  if (intJudgment == kJudgedReboot) g_run.blnRebootRequired = true;
}

}  // namespace

void subExecute(const std::string& strTarget, const std::string& strParameters,
                const EntryRules& objRules, ExecutionReport& objReport) {
  const std::string strKind = fncFileKind(strTarget);
  if (strKind == ".DLL") {
    objReport.strCommand = fncRegsvr32() + " -s " + fncQuoted(strTarget);
    const Waited objWaited = fncAwaitProcess(Os().fncStartProcess(objReport.strCommand),
                                             kProcessWaitMs);
    subNote(objWaited, objReport);
    // A registration is judged by the tool's exit code; a tool still
    // running after the wait, or one that cannot be opened or read, is
    // given the benefit of the doubt.
    if (!objWaited.blnCode || objWaited.lngCode == 0) {
      subSucceeded(strTarget);
      objReport.strResult = "registered";
    } else {
      subFailed(strTarget, objReport);
    }
    return;
  }
  if (strKind != ".EXE") {
    // Nothing else can be executed.
    subFailed(strTarget, objReport);
    return;
  }
  objReport.strCommand = fncQuoted(strTarget) + " " + strParameters;
  if (objRules.blnJudged || objRules.lngTimeout != 0) {
    subRunJudged(strTarget, objReport.strCommand, objRules, objReport);
    return;
  }
  const uint32_t lngProcessID = Os().fncStartProcess(objReport.strCommand);
  subSucceeded(strTarget);
  objReport.strResult = "ran";
  subNote(fncAwaitProcess(lngProcessID, kProcessWaitMs), objReport);
}

}  // namespace tarvex
