#include "engine/Settings.h"

#include "text/IniFile.h"

namespace vantrel {
namespace {

const char* Bool(bool on) { return on ? "真" : "假"; }

}  // namespace

std::string TypeCaption(DispatchHost::TypeBox box) { return std::string(EventKindName(KindOfTypeBox(box))); }

int SettingsStore::Load() {
  const int error = SettingsFileError(file_.Path());
  auto read = [&](const char* section, const std::string& key, const char* fallback) {
    return file_.Read(section, key, fallback) == "真";
  };
  for (int i = 0; i < DispatchHost::kTypeBoxCount; ++i)
    settings_.types[i] = read(kTypes, TypeCaption(static_cast<DispatchHost::TypeBox>(i)), "真");
  settings_.customPath = read(kMonitor, "自定义路径", "真");
  settings_.wholeDisk = read(kMonitor, "全盘监控", "");
  settings_.prompts = read(kMonitor, "托盘提示", "真");
  settings_.saveLog = read(kMonitor, "保存日志", "");
  settings_.trashDeletions = read(kMonitor, "删除到回收站", "");
  return error;
}

bool SettingsStore::Write(const char* section, const std::string& key, bool on) {
  return file_.Write(section, key, Bool(on));
}

bool SettingsStore::SetType(DispatchHost::TypeBox box, bool on) {
  settings_.types[box] = on;
  return Write(kTypes, TypeCaption(box), on);
}

bool SettingsStore::SetPrompts(bool on) {
  settings_.prompts = on;
  return Write(kMonitor, "托盘提示", on);
}

bool SettingsStore::SetSaveLog(bool on) {
  settings_.saveLog = on;
  return Write(kMonitor, "保存日志", on);
}

bool SettingsStore::SetWholeDisk(bool on) {
  settings_.wholeDisk = on;
  settings_.customPath = !on;
  bool ok = Write(kMonitor, "全盘监控", on);
  return Write(kMonitor, "自定义路径", !on) && ok;
}

bool SettingsStore::SetCustomPath(bool on) {
  settings_.customPath = on;
  settings_.wholeDisk = !on;
  bool ok = Write(kMonitor, "自定义路径", on);
  return Write(kMonitor, "全盘监控", !on) && ok;
}

std::string SettingsStore::WindowSize() const { return file_.Read("程序尺寸", "XY", "1010*800"); }

bool SettingsStore::SetWindowSize(int width, int height) {
  return file_.Write("程序尺寸", "XY", std::to_string(width) + "*" + std::to_string(height));
}

bool SettingsStore::SetColour(const char* key, std::uint32_t colour) {
  return file_.Write("日志颜色", std::string(" ") + key, std::to_string(colour));
}

}  // namespace vantrel
