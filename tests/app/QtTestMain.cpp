// Window tests run on the offscreen platform with a 1920 x 1080 screen, the
// application object being the program's own.
#include "faces/qt/app/Application.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  QTemporaryDir dir;
  QString config = dir.filePath("screens.json");
  QFile file(config);
  if (!file.open(QIODevice::WriteOnly)) return 1;
  file.write(R"({"screens":[{"name":"s","x":0,"y":0,"width":1920,"height":1080,"logicalDpi":96,"logicalBaseDpi":96,"dpr":1}]})");
  file.close();
  qputenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + config).toUtf8());
  vantrel::Application app(argc, argv);
  return RUN_ALL_TESTS();
}
