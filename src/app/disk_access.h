#pragma once
// Starting the window again with disk access: the launcher kestrel-disk-access runs kestrel
// through pkexec, whose polkit action asks for the password; the window never asks for one.

#include <QString>
#include <QStringList>

namespace kestrel {

// The launcher beside the program, else the installed one; "" when neither exists.
QString DiskAccessLauncher();

// Starts the launcher with `images` as arguments; false with the reason in `why`.
bool RestartWithDiskAccess(const QStringList& images, QString* why);

}  // namespace kestrel
