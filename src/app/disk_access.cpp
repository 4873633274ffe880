#include "app/disk_access.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

#ifndef KESTREL_BIN_DIR
#define KESTREL_BIN_DIR "/usr/local/bin"
#endif

namespace kestrel {

QString DiskAccessLauncher() {
  const QString name = QStringLiteral("kestrel-disk-access");
  for (const QString& folder :
       {QCoreApplication::applicationDirPath(), QStringLiteral(KESTREL_BIN_DIR)}) {
    const QFileInfo launcher(QDir(folder).filePath(name));
    if (launcher.isFile() && launcher.isExecutable()) return launcher.absoluteFilePath();
  }
  return {};
}

bool RestartWithDiskAccess(const QStringList& images, QString* why) {
  const QString launcher = DiskAccessLauncher();
  if (launcher.isEmpty()) {
    *why = QStringLiteral("kestrel-disk-access is not installed");
    return false;
  }
  if (!QProcess::startDetached(launcher, images)) {
    *why = launcher + QStringLiteral(" could not be started");
    return false;
  }
  return true;
}

}  // namespace kestrel
