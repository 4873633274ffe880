// kestrel [IMAGE|DEVICE]...: the recovery window, with the named disk images attached.

#include <QApplication>

#include "app/disk_access.h"
#include "app/kestrel_app.h"
#include "platform/heap_tuning.h"

int main(int argc, char** argv) {
  kestrel::KeepFreedHeapForReuse();
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("kestrel"));
  QApplication::setDesktopFileName(QStringLiteral("kestrel"));
  QStringList arguments = QApplication::arguments();
  arguments.removeFirst();
  // Started with disk access by a window that waits to hear that this one is open.
  QString take_over_from;
  if (!arguments.isEmpty() && !kestrel::TakeOverSocket(arguments.front()).isEmpty()) {
    take_over_from = kestrel::TakeOverSocket(arguments.takeFirst());
  }
  kestrel::CKestrelApp app(kestrel::ImageArguments(arguments), take_over_from);
  return app.Run();
}
