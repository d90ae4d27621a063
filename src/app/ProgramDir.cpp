#include "app/ProgramDir.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace vantrel {
namespace {

std::string& Dir() {
  static std::string dir;
  return dir;
}

std::string Clean(const QString& path) {
  QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
  return clean.toStdString();
}

}  // namespace

const std::string& ProgramDir() { return Dir(); }

void SetProgramDirForTesting(const std::string& dir) { Dir() = dir; }

bool InitProgramDir(const std::optional<std::string>& home, std::string& error) {
  QString dir;
  if (home) {
    dir = QString::fromStdString(*home);
  } else {
    // Files an earlier version kept beside the program stay in use there;
    // otherwise they live in the user's data folder, not in a build or
    // install folder that a rebuild or an upgrade replaces.
    QString besideProgram = QCoreApplication::applicationDirPath();
    bool earlierFiles = QFileInfo::exists(besideProgram + "/config.ini") || QFileInfo::exists(besideProgram + "/data.jl");
    if (earlierFiles && QFileInfo(besideProgram).isWritable()) {
      dir = besideProgram;
    } else {
      dir = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/vantrel";
    }
  }
  if (!QDir().mkpath(dir)) {
    error = "vantrel: cannot create the directory " + dir.toStdString();
    return false;
  }
  Dir() = Clean(dir);
  return true;
}

std::string ConfigFilePath() { return ProgramDir() + "/config.ini"; }

}  // namespace vantrel
