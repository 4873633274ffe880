// kestrel [IMAGE|DEVICE]...: the recovery window, with the named disk images attached.

#include <QApplication>

#include "app/kestrel_app.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("kestrel"));
  QApplication::setDesktopFileName(QStringLiteral("kestrel"));
  QStringList arguments = QApplication::arguments();
  arguments.removeFirst();
  kestrel::CKestrelApp app(kestrel::ImageArguments(arguments));
  return app.Run();
}
