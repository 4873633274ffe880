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
  // Offset of the first IFD, from the header.
  uint64_t first_ifd = 0;
  // The file has been measured from its IFDs; `left` bytes of it are still to take.
  bool measured = false;
  uint64_t left = 0;
  bool complete = false;
  // Source sector of the file's first sector: IFD offsets are relative to it.
  uint64_t start_sector = 0;
  // Camera maker found in the Make or Model tag.
  bool maker_nikon = false;
  bool maker_kodak = false;
  bool maker_pro_back = false;
  bool maker_sony = false;
  bool maker_pentax = false;
};

}  // namespace kestrel
