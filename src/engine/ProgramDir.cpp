#include "engine/ProgramDir.h"

#include "log/LogOutput.h"
#include "platform/StoredFile.h"
#include "platform/ThisProcess.h"
#include "text/AtomicFile.h"
#include "text/PathRoutines.h"

namespace vantrel {
namespace {

constexpr const char* kStoredFiles[] = {"config.ini", "data.jl"};

std::string Absolute(const std::string& path) {
  if (IsAbsolutePath(path)) return CleanPath(path);
  return CleanPath(JoinPath(platform::CurrentFolder(), path));
}

bool Exists(const std::string& path) { return platform::StampOf(path).has_value(); }

bool AnyStoredFile(const std::string& dir) {
  for (const char* name : kStoredFiles)
    if (Exists(JoinPath(dir, name))) return true;
  return false;
}

// The earlier files, byte for byte, into a data home that has none yet: the
// rules are read there from now on and saved there, and the originals stay.
bool CarryStoredFiles(const std::string& from, const std::string& to, std::string& error) {
  for (const char* name : kStoredFiles) {
    const std::string source = JoinPath(from, name);
    if (!Exists(source)) continue;
    std::string bytes;
    platform::Error e = ReadStoredFile(source, bytes);
    if (!e) e = WriteStoredFile(JoinPath(to, name), bytes);
    if (e) {
      error = "vantrel: cannot carry " + source + " to " + to + ": " + e.Text();
      return false;
    }
  }
  return true;
}

}  // namespace

std::string UserHome() { return platform::UserHome(); }

ProgramDirPlaces SystemProgramDirPlaces() {
  ProgramDirPlaces places;
  places.besideProgram = platform::ExecutableFolder();
  places.besideWritable = !places.besideProgram.empty() && platform::FolderWritable(places.besideProgram);
  places.dataHome = platform::DefaultHome();
  return places;
}

std::optional<std::string> ChooseProgramDir(const std::optional<std::string>& home, const ProgramDirPlaces& places,
                                            std::string& error, std::string& notice) {
  // Files an earlier version kept beside the program stay in use there;
  // otherwise they live in the user's data folder, not in a build or
  // install folder that a rebuild or an upgrade replaces.
  const bool earlierFiles = !home && !places.besideProgram.empty() && AnyStoredFile(places.besideProgram);
  std::string dir = home ? *home : earlierFiles && places.besideWritable ? places.besideProgram : places.dataHome;
  dir = Absolute(dir);
  if (!EnsureDirectoryPath(dir)) {
    error = "vantrel: cannot create the directory " + dir;
    return std::nullopt;
  }
  // Beside a program the user may not write to, the earlier files could be
  // read but never saved: their rules go with the user to the data home.
  if (earlierFiles && !places.besideWritable && !AnyStoredFile(dir)) {
    if (!CarryStoredFiles(places.besideProgram, dir, error)) return std::nullopt;
    notice = "较早版本的设置和规则在 " + CleanPath(places.besideProgram) + ", 该文件夹不能写入; 已复制到 " + dir +
             ", 今后保存在这里。";
  }
  return dir;
}

std::optional<std::string> ChooseProgramDir(const std::optional<std::string>& home, std::string& error,
                                            std::string& notice) {
  return ChooseProgramDir(home, SystemProgramDirPlaces(), error, notice);
}

}  // namespace vantrel
