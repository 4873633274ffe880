#pragma once
// The running window's door for a second start: the first instance listens on a local socket
// beside its lock file; a second start that finds the lock taken sends its command line there
// (the images to attach) and ends, and the first window comes to the front.

#include <QLocalServer>
#include <QObject>
#include <QString>
#include <QStringList>

namespace kestrel {

// The socket's name for this session: the lock file's path with ".socket" for ".lock".
QString InstanceSocketName();

// Sends `images` (absolute paths, possibly none) to the running instance; false when none
// answers.
bool SendToRunningInstance(const QString& socket_name, const QStringList& images);
// Tells the instance that started this one with disk access that the new window is open.
bool SendTakenOver(const QString& socket_name);

class InstanceServer : public QObject {
  Q_OBJECT

 public:
  // Listens on `socket_name`; the caller holds the instance lock, so a socket file left by an
  // instance that died is stale and replaced.
  explicit InstanceServer(const QString& socket_name, QObject* parent = nullptr);
  bool listening() const { return server_.isListening(); }

 signals:
  // A second start asked for the window, with the images it was given.
  void Requested(const QStringList& images);
  // The instance started with disk access has opened its window.
  void TakenOver();

 private:
  void OnConnection();

  QLocalServer server_;
};

}  // namespace kestrel
