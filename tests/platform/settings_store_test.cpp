#include "platform/settings_store.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

using testing::ScopedEnv;
using testing::TempDir;

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

TEST(SettingsStoreTest, ValuesSurviveAReopenAndKeepTheirTypes) {
  TempDir dir;
  std::string path = dir / "config/kestrel/registry.reg";  // folders do not exist yet
  SettingsStore store(path);
  EXPECT_FALSE(store.KeyExists());
  EXPECT_FALSE(store.GetString("Default Folder"));
  ASSERT_TRUE(store.CreateKey());
  EXPECT_TRUE(store.KeyExists());

  ASSERT_TRUE(store.SetString("Default Folder", "/home/u/Saved"));
  ASSERT_TRUE(store.SetByte("Scan File", 1));
  ASSERT_TRUE(store.SetBinary("Blob", {0x00, 0x7f, 0xff}));
  ASSERT_TRUE(store.SetByte("jpg", 0));
  ASSERT_TRUE(store.SetByte("JPG", 1));  // names compare without case: one value

  SettingsStore reopened(path);
  EXPECT_EQ(reopened.GetString("Default Folder"), "/home/u/Saved");
  EXPECT_EQ(reopened.GetByte("Scan File"), 1);
  EXPECT_EQ(reopened.GetBinary("Blob"), (std::vector<uint8_t>{0x00, 0x7f, 0xff}));
  EXPECT_EQ(reopened.GetByte("Jpg"), 1);
  // A value read as the wrong kind, or never written, is missing.
  EXPECT_FALSE(reopened.GetByte("Default Folder"));
  EXPECT_FALSE(reopened.GetString("Scan File"));
  EXPECT_FALSE(reopened.GetByte("ZIP"));

  EXPECT_EQ(ReadText(path),
            "Windows Registry Editor Version 5.00\n\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Quillmark\\Kestrel V3\\Settings]\n"
            "\"Default Folder\"=\"/home/u/Saved\"\n"
            "\"Scan File\"=hex:01\n"
            "\"Blob\"=hex:00,7f,ff\n"
            "\"jpg\"=hex:01\n\n");

  EXPECT_TRUE(reopened.DeleteValue("Scan File"));
  EXPECT_FALSE(reopened.GetByte("Scan File"));
  EXPECT_FALSE(reopened.DeleteValue("Scan File"));
  EXPECT_EQ(reopened.GetString("Default Folder"), "/home/u/Saved");
  EXPECT_TRUE(reopened.TakeCorruptionNotice().empty());
}

TEST(SettingsStoreTest, EscapesAndReadsRegeditText) {
  TempDir dir;
  std::string path = dir / "registry.reg";
  // What regedit or a person may write: BOM, CRLF, comments, other keys, dword, a hex list
  // continued on the next line, escaped quotes and backslashes.
  WriteText(path,
            "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n"
            "; kept by hand\r\n"
            "[HKEY_CURRENT_USER\\Other]\r\n"
            "\"Keep\"=\"me\"\r\n\r\n"
            "[hkey_local_machine\\software\\quillmark\\kestrel v3\\settings]\r\n"
            "\"Default Folder\"=\"C:\\\\Recover \\\"new\\\"\"\r\n"
            "\"Count\"=dword:0000002a\r\n"
            "\"Long\"=hex:01,02,\\\r\n  03,04\r\n"
            "@=\"default\"\r\n");
  SettingsStore store(path);
  EXPECT_TRUE(store.KeyExists());
  EXPECT_EQ(store.GetString("Default Folder"), "C:\\Recover \"new\"");
  EXPECT_EQ(store.GetByte("Count"), 0x2a);
  EXPECT_EQ(store.GetBinary("Long"), (std::vector<uint8_t>{1, 2, 3, 4}));
  EXPECT_EQ(store.GetString(""), "default");

  ASSERT_TRUE(store.SetString("Odd \"name\\", "a\\b\"c"));
  std::string text = ReadText(path);
  EXPECT_NE(text.find("\"Odd \\\"name\\\\\"=\"a\\\\b\\\"c\"\n"), std::string::npos) << text;
  EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Other]\n\"Keep\"=\"me\"\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\"Count\"=dword:0000002a\n"), std::string::npos) << text;
  EXPECT_EQ(SettingsStore(path).GetString("Odd \"name\\"), "a\\b\"c");
  EXPECT_EQ(SettingsStore(path).GetString("Default Folder"), "C:\\Recover \"new\"");
}

