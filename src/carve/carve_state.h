#pragma once
// The state of the one carved file that is open during a raw scan, and of the run's counters.
// A plain struct: routines are functions of (session, sector) that update it.

#include <array>
#include <cstdint>

#include "carve/compound_state.h"
#include "carve/mov_state.h"
#include "carve/tiff_state.h"
#include "carve/zip_state.h"
#include "run/file_types.h"

namespace kestrel {

struct CarveState {
  // Written so far (end-marker searches), still expected (length-driven types), or left in the
  // current segment (JFIF walk), by type.
  uint64_t byte_count = 0;
  // Length of the GIF or JPEG up to and including the last end marker seen; 0 when none was seen
  // in the open file.
  uint64_t end_offset = 0;
  bool file_open = false;
  bool file_complete = false;
  bool always_keep = false;
  bool jfif_walk = false;
  bool jfif_in_scan = false;
  bool picture_open = false;
  bool stop_scan = false;

  // Bit of the open file's type (at most one bit set), 0 when no file is open.
  uint64_t open_types = 0;

  // Open flags: a header of these kinds inside an open file of the same (or an embedding) kind
  // does not interrupt it.
  bool zip_open = false, avi_open = false, wav_open = false, raw_open = false, mid_open = false,
       mov_open = false, jpeg_open = false, mpg_open = false, pdf_open = false, wmf_open = false,
       wmv_open = false, png_open = false, crw_open = false, raf_open = false, mrw_open = false,
       msv_open = false, msf_open = false, x3f_open = false, ole_open = false, mp3_open = false;

  // Camera-file flags of the dispatch.
  bool kodak_dc = false;
  bool orf_name = false;
  bool big_endian = false;

  // MIDI walk.
  uint32_t tracks_left = 0;
  uint32_t track_length = 0;
  uint64_t track_left = 0;
  // X3F directory bytes that lie in the next sector.
  uint64_t x3f_tail = 0;
  // PDF: "%%EOF" occurrences passed over. RTF: trailer search.
  uint32_t pdf_eof_skips = 0;
  bool rtf_trailer = false;
  uint32_t rtf_count = 0;
  uint32_t rtf_pattern_length = 0;  // length of the closing pattern seen in the current sector

  TiffState tiff;
  CompoundState compound;
  ZipState zip;
  MovState mov;
};

}  // namespace kestrel
