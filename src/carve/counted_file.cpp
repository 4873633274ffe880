#include "carve/counted_file.h"

namespace kestrel {
namespace {

void ClearLengthDrivenFlags(CarveState& st) {
  st.jfif_walk = false;
  st.tiff.ifd_done = false;
  st.picture_open = false;
  st.file_complete = false;
  st.ole_open = st.wav_open = st.avi_open = st.x3f_open = st.wmf_open = st.raf_open = false;
  st.msf_open = st.msv_open = st.mrw_open = st.wmv_open = false;
  st.open_types = 0;
}

// A header that states an empty file describes nothing worth keeping.
void DiscardEmptyFile(CarveSession& s) {
  s.out().Discard();
  s.st.file_open = false;
  ClearLengthDrivenFlags(s.st);
}

}  // namespace

void CarveCountedFile(CarveSession& s, const SectorInput& in) {
  if (!s.st.file_open) return;
  if (s.st.byte_count == 0) {
    DiscardEmptyFile(s);
    return;
  }
  if (in.count < s.st.byte_count) {
    s.Write(in, in.count);
    s.st.byte_count -= in.count;
    return;
  }
  s.Write(in, static_cast<size_t>(s.st.byte_count));
  s.st.byte_count = 0;
  ClearLengthDrivenFlags(s.st);
  s.CloseAndList();
}

}  // namespace kestrel
