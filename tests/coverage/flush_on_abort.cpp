// Preloaded into the processes of a coverage run: lets a process that aborts keep its coverage.
//
// Counters reach their .gcda files only when a process exits normally: each instrumented
// library writes its own from its destructor. The paths that end the process with abort (the
// last-resort reports, the death tests) would otherwise never count as run. This abort lets
// exit() run those destructors first; then this library's own destructor, which runs after
// theirs (a preloaded library is set up before, and torn down after, everything that the
// program loads), ends the process by SIGABRT, as abort would have.
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

volatile sig_atomic_t aborting = 0;

[[noreturn]] void die_by_abort_signal() {
  signal(SIGABRT, SIG_DFL);
  sigset_t abort_only;
  sigemptyset(&abort_only);
  sigaddset(&abort_only, SIGABRT);
  sigprocmask(SIG_UNBLOCK, &abort_only, nullptr);
  raise(SIGABRT);
  _exit(128 + SIGABRT);
}

[[gnu::destructor]] void end_an_aborting_process() {
  if (aborting) die_by_abort_signal();
}

}  // namespace

extern "C" [[noreturn]] void abort() noexcept {
  if (aborting) die_by_abort_signal();  // abort again while exiting: stop here
  aborting = 1;
  exit(128 + SIGABRT);
}
