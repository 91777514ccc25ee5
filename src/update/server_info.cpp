#include "update/server_info.h"

#include <string>

#include "net/errors.h"
#include "update/version.h"

namespace vanto::update {
namespace {

constexpr char16_t kInfoSection[] = u"VANTO_INFO";
constexpr char16_t kTextSection[] = u"VANTOK_INFO";
constexpr char16_t kPcSection[] = u"VANTO_INFO_PC";

std::u16string ReadString(platform::Services& services, const InfoReader& reader,
                          const std::u16string& section, const std::u16string& key) {
  return services.ReadProfileString(reader.fileName, section, key, std::u16string());
}

// An empty entry is the default; one that is not a number quietly reads as the default too.
double FloatOrDefault(const std::u16string& text, double defaultValue, char16_t decimalSeparator) {
  if (text.empty()) return defaultValue;
  try {
    return VersionFromText(text, decimalSeparator);
  } catch (const EConvertError&) {
    return defaultValue;
  }
}

}  // namespace

void ReadServerInfo(UpdateRunState& state, platform::Services& services) {
  const InfoReader& reader = state.Info;
  state.ServerVerText = ReadString(services, reader, kInfoSection, u"VER");
  state.ServerVersion = FloatOrDefault(state.ServerVerText, 0.0, state.DecimalSeparator);
  state.InfoFileName = ReadString(services, reader, kInfoSection, u"InfoFName");
  state.InfoServerDir = ReadString(services, reader, kInfoSection, u"ServerDir");
  state.InfoText = ReadString(services, reader, kTextSection, u"Infotxt");
  state.LocalAlias = ReadString(services, reader, kPcSection, u"LocalAlias");
  state.ExeDir = ReadString(services, reader, kPcSection, u"ExeDir");
  state.ExeDirUp = ReadString(services, reader, kPcSection, u"ExeDirUp");
  // Without a key the file is read exactly as before.
  if (state.UpdateKey) state.ExeSig = ReadString(services, reader, kPcSection, u"ExeSig");
}

DownloadPlace InformationFilePlace(const UpdateRunState& state) {
  return {state.RegServerDir + state.RegInfoFName, state.TempDir + state.RegInfoFName};
}

void LoadServerInfo(UpdateRunState& state, platform::Services& services,
                    const net::FetchOptions& fetchOptions) {
  const DownloadPlace place = InformationFilePlace(state);
  state.DownloadUrl = place.url;
  state.LocalFile = place.path;
  net::FetchToFile(state.DownloadUrl, state.LocalFile, fetchOptions);
  state.Info = InfoReader{state.LocalFile};
  ReadServerInfo(state, services);
}

}  // namespace vanto::update
