#include "app/instance_channel.h"

#include <QLocalSocket>

#include "app/single_instance.h"

namespace kestrel {
namespace {

constexpr int kWaitMs = 3000;
const QByteArray kGreeting = QByteArrayLiteral("kestrel-raise\n");
const QByteArray kTakenOver = QByteArrayLiteral("kestrel-taken-over\n");

// Sends one message (its first line names it, an empty line ends it); false when none answers.
bool SendMessage(const QString& socket_name, const QByteArray& message) {
  QLocalSocket socket;
  socket.connectToServer(socket_name);
  if (!socket.waitForConnected(kWaitMs)) return false;
  socket.write(message);
  if (!socket.waitForBytesWritten(kWaitMs)) return false;
  socket.disconnectFromServer();
  if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(kWaitMs);
  return true;
}

}  // namespace

QString InstanceSocketName() {
  QString path = QString::fromStdString(InstanceLock::DefaultPath());
  if (path.endsWith(QStringLiteral(".lock"))) path.chop(5);
  return path + QStringLiteral(".socket");
}

bool SendToRunningInstance(const QString& socket_name, const QStringList& images) {
  QByteArray message = kGreeting;
  for (const QString& image : images) message += image.toUtf8() + '\n';
  return SendMessage(socket_name, message + '\n');
}

bool SendTakenOver(const QString& socket_name) {
  return SendMessage(socket_name, kTakenOver + '\n');
}

InstanceServer::InstanceServer(const QString& socket_name, QObject* parent) : QObject(parent) {
  server_.setSocketOptions(QLocalServer::UserAccessOption);
  QLocalServer::removeServer(socket_name);
  server_.listen(socket_name);
  connect(&server_, &QLocalServer::newConnection, this, &InstanceServer::OnConnection);
}

void InstanceServer::OnConnection() {
  while (QLocalSocket* socket = server_.nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    // The message ends with an empty line; it is read whole once it has arrived.
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
      const QByteArray data = socket->peek(1 << 20);
      if (!data.endsWith("\n\n") && !data.endsWith(kGreeting + '\n')) return;
      socket->readAll();
      if (data.startsWith(kTakenOver)) emit TakenOver();
      if (!data.startsWith(kGreeting)) return;
      QStringList images;
      for (const QByteArray& line : data.mid(kGreeting.size()).split('\n')) {
        if (!line.isEmpty()) images << QString::fromUtf8(line);
      }
      emit Requested(images);
    });
  }
}

}  // namespace kestrel
