// kestrel: the recovery window. The command line is not interpreted.

#include <QApplication>

#include "app/kestrel_app.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("kestrel"));
  QApplication::setDesktopFileName(QStringLiteral("kestrel"));
  kestrel::CKestrelApp app;
  return app.Run();
}
