#include "app/up_cli_main.h"

#include "app/application.h"
#include "app/control_ids.h"
#include "app/up_main.h"
#include "net/fetch.h"
#include "update/netproc.h"
#include "update/startup_sequence.h"

namespace vanto::app {

TfrmClientMain* frmClientMain = nullptr;

namespace {

// What the start-up sequence may ask of the first window.
class FirstWindowHost : public update::StartupHost {
 public:
  FirstWindowHost(Application& application, TfrmClientMain& first, platform::Services& services)
      : application_(application), first_(first), services_(services) {}

  void ShowInformation(const std::u16string& text) override { application_.ShowInformation(text); }

  void HandOver() override {
    // The first window goes once a message loop takes its release request; the upgrade window,
    // finishing its creation first, becomes the main window.
    first_.Close();
    application_.CreateForm(frmUpmain, services_);
    frmUpmain->Show();
    frmUpmain->btnUpClick();
  }

 private:
  Application& application_;
  TfrmClientMain& first_;
  platform::Services& services_;
};

}  // namespace

TfrmClientMain::TfrmClientMain(Application& application, platform::Services& services)
    : Form(application), services_(services) {}

Form::Frame TfrmClientMain::Describe() const {
  return {kClientMainClass, kClientMainCaption, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 342, 75};
}

void TfrmClientMain::CreateControls() {
  HWND window = Handle();
  Panel1 = CreatePanel(window, kPanel1Id, {0, 0, 342, 75});
  lblName = Label(window, kLblNameId, {6, 52, 0, 0}, true, LabelAlignment::kLeft, LabelFont(), L"");
  oPrgBar = CreateProgressBar(window, kPrgBarId, {7, 30, 328, 16});
  btnUp = CreatePushButton(window, kBtnUpId, L"btnUp", {135, 85, 76, 25}, WindowFont());
  SetClientAligned(Panel1);
  SetTabOrder({btnUp, oPrgBar});
}

void TfrmClientMain::FormCreate() {
  FirstWindowHost host(App(), *this, services_);
  update::StartupSequence(update::RunState(), services_, host, net::FetchOptions{});
}

void TfrmClientMain::FormClose(CloseAction& action) {
  action = CloseAction::kFree;
}

}  // namespace vanto::app
