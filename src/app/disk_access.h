#pragma once
// Starting the window again with disk access: the launcher kestrel-disk-access runs kestrel
// through pkexec, whose polkit action asks for the password; the window never asks for one.

#include <QString>
#include <QStringList>

namespace kestrel {

// The launcher beside the program, else the installed one; "" when neither exists.
QString DiskAccessLauncher();

// The argument that asks a window started with disk access to report on `socket_name` once it
// is open: "--take-over-from=SOCKET".
QString TakeOverArgument(const QString& socket_name);
// The socket of a take-over argument, "" when `argument` is none.
QString TakeOverSocket(const QString& argument);

// Starts `launcher` with the take-over argument and `images`, and waits (processing events)
// until the new window reports on this instance's socket: true. False, with the reason in
// `why`, when the launcher is missing or ends first (no pkexec, the password prompt cancelled,
// not authorised); the launcher then runs no more and this instance stays.
bool RestartWithDiskAccess(const QStringList& images, QString* why,
                           const QString& launcher = DiskAccessLauncher());

}  // namespace kestrel
