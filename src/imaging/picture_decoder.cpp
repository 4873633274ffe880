#include "imaging/picture_decoder.h"

#include <QImageReader>

namespace kestrel {
namespace {

bool SizeIsAcceptable(QSize size, const DecodeLimits& limits) {
  if (!size.isValid() || size.isEmpty()) return false;
  if (size.width() > limits.max_side || size.height() > limits.max_side) return false;
  return qint64{size.width()} * size.height() <= limits.max_pixels;
}

void Configure(QImageReader& reader, PictureFormat format, const DecodeLimits& limits) {
  reader.setFormat(ReaderFormatName(format));
  // The file is decoded as the format its name gives, or not at all.
  reader.setAutoDetectImageFormat(false);
  reader.setAllocationLimit(limits.allocation_limit_mb);
}

}  // namespace

std::optional<QSize> ReadPictureSize(const QString& path, PictureFormat format) {
  if (ReaderFormatName(format) == nullptr) return std::nullopt;
  QImageReader reader(path);
  Configure(reader, format, DecodeLimits{});
  QSize size = reader.size();
  if (!size.isValid()) return std::nullopt;
  return size;
}

std::optional<DecodedPicture> DecodePicture(const QString& path, PictureFormat format,
                                            QSize (*target_for)(QSize),
                                            const DecodeLimits& limits) {
  if (ReaderFormatName(format) == nullptr) return std::nullopt;
  QImageReader reader(path);
  Configure(reader, format, limits);
  if (!reader.canRead()) return std::nullopt;
  DecodedPicture decoded;
  decoded.original_size = reader.size();
  // Every reader Kestrel uses gives the size from the header; one that cannot is not trusted.
  if (!SizeIsAcceptable(decoded.original_size, limits)) return std::nullopt;
  const QSize target = target_for(decoded.original_size);
  if (target.isValid() && reader.supportsOption(QImageIOHandler::ScaledSize)) {
    reader.setScaledSize(target);
  }
  if (!reader.read(&decoded.image) || decoded.image.isNull()) return std::nullopt;
  return decoded;
}

}  // namespace kestrel
