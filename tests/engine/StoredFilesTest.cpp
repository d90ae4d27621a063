// data.jl and config.ini are the same bytes whichever system wrote them:
// both builds write the files kept in tests/data (made by the Linux build)
// from the same changes, and read them and save them back unchanged.
#include "engine/RuleStore.h"
#include "engine/Settings.h"
#include "text/AtomicFile.h"
#include "text/PathRoutines.h"

#include "TestDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace vantrel::embedded {
extern const unsigned char linux_data_jl[];
extern const std::size_t linux_data_jl_size;
extern const unsigned char linux_config_ini[];
extern const std::size_t linux_config_ini_size;
}  // namespace vantrel::embedded

namespace vantrel {
namespace {

std::string Bytes(const unsigned char* data, std::size_t size) { return {reinterpret_cast<const char*>(data), size}; }

std::string FileBytes(const std::string& path) {
  std::string bytes;
  EXPECT_TRUE(ReadWholeFile(path, bytes)) << path;
  return bytes;
}

void PutFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(PathFromUtf8(path), std::ios::binary);
  out << bytes;
}

RuleStore::Host QuietHost() {
  RuleStore::Host host;
  host.customPathMode = [] { return false; };
  host.wholeDiskMode = [] { return true; };
  host.prompt = [](const std::string&, const std::string& text, bool error) {
    if (error) ADD_FAILURE() << text;
  };
  host.ask = [](const std::string&, const std::string&) { return true; };
  host.changed = [] {};
  return host;
}

// The same user actions on either system.
void MakeRules(RuleStore& rules) {
  rules.Load();
  rules.Add("创建文件", "D:\\下载\\报告", "【复制文件】E:\\备份");
  rules.Add("重命名文件", "/home/用户/文档", "【移动文件】/home/用户/归档 😀");
  rules.Add("删除目录", std::string(GlobalPathMarker), "【删除目录】");
  rules.Add("更新文件", "C:\\Program Files (x86)\\a;b", "【执行程序】C:\\工具\\记录.exe§\"#路径\" #文件名§1");
  rules.SetEnabledByUser(1, false);
}

void MakeSettings(SettingsStore& settings) {
  settings.Load();
  settings.SetType(DispatchHost::FileCreatedBox, true);
  settings.SetType(DispatchHost::FolderDeletedBox, true);
  settings.SetType(DispatchHost::FileRenamedBox, false);
  settings.SetWholeDisk(false);
  settings.SetCustomPath(true);
  settings.SetPrompts(true);
  settings.SetSaveLog(true);
  settings.SetWindowSize(1024, 640);
  settings.SetColour("创建文件", 0x00ff8000);
}

TEST(StoredFiles, BothSystemsWriteTheSameBytes) {
  TestDir temp;
  RuleStore rules(JoinPath(temp.Path(), "data.jl"), QuietHost());
  MakeRules(rules);
  SettingsStore settings(JoinPath(temp.Path(), "config.ini"));
  MakeSettings(settings);
  const std::string data = FileBytes(rules.File()), config = FileBytes(settings.File());
  // Where the kept files are made again after a deliberate change of format.
  if (const char* out = std::getenv("VANTREL_WRITE_STORED_FILES")) {
    PutFile(JoinPath(out, "linux-data.jl"), data);
    PutFile(JoinPath(out, "linux-config.ini"), config);
  }
  EXPECT_EQ(data, Bytes(embedded::linux_data_jl, embedded::linux_data_jl_size));
  EXPECT_EQ(config, Bytes(embedded::linux_config_ini, embedded::linux_config_ini_size));
}

TEST(StoredFiles, FilesOfTheOtherSystemAreReadAndSavedBackByteForByte) {
  TestDir temp;
  const std::string dataJl = Bytes(embedded::linux_data_jl, embedded::linux_data_jl_size);
  const std::string configIni = Bytes(embedded::linux_config_ini, embedded::linux_config_ini_size);
  PutFile(JoinPath(temp.Path(), "data.jl"), dataJl);
  PutFile(JoinPath(temp.Path(), "config.ini"), configIni);

  RuleStore rules(JoinPath(temp.Path(), "data.jl"), QuietHost());
  rules.Load();
  ASSERT_EQ(rules.Rules().size(), 4u);
  EXPECT_EQ(rules.Rules()[0].monitoredPath, "D:\\下载\\报告");
  EXPECT_EQ(rules.Rules()[1].actionText, "【移动文件】/home/用户/归档 😀");
  EXPECT_FALSE(rules.Rules()[1].enabled);
  EXPECT_EQ(rules.Rules()[3].actionText, "【执行程序】C:\\工具\\记录.exe§\"#路径\" #文件名§1");
  ASSERT_TRUE(rules.Save());
  EXPECT_EQ(FileBytes(rules.File()), dataJl);

  SettingsStore settings(JoinPath(temp.Path(), "config.ini"));
  ASSERT_EQ(settings.Load(), 0);
  const Settings& s = settings.Get();
  EXPECT_TRUE(s.types[DispatchHost::FileCreatedBox]);
  EXPECT_FALSE(s.types[DispatchHost::FileRenamedBox]);
  EXPECT_TRUE(s.customPath && s.prompts && s.saveLog && !s.wholeDisk);
  EXPECT_EQ(settings.WindowSize(), "1024*640");
  // Every key the file holds written again with what was read.
  for (auto box : {DispatchHost::FileCreatedBox, DispatchHost::FolderDeletedBox, DispatchHost::FileRenamedBox})
    settings.SetType(box, s.types[box]);
  settings.SetCustomPath(s.customPath);
  settings.SetPrompts(s.prompts);
  settings.SetSaveLog(s.saveLog);
  settings.SetWindowSize(1024, 640);
  settings.SetColour("创建文件", 0x00ff8000);
  EXPECT_EQ(FileBytes(settings.File()), configIni);
}

}  // namespace
}  // namespace vantrel
