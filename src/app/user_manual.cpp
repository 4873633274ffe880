#include "app/user_manual.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include "app/dialog_host.h"

#ifndef KESTREL_DOC_DIR
#define KESTREL_DOC_DIR "/usr/local/share/doc/kestrel"
#endif

namespace kestrel {

QString FindUserManual() {
  const QStringList folders = {QDir::currentPath(), QCoreApplication::applicationDirPath(),
                               QStringLiteral(KESTREL_DOC_DIR)};
  for (const QString& folder : folders) {
    const QString path = QDir(folder).absoluteFilePath(QString::fromLatin1(kUserManualName));
    if (QFileInfo(path).isFile()) return path;
  }
  return {};
}

bool OpenUserManual(DialogHost& host) {
  const QString path = FindUserManual();
  if (path.isEmpty()) return false;
  return host.OpenUrl(QUrl::fromLocalFile(path));
}

}  // namespace kestrel
