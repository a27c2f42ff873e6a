#include "platform/signals.h"

#include <signal.h>
#include <unistd.h>

#include "platform/unfinished_file.h"

namespace platform {

void blockTerm() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void exitOnTerm() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  int signal = 0;
  while (sigwait(&set, &signal) != 0 || signal != SIGTERM) {
  }
  // A screenshot cut short leaves no file beside its target.
  removeUnfinishedFiles();
  _exit(0);
}

}  // namespace platform
