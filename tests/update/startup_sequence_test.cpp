#include "update/startup_sequence.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/errors.h"
#include "platform/utf.h"
#include "support/scripted_server.h"
#include "update/fake_services.h"
#include "update/recording_host.h"
#include "update/test_folder.h"

namespace vanto::update {
namespace {

using platform::RegistryRead;
using platform::RegistryText;
using platform::Utf16ToUtf8;
using platform::Utf8ToUtf16;
using test::FakeServices;
using test::OkResponse;
using test::RecordingHost;
using test::RequestLine;
using test::ScriptedServer;
using test::TestFolder;

const std::u16string kNoSettingsMessage =
    u"\uD504\uB85C\uADF8\uB7A8\uC758 \uC815\uBCF4\uAC00 \uC5C6\uC2B5\uB2C8\uB2E4."
    u"\r\r"
    u"\uC5C5\uCCB4\uC5D0 \uBB38\uC758 \uD558\uC5EC \uC8FC\uC2ED\uC2DC\uC694";

const char kInfoFile[] =
    "[VANTO_INFO]\r\n"
    "VER=2.0\r\n"
    "InfoFName=newvanto.ini\r\n"
    "ServerDir=http://files.example/setup/\r\n"
    "[VANTOK_INFO]\r\n"
    "Infotxt=hello\r\n"
    "[VANTO_INFO_PC]\r\n"
    "LocalAlias=pc\r\n"
    "ExeDir=vanto_setup.exe\r\n"
    "ExeDirUp=up\r\n";

RegistryText Text(const std::u16string& text) {
  return {RegistryRead::kText, text};
}

class StartupSequenceTest : public ::testing::Test {
 protected:
  StartupSequenceTest() {
    // The documents folder is a real one so that downloads land in the test's own folder.
    documents_ = (folder_.Path() / "docs").u16string();
    // Where Windows needs the download folder on disk; elsewhere "\\" is part of a file name.
    std::filesystem::create_directories(folder_.Path() / "docs" / "vanto" / "Temp");
    services_.specialFolders[platform::kFolderPersonal] = documents_;
    services_.AddFolder(documents_);
    services_.AddFile(u"C:\\Program Files\\vanto\\vanto.exe");
    services_.values[u"Ver"] = Text(u"1.5");
    services_.values[u"ServerDir"] = Text(Utf8ToUtf16(server_.BaseUrl() + "info/"));
    services_.values[u"InfoFName"] = Text(u"info.ini");
    fetch_.readTimeoutMs = 5000;
  }

  void Run() { StartupSequence(state_, services_, host_, fetch_); }

  std::u16string TempDir() const { return documents_ + u"\\vanto\\Temp\\"; }

