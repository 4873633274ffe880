#pragma once
// The program's pictures, drawn by code: the application icon, the About and Help pictures, the
// "My Computer" and hard-disk icons of the source selection and the splash bitmap. The build
// writes them to files too (kestrel-artwork), for the desktop entry and the icon files that the
// source selection looks up by name.

#include <QIcon>
#include <QImage>
#include <QString>

namespace kestrel {

QImage DrawAppIcon(int side);
QImage DrawAboutPicture(int side);
QImage DrawHelpPicture(int side);
QImage DrawComputerPicture(int side);
QImage DrawHardDiskPicture(int side);
// 500 x 300 pixels.
QImage DrawSplashBitmap();

// The application icon at the sizes a window manager asks for.
QIcon AppIcon();

// An icon file looked up by its relative name: in the current folder first, then beside the
// program, then in the installed data folder; drawn by `fallback` when none is found.
QIcon NamedIcon(const QString& file_name, QImage (*fallback)(int side));

}  // namespace kestrel
