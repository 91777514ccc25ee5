// SIGINT, SIGTERM and SIGHUP held back while `make` changes the output folder, so that an
// interrupted run is undone like any other failure before the signal takes effect.
#pragma once

#ifndef _WIN32
#include <signal.h>
#endif

namespace vanto::site {

class InterruptGuard {
 public:
  InterruptGuard();
  // Lets the held signals through again: one that was noticed ends the process now, with the
  // signal's own status, once the caller has undone its work.
  ~InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

  // Throws std::runtime_error when a held signal has arrived since the guard was made (or was
  // pending before it).
  void ThrowIfInterrupted();

 private:
#ifndef _WIN32
  sigset_t held_;   // the signals held back: those the caller does not ignore
  sigset_t saved_;  // the caller's signal mask, restored at the end
  int noticed_ = 0;
#endif
};

}  // namespace vanto::site