  TestFolder folder_;
  ScriptedServer server_;
  std::u16string documents_;
  FakeServices services_;
  RecordingHost host_;
  UpdateRunState state_;
  net::FetchOptions fetch_;
};

TEST_F(StartupSequenceTest, FullRunInOrder) {
  services_.AddFile(u"C:\\Program Files\\vanto\\vanto.OLD");
  server_.AddResponse(OkResponse(kInfoFile));
  Run();

  // What the run does, in order. The look-ups and tests on the way (special folders, whether a
  // file or folder exists) are how it gets there, not what it does: only the paths they gave count.
  std::vector<std::string> effects;
  for (const std::string& call : services_.calls) {
    const bool lookup = call.rfind("SpecialFolder ", 0) == 0 || call.rfind("FileExists ", 0) == 0 ||
                        call.rfind("DirectoryExists ", 0) == 0;
    if (!lookup) effects.push_back(call);
  }
  const std::string docs = Utf16ToUtf8(documents_);
  const std::vector<std::string> expected = {
      "Delete C:\\Program Files\\vanto\\vanto.old",
      "Sleep 500",
      "Move C:\\Program Files\\vanto\\vanto.exe -> C:\\Program Files\\vanto\\vanto.OLD",
      "MakeDirectory " + docs + "\\vanto",
      "MakeDirectory " + docs + "\\vanto\\Temp",
      "OpenUserKey Software\\vanto",
      "ReadText Ver",
      "ReadText ServerDir",
      "ReadText InfoFName",
      "CloseKey",
      "ReadProfileString VANTO_INFO VER",
      "ReadProfileString VANTO_INFO InfoFName",
      "ReadProfileString VANTO_INFO ServerDir",
      "ReadProfileString VANTOK_INFO Infotxt",
      "ReadProfileString VANTO_INFO_PC LocalAlias",
      "ReadProfileString VANTO_INFO_PC ExeDir",
      "ReadProfileString VANTO_INFO_PC ExeDirUp",
  };
  EXPECT_EQ(effects, expected);
  EXPECT_EQ(host_.handOvers, 1);
  EXPECT_TRUE(host_.shown.empty());

  ASSERT_EQ(server_.Requests().size(), 1u);
  EXPECT_EQ(RequestLine(server_.Requests()[0]), "GET /info/info.ini HTTP/1.1");

  EXPECT_EQ(state_.TempDir, TempDir());
  EXPECT_EQ(state_.VerText, u"1.5");
  EXPECT_EQ(state_.LocalVersion, 1.5);
  EXPECT_EQ(state_.DownloadUrl, Utf8ToUtf16(server_.BaseUrl()) + u"info/info.ini");
  EXPECT_EQ(state_.LocalFile, TempDir() + u"info.ini");
  EXPECT_EQ(state_.Info.fileName, state_.LocalFile);
  EXPECT_EQ(folder_.Read(state_.LocalFile), kInfoFile);
  EXPECT_EQ(state_.ServerVersion, 2.0);
  EXPECT_EQ(state_.InfoServerDir, u"http://files.example/setup/");
  EXPECT_EQ(state_.ExeDir, u"vanto_setup.exe");
  EXPECT_EQ(state_.InfoText, u"hello");

  EXPECT_TRUE(state_.ExecutableMovedAside);
  EXPECT_EQ(state_.ExecutablePath, u"C:\\Program Files\\vanto\\vanto.exe");
  EXPECT_EQ(state_.BackupPath, u"C:\\Program Files\\vanto\\vanto.OLD");
  EXPECT_FALSE(services_.HasFile(u"C:\\Program Files\\vanto\\vanto.exe"));
  EXPECT_TRUE(services_.HasFile(u"C:\\Program Files\\vanto\\vanto.OLD"));
}

// What happens on disk before the registry is read, for each state the program folder can be in.
TEST_F(StartupSequenceTest, BackupRotationTable) {
  const struct {
    const char* name;
    bool backupPresent;
    bool executablePresent;
    bool deleteFails;
    bool expectDelete;
    bool expectMovedAside;
    bool expectLeftByEndedRun = false;
  } cases[] = {
      {"both present", true, true, false, true, true},
      {"no backup", false, true, false, false, true},
      // The backup is then the only copy of the program: it stays, and is the program.
      {"no executable", true, false, false, false, false, true},
      {"neither", false, false, false, false, false},
      {"backup cannot be deleted", true, true, true, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeServices services;
    services.keyPresent = false;  // stop right after the local preparation
    if (c.backupPresent) services.AddFile(u"C:\\Program Files\\vanto\\vanto.OLD");
    if (c.executablePresent) services.AddFile(u"C:\\Program Files\\vanto\\vanto.exe");
    services.deleteFails = c.deleteFails;
    RecordingHost host;
    UpdateRunState state;
    StartupSequence(state, services, host, fetch_);

    EXPECT_EQ(services.Count("Delete "), c.expectDelete ? 1 : 0);
    EXPECT_EQ(services.Count("Sleep 500"), 1);
    EXPECT_EQ(services.Count("Move "), 1);
    EXPECT_EQ(state.ExecutableMovedAside, c.expectMovedAside);
    EXPECT_EQ(state.BackupLeftByEndedRun, c.expectLeftByEndedRun);
    if (c.expectDelete) {
      EXPECT_LT(services.IndexOf("Delete "), services.IndexOf("Move "));
    }
    EXPECT_LT(services.IndexOf("Sleep 500"), services.IndexOf("Move "));
    EXPECT_LT(services.IndexOf("Move "), services.IndexOf("SpecialFolder 5"));
    EXPECT_LT(services.IndexOf("SpecialFolder 5"), services.IndexOf("OpenUserKey"));
    // The program's file is never lost: it is either in place or aside as the backup.
    EXPECT_EQ(services.HasFile(u"C:\\Program Files\\vanto\\vanto.exe") ||
                  services.HasFile(u"C:\\Program Files\\vanto\\vanto.OLD"),
              c.executablePresent || c.backupPresent);
  }
}

TEST_F(StartupSequenceTest, DownloadFolderTable) {
  const struct {
    const char* name;
    std::vector<std::u16string> existing;  // below the documents folder
    std::u16string unmakeable;
    std::vector<std::u16string> expectMade;
    bool documentsLookupFails = false;  // a path from the root of the current drive is left
  } cases[] = {
      {"present", {u"\\vanto", u"\\vanto\\Temp"}, u"", {}},
      {"parent present", {u"\\vanto"}, u"", {u"\\vanto\\Temp"}},
      {"nothing present", {}, u"", {u"\\vanto", u"\\vanto\\Temp"}},
      {"cannot be made", {}, u"\\vanto", {}},
      {"documents folder not found", {}, u"", {}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeServices services;
    services.keyPresent = false;
    for (const auto& sub : c.existing) services.AddFolder(u"C:\\Users\\user\\Documents" + sub);
    if (!c.unmakeable.empty()) {
      services.unmakeableFolders.insert(
          FakeServices::Lower(u"C:\\Users\\user\\Documents" + c.unmakeable));
    }
    if (c.documentsLookupFails) services.specialFolders[platform::kFolderPersonal] = u"";
    RecordingHost host;
    UpdateRunState state;
    StartupSequence(state, services, host, fetch_);

    EXPECT_EQ(state.TempDir, c.documentsLookupFails ? u"\\vanto\\Temp\\"
                                                    : u"C:\\Users\\user\\Documents\\vanto\\Temp\\");
    for (const auto& sub : c.expectMade) {
      EXPECT_TRUE(services.HasFolder(u"C:\\Users\\user\\Documents" + sub));
    }
    EXPECT_EQ(services.Count("MakeDirectory "),
              static_cast<int>(c.expectMade.size() + (c.unmakeable.empty() ? 0 : 1)));
    // A folder that cannot be made is not this step's concern: the sequence goes on.
    EXPECT_EQ(services.Count("OpenUserKey"), 1);
    EXPECT_EQ(host.shown.size(), 1u);
  }
}

TEST_F(StartupSequenceTest, MissingKeyShowsTheMessageAndDoesNothingMore) {
  services_.keyPresent = false;
  server_.AddResponse(OkResponse(kInfoFile));
  Run();

  ASSERT_EQ(host_.shown.size(), 1u);
  EXPECT_EQ(host_.shown[0], kNoSettingsMessage);
  EXPECT_EQ(services_.calls.back(), "OpenUserKey Software\\vanto");
  EXPECT_EQ(host_.handOvers, 0);
  EXPECT_EQ(server_.Connections(), 0);
  EXPECT_TRUE(state_.DownloadUrl.empty());
  EXPECT_TRUE(state_.VerText.empty());
  // The local preparation has already happened.
  EXPECT_TRUE(state_.ExecutableMovedAside);
  EXPECT_TRUE(services_.HasFolder(documents_ + u"\\vanto\\Temp"));
}

TEST_F(StartupSequenceTest, EmptyValuesTakeTheDefaults) {
  // Missing and empty read alike.
  services_.values.erase(u"Ver");
  services_.values[u"InfoFName"] = Text(u"");
  server_.AddResponse(OkResponse(kInfoFile));
  Run();
  EXPECT_EQ(state_.VerText, u"0");
  EXPECT_EQ(state_.LocalVersion, 0.0);
  EXPECT_EQ(state_.RegInfoFName, u"newvanto.ini");
  ASSERT_EQ(server_.Requests().size(), 1u);
  EXPECT_EQ(RequestLine(server_.Requests()[0]), "GET /info/newvanto.ini HTTP/1.1");
  EXPECT_EQ(state_.LocalFile, TempDir() + u"newvanto.ini");
  EXPECT_EQ(services_.Count("CloseKey"), 1);
  EXPECT_EQ(host_.handOvers, 1);
}

TEST_F(StartupSequenceTest, AnEmptyServerDirIsTheBuiltInServer) {
  // The built-in server is no test's to ask: InfoFName, read after ServerDir, cannot be read,
  // which ends the sequence before anything is fetched.
  services_.values[u"ServerDir"] = Text(u"");
  services_.values[u"InfoFName"] = RegistryText{RegistryRead::kReadFailed, u""};
  EXPECT_THROW(Run(), ERegistryException);
  EXPECT_EQ(state_.RegServerDir, VANTO_DEFAULT_SERVER_DIR);
  EXPECT_TRUE(state_.DownloadUrl.empty());
  EXPECT_EQ(server_.Connections(), 0);
}

TEST(BuiltInServerTest, IsAnAbsoluteHttpUrlEndingInSlash) {
  const std::u16string url = VANTO_DEFAULT_SERVER_DIR;
  EXPECT_EQ(url.rfind(u"http://", 0), 0u);
  EXPECT_EQ(url.back(), u'/');
}

// Registry values that stop the sequence, and ones that do not.
TEST_F(StartupSequenceTest, RegistryValueTable) {
  const struct {
    const char* name;
    const char16_t* valueName;
    RegistryRead status;
    const char16_t* text;
    char16_t separator;
    const char* errorKind;  // nullptr: no error
    const char16_t* message;
    double localVersion;
  } cases[] = {
      {"Ver wrong type", u"Ver", RegistryRead::kWrongType, u"", u'.', "ERegistryException",
       u"Invalid data type for 'Ver'", 0},
      {"ServerDir wrong type", u"ServerDir", RegistryRead::kWrongType, u"", u'.',
       "ERegistryException", u"Invalid data type for 'ServerDir'", 0},
      {"InfoFName unreadable", u"InfoFName", RegistryRead::kReadFailed, u"", u'.',
       "ERegistryException", u"Failed to get data for 'InfoFName'", 0},
      {"Ver unreadable", u"Ver", RegistryRead::kReadFailed, u"", u'.', "ERegistryException",
       u"Failed to get data for 'Ver'", 0},
      {"Ver dotted", u"Ver", RegistryRead::kText, u"2.5.1", u'.', "EConvertError",
       u"'2.5.1' is not a valid floating point value", 0},
      {"Ver with the wrong separator", u"Ver", RegistryRead::kText, u"1.5", u',', "EConvertError",
       u"'1.5' is not a valid floating point value", 0},
      {"Ver blank", u"Ver", RegistryRead::kText, u" ", u'.', "EConvertError",
       u"' ' is not a valid floating point value", 0},
      {"Ver with spaces", u"Ver", RegistryRead::kText, u" 2.5 ", u'.', nullptr, u"", 2.5},
      {"Ver in the user's format", u"Ver", RegistryRead::kText, u"1,5", u',', nullptr, u"", 1.5},
      {"Ver 1.10", u"Ver", RegistryRead::kText, u"1.10", u'.', nullptr, u"", 1.1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeServices services;
    services.values[u"Ver"] = Text(u"1");
    services.values[u"ServerDir"] = Text(Utf8ToUtf16(server_.BaseUrl()));
    services.values[c.valueName] = RegistryText{c.status, c.text};
    RecordingHost host;
    UpdateRunState state;
    state.DecimalSeparator = c.separator;
    std::string kind;
    std::u16string message;
    const int connectionsBefore = server_.Connections();
    try {
      StartupSequence(state, services, host, fetch_);
    } catch (const Error& error) {
      kind = error.Kind();
      message = error.Message();
    }
    if (c.errorKind) {
      EXPECT_EQ(kind, c.errorKind);
      EXPECT_EQ(message, c.message);
      // The key is closed on the way out and nothing is fetched.
      EXPECT_EQ(services.Count("CloseKey"), 1);
      EXPECT_EQ(services.calls.back(), "CloseKey");
      EXPECT_EQ(server_.Connections(), connectionsBefore);
      EXPECT_EQ(host.handOvers, 0);
    } else {
      // The information file is then asked for (and is missing: 404).
      EXPECT_EQ(kind, "EIdHTTPProtocolException");
      EXPECT_EQ(state.LocalVersion, c.localVersion);
      EXPECT_EQ(server_.Connections(), connectionsBefore + 1);
    }
  }
}

TEST_F(StartupSequenceTest, ServerDirIsUsedAsWritten) {
  services_.values[u"ServerDir"] = Text(Utf8ToUtf16(server_.BaseUrl() + "files"));
  server_.AddResponse(OkResponse(kInfoFile));
  Run();
  ASSERT_EQ(server_.Requests().size(), 1u);
  EXPECT_EQ(RequestLine(server_.Requests()[0]), "GET /filesinfo.ini HTTP/1.1");
  EXPECT_EQ(host_.handOvers, 1);
}

TEST_F(StartupSequenceTest, FailedInformationDownloadStopsBeforeTheHandOver) {
  server_.AddResponse("HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n");
  try {
    Run();
    ADD_FAILURE() << "no error";
  } catch (const EIdHTTPProtocolException& error) {
    EXPECT_EQ(error.ErrorCode(), 500);
  }
  EXPECT_EQ(host_.handOvers, 0);
  EXPECT_EQ(services_.Count("ReadProfileString"), 0);
  EXPECT_TRUE(state_.Info.fileName.empty());
}

// --- Putting the program back at the end of a run -------------------------------------------

TEST(RestoreExecutableTest, Table) {
  const struct {
    const char* name;
    bool movedAside;
    bool leftByEndedRun;  // found aside, with no vanto.exe, when the run started
    bool installerOpened;
    bool executableReappeared;  // something put a new vanto.exe in place meanwhile
    bool expectMove;
    bool expectExecutable;
    bool expectBackup;
  } cases[] = {
      {"nothing installed", true, false, false, false, true, true, false},
      {"installer opened", true, false, true, false, false, false, true},
      {"not moved by this run", false, false, false, false, false, false, true},
      {"not moved, installer opened", false, false, true, false, false, false, true},
      {"new executable already there", true, false, false, true, true, true, true},
      {"left by an ended run, nothing installed", false, true, false, false, true, true, false},
      {"left by an ended run, installer opened", false, true, true, false, false, false, true},
      {"left by an ended run, new executable there", false, true, false, true, true, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeServices services;
    services.AddFile(u"C:\\Program Files\\vanto\\vanto.OLD");
    if (c.executableReappeared) services.AddFile(u"C:\\Program Files\\vanto\\vanto.exe");
    UpdateRunState state;
    state.ExecutablePath = u"C:\\Program Files\\vanto\\vanto.exe";
    state.BackupPath = u"C:\\Program Files\\vanto\\vanto.OLD";
    state.ExecutableMovedAside = c.movedAside;
    state.BackupLeftByEndedRun = c.leftByEndedRun;
    state.InstallerOpened = c.installerOpened;
    RestoreExecutableIfNotUpgraded(state, services);
    EXPECT_EQ(services.Count("Move C:\\Program Files\\vanto\\vanto.OLD -> "
                             "C:\\Program Files\\vanto\\vanto.exe"),
              c.expectMove ? 1 : 0);
    EXPECT_EQ(services.HasFile(state.ExecutablePath), c.expectExecutable);
    EXPECT_EQ(services.HasFile(state.BackupPath), c.expectBackup);
  }
}

// A whole run that installs nothing, from each state the program folder can be found in: the
// program ends up as vanto.exe whenever a copy of it exists, and the backup is never deleted while
// it is the only copy.
TEST(RestoreExecutableTest, AfterTheSequenceFoundNoSettings) {
  const std::vector<std::string> expectMoves = {
      "Move C:\\Program Files\\vanto\\vanto.exe -> C:\\Program Files\\vanto\\vanto.OLD",
      "Move C:\\Program Files\\vanto\\vanto.OLD -> C:\\Program Files\\vanto\\vanto.exe",
  };
  const struct {
    const char* name;
    bool executablePresent;
    bool backupPresent;
  } cases[] = {
      {"executable only", true, false},
      {"backup only, left by an ended run", false, true},
      {"both: the older backup makes way", true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeServices services;
    services.keyPresent = false;
    if (c.executablePresent) services.AddFile(u"C:\\Program Files\\vanto\\vanto.exe");
    if (c.backupPresent) services.AddFile(u"C:\\Program Files\\vanto\\vanto.OLD");
    RecordingHost host;
    UpdateRunState state;
    StartupSequence(state, services, host, net::FetchOptions());
    EXPECT_FALSE(services.HasFile(u"C:\\Program Files\\vanto\\vanto.exe"));
    EXPECT_TRUE(services.HasFile(u"C:\\Program Files\\vanto\\vanto.OLD"));
    RestoreExecutableIfNotUpgraded(state, services);
    std::vector<std::string> moves;
    for (const std::string& call : services.calls) {
      if (call.rfind("Move ", 0) == 0) moves.push_back(call);
    }
    EXPECT_EQ(moves, expectMoves);
    EXPECT_TRUE(services.HasFile(u"C:\\Program Files\\vanto\\vanto.exe"));
    EXPECT_FALSE(services.HasFile(u"C:\\Program Files\\vanto\\vanto.OLD"));
  }
}

}  // namespace
}  // namespace vanto::update
