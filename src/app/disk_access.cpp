#include "app/disk_access.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include "app/instance_channel.h"

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

QString TakeOverArgument(const QString& socket_name) {
  return QStringLiteral("--take-over-from=") + socket_name;
}

QString TakeOverSocket(const QString& argument) {
  const QString prefix = TakeOverArgument({});
  return argument.startsWith(prefix) ? argument.mid(prefix.size()) : QString();
}

namespace {

// Why a launcher that ended before the new window opened did not start it.
QString WhyLauncherEnded(const QProcess& process) {
  if (process.exitStatus() != QProcess::NormalExit) {
    return QStringLiteral("the program with disk access ended unexpectedly");
  }
  switch (process.exitCode()) {
    case 126:
      return QStringLiteral("the password prompt was cancelled");
    case 127:
      return QStandardPaths::findExecutable(QStringLiteral("pkexec")).isEmpty()
                 ? QStringLiteral("pkexec is not installed")
                 : QStringLiteral("the system did not authorise disk access");
    default:
      return QStringLiteral(
                 "the program with disk access ended (exit status %1) without "
                 "opening its window")
          .arg(process.exitCode());
  }
}

}  // namespace

bool RestartWithDiskAccess(const QStringList& images, QString* why, const QString& launcher) {
  if (launcher.isEmpty()) {
    *why = QStringLiteral("kestrel-disk-access is not installed");
    return false;
  }
  const QString socket_name = InstanceSocketName();
  InstanceServer door(socket_name);
  // Once the new window has taken over, its launcher must outlive this instance: the process
  // object is then never destroyed, and the launcher shares no pipe with this instance.
  auto* process = new QProcess;
  process->setProgram(launcher);
  process->setArguments(QStringList{TakeOverArgument(socket_name)} + images);
  process->setProcessChannelMode(QProcess::ForwardedChannels);
  process->setStandardInputFile(QProcess::nullDevice());
  bool taken_over = false;
  QEventLoop waiting;
  QObject::connect(&door, &InstanceServer::TakenOver, &waiting, [&] {
    taken_over = true;
    waiting.quit();
  });
  QObject::connect(process, &QProcess::finished, &waiting, &QEventLoop::quit);
  QObject::connect(process, &QProcess::errorOccurred, &waiting, [&](QProcess::ProcessError error) {
    if (error == QProcess::FailedToStart) waiting.quit();
  });
  process->start();
  if (process->state() != QProcess::NotRunning) waiting.exec();
  if (taken_over) {
    // Kept where it stays reachable and is never destroyed: destroying it would end the launcher.
    static auto* const kept_launchers = new QList<QProcess*>;
    kept_launchers->append(process);
    return true;
  }
  *why = process->error() == QProcess::FailedToStart
             ? launcher + QStringLiteral(" could not be started")
             : WhyLauncherEnded(*process);
  delete process;
  return false;
}

}  // namespace kestrel
