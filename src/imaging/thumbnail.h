#pragma once
// The 125 x 125 thumbnail of a recovered picture: each side of the picture limited to 32..125
// pixels on its own (the aspect ratio is not kept), centred; the placeholder picture when the
// file is not a picture the preview decodes, cannot be read, or is refused by the size guard.

#include <QImage>
#include <QString>

#include "imaging/picture_format.h"

namespace kestrel {

inline constexpr int kThumbnailSide = 125;
inline constexpr int kThumbnailMinSide = 32;

// Where a picture of the given size is drawn inside the thumbnail.
struct ThumbnailPlacement {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool operator==(const ThumbnailPlacement&) const = default;
};

ThumbnailPlacement PlaceThumbnail(int picture_width, int picture_height);

// Draws `picture` stretched to its placement into a transparent 125 x 125 image.
QImage DrawThumbnail(const QImage& picture, const ThumbnailPlacement& placement);

// Decodes the file at `path` as `format` and draws its thumbnail; the placeholder picture when
// there is nothing to draw. Never shows a message.
QImage MakeThumbnail(const QString& path, PictureFormat format);

}  // namespace kestrel
