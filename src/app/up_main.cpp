#include "app/up_main.h"

#include "app/application.h"
#include "app/control_ids.h"
#include "app/wide.h"
#include "net/fetch.h"
#include "update/netproc.h"

namespace vanto::app {

TfrmUpmain* frmUpmain = nullptr;

TfrmUpmain::TfrmUpmain(Application& application, platform::Services& services)
    : Form(application), services_(services) {}

Form::Frame TfrmUpmain::Describe() const {
  // A dialog frame: no resizing, no minimise or maximise box.
  return {kUpmainClass,
          kUpmainCaption,
          WS_CAPTION | WS_SYSMENU | WS_DLGFRAME | WS_CLIPCHILDREN,
          WS_EX_DLGMODALFRAME,
          341,
          66};
}

void TfrmUpmain::CreateControls() {
  HWND window = Handle();
  Panel1 = CreatePanel(window, kPanel1Id, {0, 0, 341, 66});
  lblState = Label(window, kLblStateId, {7, 12, 330, 12}, false, LabelAlignment::kCenter,
                   LabelFont(), L"업그레이드 준비중 입니다.");
  lblName = Label(window, kLblNameId, {6, 52, 0, 0}, true, LabelAlignment::kLeft, LabelFont(), L"");
  lblCnt =
      Label(window, kLblCntId, {330, 51, 0, 0}, true, LabelAlignment::kRight, LabelFont(), L"");
  oPrgBar = CreateProgressBar(window, kPrgBarId, {7, 30, 328, 16});
  btnUp = CreatePushButton(window, kBtnUpId, L"btnUp", {135, 85, 76, 25}, WindowFont());
  SetClientAligned(Panel1);
  SetTabOrder({btnUp, oPrgBar});
}

void TfrmUpmain::FormClose(CloseAction& action) {
  action = CloseAction::kFree;
}

void TfrmUpmain::OnCommand(int controlId, int notification) {
  if (controlId == kBtnUpId && notification == BN_CLICKED) btnUpClick();
}

void TfrmUpmain::btnUpClick() {
  // Keys pressed while a download blocked the window reach it only after the step has finished;
  // once the run is over they must not download and start the installer a second time.
  if (App().Terminated()) return;
  update::UpgradeStep(update::RunState(), services_, *this, net::FetchOptions{});
}

void TfrmUpmain::SetStateText(const std::u16string& text) {
  lblState.SetCaption(Wide(text));
}
void TfrmUpmain::SetNameText(const std::u16string& text) {
  lblName.SetCaption(Wide(text));
}
void TfrmUpmain::SetCountText(const std::u16string& text) {
  lblCnt.SetCaption(Wide(text));
}

void TfrmUpmain::PaintLabelsNow() {
  // The download that follows blocks the thread: what is painted now is what the user sees.
  UpdateWindow(Panel1);
  lblState.Update();
  lblName.Update();
  lblCnt.Update();
}

void TfrmUpmain::CloseWindow() {
  frmUpmain->Close();
}

}  // namespace vanto::app
