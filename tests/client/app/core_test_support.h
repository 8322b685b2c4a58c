#pragma once
// The main window's core on stand-ins: a host that records what it is
// told, a profile and a data folder of the test's own, the fake engine.

#include "client/common/ui_services.h"
#include "client/app/main_window_core.h"
#include "fake_engine_parts.h"
#include "platform/profile.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace client_test {

namespace fs = std::filesystem;

struct CoreHost : client::MainWindowHost {
  std::vector<std::wstring> status, captions;
  int rows = 0;
  std::vector<std::function<void()>> posted;
  void PostToGui(std::function<void()> work) override { posted.push_back(std::move(work)); }
  void StatusTextChanged(const std::wstring& text) override { status.push_back(text); }
  void SetCaption(const std::wstring& caption) override { captions.push_back(caption); }
  bool CreateTorrentRow(client::TorrentItem&) override {
    ++rows;
    return true;
  }
  void RowsChanged() override {}
  std::optional<client::SaveFolderChoice> AskSaveFolder(const client::SaveFolderRequest&) override {
    return std::nullopt;
  }
};

// A profile and a data folder of the test's own.
struct CoreFixture : ::testing::Test {
  fs::path dir;
  platform::profile profile{""};
  CoreHost host;
  FakeEngineParts parts;
  client::ScriptedUiServices ui;

  void SetUp() override {
    dir = fs::temp_directory_path() / ("qf_core_" + std::to_string(::getpid()) + "_" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    profile = platform::profile(dir / "Quillfern.ini");
    Put("Torrents", (dir / "Torrents").string());
    Put("DHTPort", 0);
  }
  void TearDown() override { fs::remove_all(dir); }

  void Put(const char* key, int value) { profile.WriteProfileInt("Configuration", key, value); }
  void Put(const char* key, const std::string& value) { profile.WriteProfileString("Configuration", key, value); }

  std::unique_ptr<client::MainWindowCore> Make(bool platform_flag = true) {
    auto core = std::make_unique<client::MainWindowCore>(profile, host, parts, ui, platform_flag);
    core->SetClock([] { return std::time_t(0); });
    return core;
  }
  // The calls from the first limit on.
  std::vector<std::string> LimitCalls() const {
    auto at =
        std::find_if(parts.log.begin(), parts.log.end(), [](const std::string& s) { return s.starts_with("upload"); });
    return {at, parts.log.end()};
  }
};

}  // namespace client_test
