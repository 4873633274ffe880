#pragma once
// The carved file of a raw scan: at most one is open. The engine opens it through the writer,
// hands every sector to its format, appends what the format takes (reading bytes past the
// sector's window from the source), and finishes it as the format decides.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "carve/format.h"
#include "carve/guard_mark.h"
#include "carve/open_format.h"
#include "carve/piece_source.h"
#include "output/recovered_writer.h"
#include "platform/byte_source.h"

namespace kestrel {

// Sectors [first, first + count) of the source.
struct SectorSpan {
  uint64_t first = 0;
  uint64_t count = 0;
};

class CarveEngine {
 public:
  CarveEngine(RecoveredWriter& writer, ByteSource& source, const TypeSet& selected)
      : writer_(writer), source_(source), selected_(selected) {}

  const TypeSet& selected() const { return selected_; }
  // A file is open (or waits for its next piece after a file in its gap).
  bool is_open() const { return open_.format != nullptr; }
  // The guard marks of the open file; none when no file is open, or while the open file waits
  // for its next piece (the sectors before it are other files').
  GuardSet open_guards() const { return open_.waiting ? kNoGuards : open_.guards; }
  // A failed write stopped the run.
  bool stopped() const { return writer_.stopped(); }
  void ClearStop() { writer_.ClearStop(); }

  // What the open file's format sees of `in`.
  CarveView View(const SectorInput& in) const {
    return {in, source_, is_open() ? writer_.length() : 0, selected_, &open_.pieces};
  }

  // The allocation units files lie in: `unit_sectors` sectors each, one starting at sector
  // `anchor` (a volume's first cluster). Without it a file's units are 4 KiB from its start.
  void SetUnits(uint64_t anchor, uint64_t unit_sectors);

  // Opens a new file of `extension` followed by `format` and hands it its header sector. No
  // file may be open. False when it could not be created.
  bool Open(const std::string& extension, GuardSet guards, std::unique_ptr<OpenFormat> format,
            const SectorInput& header);
  // Hands the sector to the open file's format.
  void Feed(const SectorInput& in);
  // A header starts a new file. An open file that its format would not keep yet is set aside
  // (one at a time): when the new file turns out whole, the one set aside goes on at the first
  // unit after its end, as a file goes on after another file that lies in its gap (as often as
  // files lie in its gaps). Otherwise the open file ends as Finish ends it.
  void Interrupt();
  // Ends the open file, and a file set aside, as their formats decide (kept, cut, renamed,
  // listed; or deleted). A file its format's check finds not whole, and a file with a gap that
  // no check proves whole, is deleted, or kept among the partial files when the run asks for
  // them.
  void Finish();
  // The sectors of files that kept headers from starting new files and were then not kept
  // (after their header sector, up to the last sector fed to them): files that lie inside them
  // were not looked for. Handed out once, in the order the files ended.
  std::vector<SectorSpan> TakeUnexamined() { return std::move(unexamined_); }
  const std::vector<SectorSpan>& unexamined() const { return unexamined_; }
  // The spans an interrupted scan had left for the second look.
  void RestoreUnexamined(std::vector<SectorSpan> spans) { unexamined_ = std::move(spans); }
  // No file is open or set aside: every file found so far is finished.
  bool idle() const { return !is_open() && !aside_; }
  // Files opened from now on keep no header from starting a file but the weak ones every guarding
  // file keeps out (a second look inside files that were not whole, where a file that hid others
  // must not hide them again; audio frames inside a stream found there start nothing).
  void IgnoreGuards(bool ignore) { ignore_guards_ = ignore; }
  // Files that are not whole are kept among the partial files instead of being deleted.
  void KeepNotWholeFiles(bool keep) { keep_not_whole_ = keep; }

 private:
  struct OpenFile {
    std::unique_ptr<OpenFormat> format;  // null: no file
    GuardSet guards = kNoGuards;
    bool guarded = false;           // it kept headers from starting files
    std::vector<FilePiece> pieces;  // where its bytes lie in the source
    uint64_t resume_sector = 0;     // it goes on here (sectors before are another file's)
    bool waiting = false;           // it has not reached resume_sector yet
    // The last sector fed to it, the bytes that sector added, and its state before it: when it
    // goes on after a file in its gap, that sector is fed again with the bytes where it goes on
    // as its look-ahead (the first time its look-ahead showed the file in the gap).
    uint64_t last_sector = 0;
    uint64_t last_taken = 0;
    std::unique_ptr<OpenFormat> before_last;
    uint64_t header_sector() const { return pieces.empty() ? 0 : pieces[0].source_offset / 512; }
  };

  // Appends `length` bytes from the sector's first byte on; bytes past the sector come from the
  // source at `continuation`. False when bytes past the window could not be read.
  bool Append(const SectorInput& in, uint64_t length, uint64_t continuation);
  // Hands the sector to the open file's format, whose bytes go on at `continuation`.
  void FeedOpen(const SectorInput& in, uint64_t continuation);
  // The open file's last sector fed again, with the bytes at its resume sector after it.
  void FeedLastSectorAgain();
  // Ends the open file as its format decides; true when it was kept.
  bool EndOpen();
  // Ends the open file; then the file set aside goes on after it (kept) or ends too.
  void EndOpenAndGoOn();
  // Whether the open file, as `kept` would keep it, is whole by its format's check.
  bool CheckedWhole(const Kept& kept);
  // Whether the open file, which its check found broken, lies whole in the pieces its format's
  // reassembly finds; then the open file is written anew from them.
  bool Reassembled(Kept* kept);
  // The open file's bytes replaced by those of `file`; false when a read or write failed.
  bool Rewrite(ByteSource& file);
  // Deletes the open file, which is not kept, and forgets it.
  void DiscardOpen();
  // The allocation units of the file that starts at `header_sector`.
  ByteUnits UnitsOf(uint64_t header_sector) const;
  // The first sector of the unit after the one that holds `sector` - 1, in the units of the
  // file that starts at `header_sector`.
  uint64_t NextUnitStart(uint64_t sector, uint64_t header_sector) const;

  RecoveredWriter& writer_;
  ByteSource& source_;
  TypeSet selected_;
  OpenFile open_;
  std::optional<OpenFile> aside_;  // a file set aside while a file in its gap is carved
  uint64_t unit_anchor_ = 0;
  uint64_t unit_sectors_ = 0;  // 0: 8 sectors from each file's start
  std::vector<SectorSpan> unexamined_;
  bool keep_not_whole_ = false;
  bool ignore_guards_ = false;
};

}  // namespace kestrel
