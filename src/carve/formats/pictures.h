#pragma once
// GIF: the file is walked block by block from its header (logical screen descriptor, global
// colour table, extensions and images with their data sub-blocks) to the trailer 0x3B; the file
// ends right after it. A start whose blocks are not a GIF's is refused. (JPEG is walked by its
// structure too: carve/formats/jpeg.h.)

#include <cstdint>

#include "carve/format.h"
#include "carve/formats/zip.h"
#include "carve/signature.h"

namespace kestrel {

// A safety bound only: a GIF whose walk runs this long without its trailer (a sub-block chain
// that never ends) is refused. Real pictures and animations stay far below 256 MiB.
inline constexpr uint64_t kGifSizeCap = uint64_t{256} << 20;

struct GifState {
  enum class Part : uint8_t {
    kHeader,     // the header, the logical screen descriptor and the global colour table
    kBlock,      // an introducer: extension (21), image (2C) or trailer (3B)
    kSubBlocks,  // a chain of data sub-blocks ending with a zero size byte
  };
  Part part = Part::kHeader;
  uint64_t next = 0;      // file offset where the walk goes on
  bool image = false;     // an image descriptor was seen
  bool complete = false;  // the trailer was reached
};

GifState StartGif();
// Takes every sector whole until the trailer; then the file ends right after it.
Fed FeedGif(GifState& state, const CarveView& view);
Kept FinishGif(const GifState& state);

template <>
struct FormatOps<GifState> : Ops<FeedGif, FinishGif> {};

Match MatchGif(const RowInput& r, Start* s);
inline constexpr SignatureRow kGifRow{.test = MatchGif,
                                      .gate = {0, "G"},
                                      .guarded_by = {&kZipGuard},
                                      .selection = Bits({kGif}),
                                      .extension = "GIF",
                                      .guards = {}};

}  // namespace kestrel
