// vantoup.exe: the automatic upgrade of the vanto program.
#include <windows.h>

#include <commctrl.h>

#include "app/application.h"
#include "app/control_ids.h"
#include "app/up_cli_main.h"
#include "platform/utf.h"
#include "platform/win32/locale_win.h"
#include "platform/win32/services_win.h"
#include "update/netproc.h"
#include "update/startup_sequence.h"

namespace {

// DLLs are looked for in the system folder only, never beside the program or in the current
// folder, where anyone who can write a download could plant one. Imported, not looked up: the
// loader binds it, and a Windows 7 without the loader update refuses to start the program rather
// than run it with the old search.
void LoadDllsFromTheSystemFolderOnly() {
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

int Run(HINSTANCE instance) {
  using namespace vanto;
  // Version numbers are read with the user's decimal separator, taken once, here.
  SetThreadLocale(LOCALE_USER_DEFAULT);
  update::RunState().DecimalSeparator = platform::UserDecimalSeparator();

  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);

  app::Application application(instance);
  application.SetTitle(app::kApplicationTitle);
  platform::WindowsServices services([&application] { return application.Handle(); });
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

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  LoadDllsFromTheSystemFolderOnly();
  try {
    return Run(instance);
  } catch (const std::exception& error) {
    // The application window itself could not be made: there is nothing to own a box.
    const std::u16string text = vanto::platform::Utf8ToUtf16(error.what());
    MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(text.c_str()),
                vanto::app::kApplicationTitle, MB_OK | MB_ICONSTOP);
  }
  return 0;
}
