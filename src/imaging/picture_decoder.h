#pragma once
// Guarded decoding of a recovered picture for its thumbnail. A recovered file may be cut short,
// damaged or claim absurd dimensions: the header's size is read first, absurd sizes are refused
// before any pixel is decoded, the decoder's allocations are capped, and the picture is decoded
// straight at the size it is drawn at where the format allows it.

#include <optional>

#include <QImage>
#include <QSize>
#include <QString>

#include "imaging/picture_format.h"

namespace kestrel {

struct DecodeLimits {
  int max_side = 32768;                           // pixels per side a header may claim
  qint64 max_pixels = qint64{100} * 1000 * 1000;  // width x height a header may claim
  int allocation_limit_mb = 256;                  // cap on the decoder's image allocation
};

struct DecodedPicture {
  QSize original_size;  // as the file's header gives it
  QImage image;         // decoded at `original_size` or already at the requested size
};

// The size a picture's header claims, without decoding it; nullopt when it cannot be read.
std::optional<QSize> ReadPictureSize(const QString& path, PictureFormat format);

// Decodes the picture. `target_for` maps the header's size to the size the caller will draw it
// at (the decoder may scale while decoding). Nothing for kNone, kWmf, unreadable or damaged
// files, and sizes beyond `limits`.
std::optional<DecodedPicture> DecodePicture(const QString& path, PictureFormat format,
                                            QSize (*target_for)(QSize),
                                            const DecodeLimits& limits = {});

}  // namespace kestrel
