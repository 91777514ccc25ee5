// UpMain: the upgrade window. It shows the state of the installer download; its hidden button,
// clicked from the keyboard, runs the upgrade step again.
#pragma once

#include <string>

#include "app/controls.h"
#include "app/form.h"
#include "platform/services.h"
#include "update/upgrade_step.h"

namespace vanto::app {

class TfrmUpmain : public Form, public update::UpgradeView {
 public:
  TfrmUpmain(Application& application, platform::Services& services);

  // The upgrade step.
  void btnUpClick();

  void SetStateText(const std::u16string& text) override;
  void SetNameText(const std::u16string& text) override;
  void SetCountText(const std::u16string& text) override;
  void PaintLabelsNow() override;
  void CloseWindow() override;

 protected:
  Frame Describe() const override;
  void CreateControls() override;
  void FormClose(CloseAction& action) override;
  void OnCommand(int controlId, int notification) override;

 private:
  platform::Services& services_;
  HWND Panel1 = nullptr;
  Label lblState;
  Label lblName;
  Label lblCnt;
  HWND oPrgBar = nullptr;
  HWND btnUp = nullptr;
};

// Filled when the window is created; never cleared.
extern TfrmUpmain* frmUpmain;

}  // namespace vanto::app