TEST(SettingsStoreTest, RefusesTextThatWouldBreakTheLineAndKeepsTheOldValue) {
  TempDir dir;
  SettingsStore store(dir / "registry.reg");
  ASSERT_TRUE(store.SetString("Default Folder", "/old"));
  EXPECT_FALSE(store.SetString("Default Folder", "/new\nline"));
  EXPECT_FALSE(store.SetString("Default Folder", std::string("/nul\0x", 6)));
  EXPECT_FALSE(store.SetByte("bad\rname", 1));
  EXPECT_EQ(store.GetString("Default Folder"), "/old");
}

TEST(SettingsStoreTest, CorruptFileIsMovedAsideNeverOverwritten) {
  TempDir dir;
  std::string path = dir / "registry.reg";
  const std::string garbage = "Windows Registry Editor Version 5.00\n\n\"orphan\"=\"value\"\n";
  WriteText(path, garbage);

  SettingsStore store(path);
  EXPECT_FALSE(store.GetString("orphan"));
  std::string aside = store.TakeCorruptionNotice();
  EXPECT_TRUE(std::regex_match(aside, std::regex(".*/registry\\.reg\\.corrupt-\\d{8}-\\d{6}")))
      << aside;
  EXPECT_EQ(ReadText(aside), garbage);
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_TRUE(store.TakeCorruptionNotice().empty());  // told once

  // A second corrupt file within the same second gets a name of its own.
  WriteText(path, "not a registry file at all");
  ASSERT_TRUE(store.SetString("Default Folder", "/fresh"));  // a write also moves it aside
  std::string second = store.TakeCorruptionNotice();
  EXPECT_FALSE(second.empty());
  EXPECT_NE(second, aside);
  EXPECT_EQ(ReadText(second), "not a registry file at all");
  EXPECT_EQ(ReadText(aside), garbage);
  EXPECT_EQ(SettingsStore(path).GetString("Default Folder"), "/fresh");
}

TEST(SettingsStoreTest, ConcurrentWritersFromTwoProcessesLoseNoWrite) {
  TempDir dir;
  std::string path = dir / "registry.reg";
  constexpr int kWrites = 60;
  pid_t children[2];
  for (int child = 0; child < 2; ++child) {
    children[child] = fork();
    ASSERT_GE(children[child], 0);
    if (children[child] == 0) {
      SettingsStore store(path);
      bool ok = true;
      for (int i = 0; i < kWrites; ++i) {
        ok = store.SetByte("p" + std::to_string(child) + "-" + std::to_string(i),
                           static_cast<uint8_t>(i)) &&
             ok;
      }
      _exit(ok ? 0 : 1);
    }
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  SettingsStore store(path);
  for (int child = 0; child < 2; ++child) {
    for (int i = 0; i < kWrites; ++i) {
      EXPECT_EQ(store.GetByte("p" + std::to_string(child) + "-" + std::to_string(i)), i)
          << "child " << child << " write " << i;
    }
  }
  EXPECT_TRUE(store.TakeCorruptionNotice().empty());
}

TEST(SettingsStoreTest, DefaultPathFollowsTheEnvironment) {
  {
    ScopedEnv registry("KESTREL_REGISTRY", "/x/my.reg");
    EXPECT_EQ(SettingsStore::DefaultPath(), "/x/my.reg");
  }
  ScopedEnv registry("KESTREL_REGISTRY", nullptr);
  ScopedEnv home("HOME", "/home/someone");
  {
    ScopedEnv config("XDG_CONFIG_HOME", "/cfg");
    EXPECT_EQ(SettingsStore::DefaultPath(), "/cfg/kestrel/registry.reg");
  }
  ScopedEnv config("XDG_CONFIG_HOME", "relative/ignored");
  EXPECT_EQ(SettingsStore::DefaultPath(), "/home/someone/.config/kestrel/registry.reg");
}

}  // namespace
}  // namespace kestrel
