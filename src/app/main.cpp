// vantoup.exe: the automatic upgrade of the vanto program.
#include <windows.h>

#include <commctrl.h>

#include "app/application.h"
#include "app/control_ids.h"
#include "app/stand_in_services.h"
#include "app/up_cli_main.h"
#include "update/netproc.h"
#include "update/startup_sequence.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  using namespace vanto;
  // Version numbers are read with the user's decimal separator, taken once, here.
  SetThreadLocale(LOCALE_USER_DEFAULT);
  update::RunState().DecimalSeparator = app::StandInDecimalSeparator();

  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);

  app::Application application(instance);
  application.SetTitle(app::kApplicationTitle);
  app::StandInServices services(application.Handle());
  try {
    application.CreateForm(app::frmClientMain, services);
  } catch (...) {
    application.ReportCurrentException();
  }
  application.RunLoop();
  try {
    // A run that opened no installer puts the program back where it was.
    update::RestoreExecutableIfNotUpgraded(update::RunState(), services);
  } catch (...) {
    // Nothing is left to show it on; the backup stays where it is.
  }
  return 0;
}
