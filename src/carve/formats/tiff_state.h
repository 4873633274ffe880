#pragma once
// State of the TIFF / camera RAW carving routine while its file is open.

#include <cstdint>

namespace kestrel {

struct TiffState {
  bool big_endian = false;
  // Named ORF by its header; kept whatever its maker (the "RS" variant and Exif-in-JPEG mark).
  bool orf_name = false;
  bool always_keep = false;
  // Opened by the Kodak DC row: a Kodak maker names it KDC, otherwise DCR.
  bool kodak_dc = false;
  // Bytes still to take: first the header up to the first IFD, then the measured rest.
  uint64_t left = 0;
  bool complete = false;
  // The first IFD has been measured.
  bool ifd_done = false;
  // Source sector of the file's first sector: IFD offsets are relative to it.
  uint64_t start_sector = 0;
  // File offset up to which the size estimate has been applied (first the first-IFD offset).
  uint64_t ifd_base = 0;
  // Thumbnail (tags 513, 514) and maker note (tag 37500) found while measuring.
  uint64_t thumb_offset = 0;
  uint64_t thumb_length = 0;
  uint64_t maker_note_offset = 0;
  // Camera maker found in the Make or Model tag.
  bool maker_nikon = false;
  bool maker_kodak = false;
  bool maker_pro_back = false;
  bool maker_sony = false;
  bool maker_pentax = false;
};

}  // namespace kestrel
