#pragma once
// The carved file of a raw scan: at most one is open. The engine opens it through the writer,
// hands every sector to its format, appends what the format takes (reading bytes past the
// sector's window from the source), and finishes it as the format decides.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "carve/format.h"
#include "carve/guard_mark.h"
#include "carve/open_format.h"
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
  bool is_open() const { return open_ != nullptr; }
  // The guard marks of the open file; none when no file is open.
  GuardSet open_guards() const { return guards_; }
  // A failed write stopped the run.
  bool stopped() const { return writer_.stopped(); }
  void ClearStop() { writer_.ClearStop(); }

  // What the open file's format sees of `in`.
  CarveView View(const SectorInput& in) const {
    return {in, source_, open_ != nullptr ? writer_.length() : 0, selected_};
  }

  // Opens a new file of `extension` followed by `format` and hands it its header sector. No
  // file may be open. False when it could not be created.
  bool Open(const std::string& extension, GuardSet guards, std::unique_ptr<OpenFormat> format,
            const SectorInput& header);
  // Hands the sector to the open file's format.
  void Feed(const SectorInput& in);
  // Ends the open file as its format decides (kept, cut, renamed, listed; or deleted). A file
  // its format's check finds not whole is deleted, or kept among the partial files when the
  // run asks for them.
  void Finish();
  // The sectors of files that kept headers from starting new files and were then not kept
  // (after their header sector, up to the last sector fed to them): files that lie inside them
  // were not looked for. Handed out once, in the order the files ended.
  std::vector<SectorSpan> TakeUnexamined() { return std::move(unexamined_); }
  // Files that are not whole are kept among the partial files instead of being deleted.
  void KeepNotWholeFiles(bool keep) { keep_not_whole_ = keep; }

 private:
  // Appends `length` bytes from the sector's first byte on. False when bytes past the window
  // could not be read from the source.
  bool Append(const SectorInput& in, uint64_t length);
  // Forgets the open file.
  void Close();
  // Whether the open file, as `kept` would keep it, is whole by its format's check.
  bool CheckedWhole(const Kept& kept);
  // Deletes the open file, which is not kept, and forgets it.
  void DiscardOpen();

  RecoveredWriter& writer_;
  ByteSource& source_;
  TypeSet selected_;
  std::unique_ptr<OpenFormat> open_;  // null: no file is open
  GuardSet guards_ = kNoGuards;
  uint64_t open_start_ = 0;        // the open file's first byte in the source
  uint64_t open_last_sector_ = 0;  // the last sector fed to the open file
  bool open_guarded_ = false;      // the open file kept headers from starting files
  std::vector<SectorSpan> unexamined_;
  bool keep_not_whole_ = false;
};

}  // namespace kestrel
