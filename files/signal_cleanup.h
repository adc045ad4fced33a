#pragma once

#include <signal.h>
#include <sys/types.h>

#include <string>

namespace segwork {

// What a termination signal must not leave behind: the temporary files of saves not yet put in
// place and the ffmpeg child writing a movie. Each is remembered while it exists; a program's
// handler for SIGTERM, SIGINT and SIGHUP calls CleanUpAfterSignal before raising the signal
// again. The handler's side is async-signal-safe: fixed slots, atomics, kill, waitpid, unlink.

// Remembers a temporary file; the slot to forget it by, or -1 when it cannot be kept (a name
// longer than the slots hold, all slots taken).
int RememberTemporaryFile(const std::string& path);
void ForgetTemporaryFile(int slot);

// Creates a new file (O_EXCL, mode 0600) named by `pattern` with its six X before the last
// `suffixLength` characters replaced, remembered from before it exists, so that no signal can
// come between its making and its remembering, on any thread. Returns the descriptor with
// `pattern` the name and `slot` set, or -1 with errno.
int CreateRememberedFile(std::string& pattern, size_t suffixLength, int& slot);

// Holds SIGTERM, SIGINT and SIGHUP for the calling thread while it lives (they come when it
// ends): for steps such as starting a child and remembering it, which a signal must not split.
class HoldTerminationSignals {
 public:
  HoldTerminationSignals();
  ~HoldTerminationSignals();
  HoldTerminationSignals(const HoldTerminationSignals&) = delete;
  HoldTerminationSignals& operator=(const HoldTerminationSignals&) = delete;

 private:
  sigset_t old_;
};

// Remembers a child process to end; the slot, or -1.
int RememberChild(pid_t pid);
void ForgetChild(int slot);

// For a signal handler: ends every remembered child (SIGKILL, then waits for it, so it cannot
// write on after this program is gone) and removes every remembered file. Runs once; later calls
// do nothing.
void CleanUpAfterSignal();

}  // namespace segwork
