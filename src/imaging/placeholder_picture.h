#pragma once
// The picture the thumbnail view shows for a file it cannot preview: 125 x 125 pixels, drawn by
// the program itself.

#include <QImage>

namespace kestrel {

QImage PlaceholderPicture();

}  // namespace kestrel
