// An information file of any content, read through the in-memory private-profile reader into the
// run state: defaults or values, never a crash, never a value longer than the 2047 characters
// the platform hands back.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "update/fake_services.h"
#include "update/ini_text.h"
#include "update/netproc.h"
#include "update/server_info.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vanto::test::FakeServices services;
  const std::u16string path = u"C:\\docs\\vanto\\Temp\\newvanto.ini";
  services.iniFiles[path] =
      vanto::update::DecodeIniBytes(std::string(reinterpret_cast<const char*>(data), size));
  vanto::update::UpdateRunState state;
  state.Info.fileName = path;
  vanto::update::ReadServerInfo(state, services);
  for (const std::u16string* value : {&state.InfoFileName, &state.InfoServerDir, &state.InfoText,
                                      &state.LocalAlias, &state.ExeDir, &state.ExeDirUp}) {
    if (value->size() > 2047) std::abort();
  }
  return 0;
}
