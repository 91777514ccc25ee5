// Recording stand-ins for the windows the update talks to.
#pragma once

#include <string>
#include <vector>

#include "platform/utf.h"
#include "update/startup_sequence.h"
#include "update/upgrade_step.h"

namespace vanto::test {

class RecordingHost : public update::StartupHost {
 public:
  void ShowInformation(const std::u16string& text) override { shown.push_back(text); }
  void HandOver() override { ++handOvers; }

  std::vector<std::u16string> shown;
  int handOvers = 0;
};

// Records label changes as "state: <text>", "name: <text>", "count: <text>", "paint", "close".
class RecordingView : public update::UpgradeView {
 public:
  void SetStateText(const std::u16string& text) override { Add("state: ", text); }
  void SetNameText(const std::u16string& text) override { Add("name: ", text); }
  void SetCountText(const std::u16string& text) override { Add("count: ", text); }
  void PaintLabelsNow() override { events.push_back("paint"); }
  void CloseWindow() override { events.push_back("close"); }

  std::vector<std::string> events;

 private:
  void Add(const char* label, const std::u16string& text) {
    events.push_back(label + platform::Utf16ToUtf8(text));
  }
};

}  // namespace vanto::test
