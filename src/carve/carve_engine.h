#pragma once
// The carved file of a raw scan: at most one is open. The engine opens it through the writer,
// hands every sector to its format, appends what the format takes (reading bytes past the
// sector's window from the source), and finishes it as the format decides.

#include <cstdint>
#include <optional>

#include "carve/format_state.h"
#include "output/recovered_writer.h"
#include "platform/byte_source.h"

namespace kestrel {

// What an open file keeps from starting: a header of a kind it guards starts nothing while it
// is open (inside an open ZIP no header starts a file; inside an open MPEG a JPEG header starts
// nothing). One bit per kind.
enum GuardMark : uint32_t {
  kGuardNone = 0,
  kGuardZip = 1u << 0,
  kGuardAvi = 1u << 1,
  kGuardWav = 1u << 2,
  kGuardRaw = 1u << 3,  // TIFF and the camera formats built on it
  kGuardMidi = 1u << 4,
  kGuardMov = 1u << 5,
  kGuardJpeg = 1u << 6,
  kGuardMpg = 1u << 7,
  kGuardPdf = 1u << 8,
  kGuardWmf = 1u << 9,
  kGuardWmv = 1u << 10,
  kGuardPng = 1u << 11,
  kGuardCrw = 1u << 12,
  kGuardRaf = 1u << 13,
  kGuardMrw = 1u << 14,
  kGuardMsv = 1u << 15,
  kGuardMsf = 1u << 16,
  kGuardX3f = 1u << 17,
  kGuardOle = 1u << 18,
  kGuardMp3 = 1u << 19,
  kGuardPicture = 1u << 20,  // a picture or document measured from its own structure
  // A file whose validated header states its length: no header inside that length starts a
  // file (a WAV's samples or a bitmap's pixels may begin with FF D8 at a sector start).
  kGuardSealed = 1u << 21,
};

class CarveEngine {
 public:
  CarveEngine(RecoveredWriter& writer, ByteSource& source, uint64_t selected)
      : writer_(writer), source_(source), selected_(selected) {}

  uint64_t selected() const { return selected_; }
  bool is_open() const { return open_.has_value(); }
  // The guard marks of the open file; none when no file is open.
  uint32_t open_guards() const { return open_ ? open_->guards : kGuardNone; }
  // A failed write stopped the run.
  bool stopped() const { return writer_.stopped(); }
  void ClearStop() { writer_.ClearStop(); }

  // What the open file's format sees of `in`.
  CarveView View(const SectorInput& in) const {
    return {in, source_, open_ ? writer_.length() : 0, selected_};
  }

  // Opens a new file of `extension` with its start values and hands it its header sector. No
  // file may be open. False when it could not be created.
  bool Open(const std::string& extension, uint32_t guards, FormatState state,
            const SectorInput& header);
  // Hands the sector to the open file's format.
  void Feed(const SectorInput& in);
  // Ends the open file as its format decides (kept, cut, renamed, listed; or deleted).
  void Finish();

 private:
  struct OpenFile {
    FormatState state;
    uint32_t guards;
  };
  // Appends `length` bytes from the sector's first byte on. False when bytes past the window
  // could not be read from the source.
  bool Append(const SectorInput& in, uint64_t length);

  RecoveredWriter& writer_;
  ByteSource& source_;
  uint64_t selected_;
  std::optional<OpenFile> open_;
};

}  // namespace kestrel
