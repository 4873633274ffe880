#pragma once
// The user manual "KESUSMAN.PDF", opened with the desktop's PDF viewer.

#include <QString>

namespace kestrel {

class DialogHost;

inline constexpr const char* kUserManualName = "KESUSMAN.PDF";

// The manual's path: in the current folder first, then beside the program, then in the installed
// documentation folder. Empty when none holds it.
QString FindUserManual();

// Opens the manual; false when it is missing or the desktop cannot open it.
bool OpenUserManual(DialogHost& host);

}  // namespace kestrel
