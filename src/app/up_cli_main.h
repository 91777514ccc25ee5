// UpCliMain: the first window. Its creation runs the start-up sequence; the user sees it only
// when the sequence stops before handing over to the upgrade window.
#pragma once

#include "app/controls.h"
#include "app/form.h"
#include "platform/services.h"

namespace vanto::app {

class TfrmClientMain : public Form {
 public:
  TfrmClientMain(Application& application, platform::Services& services);

 protected:
  Frame Describe() const override;
  void CreateControls() override;
  void FormCreate() override;
  void FormClose(CloseAction& action) override;

 private:
  platform::Services& services_;
  HWND Panel1 = nullptr;
  Label lblName;
  HWND oPrgBar = nullptr;
  HWND btnUp = nullptr;  // no click handler
};

// Filled when the window is created; never cleared.
extern TfrmClientMain* frmClientMain;

}  // namespace vanto::app
