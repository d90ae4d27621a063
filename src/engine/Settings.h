#pragma once
// The user's settings as a typed record, mirrored in config.ini: each change
// is written at once, and every key is read at start (and again when the
// file changed under the program). Keys are the captions of the window's
// boxes; booleans are "真" and "假", and only "真" reads as true.
#include "monitor/EventFilter.h"
#include "text/IniFile.h"

#include <array>
#include <string>

namespace vantrel {

struct Settings {
  // Indexed by DispatchHost::TypeBox.
  std::array<bool, DispatchHost::kTypeBoxCount> types{};
  bool wholeDisk = false;
  bool customPath = false;
  bool prompts = false;
  bool saveLog = false;
  // Rules' deletions go to the trash (the Recycle Bin) instead of for good:
  // [监控设置] 删除到回收站=真, written by hand; absent, as before, for good.
  bool trashDeletions = false;
  // With both mode boxes ticked the custom-path box decides.
  bool CustomPathMode() const { return customPath; }
};

// The captions the event-type boxes carry, which name their keys and the
// events they let through.
std::string TypeCaption(DispatchHost::TypeBox box);

class SettingsStore {
 public:
  static constexpr const char* kTypes = "监控类型";
  static constexpr const char* kMonitor = "监控设置";

  explicit SettingsStore(std::string file) : file_(std::move(file)) {}
  const std::string& File() const { return file_.Path(); }
  // config.ini itself, for what else the engine keeps there.
  SettingsFile& Config() { return file_; }
  const SettingsFile& Config() const { return file_; }
  const Settings& Get() const { return settings_; }

  // Reads every key: a missing key takes its default, as on a first start.
  // 0, or why the file exists but cannot be read (the defaults are used and
  // the file stays as it is).
  int Load();

  // Each writes its key at once; false (errno set) when the file could not
  // be written, the setting being changed all the same.
  bool SetType(DispatchHost::TypeBox box, bool on);
  bool SetPrompts(bool on);
  bool SetSaveLog(bool on);
  // The two mode boxes are a pair: each switch writes both keys.
  bool SetWholeDisk(bool on);
  bool SetCustomPath(bool on);

  std::string WindowSize() const;
  bool SetWindowSize(int width, int height);
  // A colour of the log, written with the leading blank earlier versions wrote.
  bool SetColour(const char* key, std::uint32_t colour);

 private:
  bool Write(const char* section, const std::string& key, bool on);
  SettingsFile file_;
  Settings settings_;
};

}  // namespace vantrel
