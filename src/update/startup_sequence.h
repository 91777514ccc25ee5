// The work of the first window's creation: put the installed program aside, read the local
// settings, fetch the server's information file and hand over to the upgrade window.
#pragma once

#include <string>

#include "net/fetch.h"
#include "platform/services.h"
#include "update/netproc.h"

namespace vanto::update {

// What the first window offers the sequence.
class StartupHost {
 public:
  virtual ~StartupHost() = default;
  // The simple message dialog with the application title as caption.
  virtual void ShowInformation(const std::u16string& text) = 0;
  // Closes the first window, creates and shows the upgrade window and runs the upgrade step.
  virtual void HandOver() = 0;
};

// Errors propagate to the caller (the window construction reports them).
void StartupSequence(UpdateRunState& state, platform::Services& services, StartupHost& host,
                     const net::FetchOptions& fetchOptions);

// At process end: if the program is aside (moved by this run, or left there by one that was
// ended) and this run opened no installer, move it back. Never replaces a vanto.exe.
void RestoreExecutableIfNotUpgraded(const UpdateRunState& state, platform::Services& services);

}  // namespace vanto::update
