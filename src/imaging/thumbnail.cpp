#include "imaging/thumbnail.h"

#include <algorithm>

#include <QPainter>

#include "imaging/picture_decoder.h"
#include "imaging/placeholder_picture.h"

namespace kestrel {
namespace {

QSize TargetSize(QSize picture) {
  const ThumbnailPlacement placement = PlaceThumbnail(picture.width(), picture.height());
  return {placement.width, placement.height};
}

}  // namespace

ThumbnailPlacement PlaceThumbnail(int picture_width, int picture_height) {
  ThumbnailPlacement placement;
  placement.width = std::clamp(picture_width, kThumbnailMinSide, kThumbnailSide);
  placement.height = std::clamp(picture_height, kThumbnailMinSide, kThumbnailSide);
  placement.x = (kThumbnailSide - placement.width) / 2;
  placement.y = (kThumbnailSide - placement.height) / 2;
  return placement;
}

QImage DrawThumbnail(const QImage& picture, const ThumbnailPlacement& placement) {
  QImage thumbnail(kThumbnailSide, kThumbnailSide, QImage::Format_ARGB32_Premultiplied);
  thumbnail.fill(Qt::transparent);
  QPainter painter(&thumbnail);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(QRect(placement.x, placement.y, placement.width, placement.height), picture);
  return thumbnail;
}

QImage MakeThumbnail(const QString& path, PictureFormat format) {
  std::optional<DecodedPicture> decoded = DecodePicture(path, format, &TargetSize);
  if (!decoded) return PlaceholderPicture();
  const QSize size = decoded->original_size;
  return DrawThumbnail(decoded->image, PlaceThumbnail(size.width(), size.height()));
}

}  // namespace kestrel
