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

// Ctrl-C, a kill, and the terminal or the SSH session going away under a vendor's run.
constexpr struct {
  int number;
  const char* name;
} kHeld[] = {{SIGTERM, "SIGTERM"}, {SIGINT, "SIGINT"}, {SIGHUP, "SIGHUP"}};

}  // namespace

InterruptGuard::InterruptGuard() {
  // A signal the caller ignores (nohup's SIGHUP, SIGINT of a job started with "&") stays
  // ignored: held back, it would be kept pending and end the run after all.
  sigemptyset(&held_);
  for (const auto& one : kHeld) {
    struct sigaction action;
    if (sigaction(one.number, nullptr, &action) == 0 && action.sa_handler != SIG_IGN) {
      sigaddset(&held_, one.number);
    }
  }
  sigprocmask(SIG_BLOCK, &held_, &saved_);
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
  const char* name = nullptr;
  sigset_t pending;
  sigpending(&pending);
  for (const auto& one : kHeld) {
    if (noticed_ == 0 && sigismember(&held_, one.number) && sigismember(&pending, one.number)) {
      noticed_ = one.number;
    }
    if (noticed_ == one.number) name = one.name;
  }
  if (name) {
    throw std::runtime_error(std::string("interrupted by ") + name + "; the run is undone");
  }
}

#endif

}  // namespace vanto::site
