#include "interrupt_guard.h"

#include <stdexcept>
#include <string>

#ifndef _WIN32
#include <signal.h>
#endif

namespace vanto::site {

#ifdef _WIN32

// A console's Ctrl-C ends the Windows build as it ends any console program; only the Linux build,
// which vendors run in pipelines, holds the signals back.
InterruptGuard::InterruptGuard() = default;
InterruptGuard::~InterruptGuard() = default;
void InterruptGuard::ThrowIfInterrupted() {}

#else

namespace {

sigset_t HeldSignals() {
  sigset_t held;
  sigemptyset(&held);
  sigaddset(&held, SIGINT);
  sigaddset(&held, SIGTERM);
  return held;
}

}  // namespace

InterruptGuard::InterruptGuard() {
  const sigset_t held = HeldSignals();
  sigprocmask(SIG_BLOCK, &held, &saved_);
}

InterruptGuard::~InterruptGuard() {
  sigprocmask(SIG_SETMASK, &saved_, nullptr);
  if (noticed_ != 0) {
    // Held by the caller too, or pending from before: it ends the process all the same.
    signal(noticed_, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, noticed_);
    sigprocmask(SIG_UNBLOCK, &one, nullptr);
    raise(noticed_);
  }
}

void InterruptGuard::ThrowIfInterrupted() {
  if (noticed_ == 0) {
    sigset_t pending;
    sigpending(&pending);
    if (sigismember(&pending, SIGTERM)) {
      noticed_ = SIGTERM;
    } else if (sigismember(&pending, SIGINT)) {
      noticed_ = SIGINT;
    }
  }
  if (noticed_ != 0) {
    throw std::runtime_error(std::string("interrupted by ") +
                             (noticed_ == SIGTERM ? "SIGTERM" : "SIGINT") + "; the run is undone");
  }
}

#endif

}  // namespace vanto::site
