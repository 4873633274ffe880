#pragma once
// The "Recover deleted files" mode on an NTFS volume: loads the master file table, walks its
// file records and writes the content of every deleted file record whose type is selected.

#include "fs/deleted_run.h"
#include "run/run_outcome.h"

namespace kestrel {

// Runs the NTFS part of the mode on `run.source` (opened read-only, boot sector in
// boot_sector) from the hand-off of the deleted-files driver onward: the record loop with its
// progress, cancel polls and messages, and, when the loop runs to its end, the closing message
// (112 when files were recovered, 1193 when none were) with the bar set to 100. A cancelled run,
// a stopped one (disk full, write or read failure) or an unreadable MFT ends without a closing
// message. The caller's clean-up (status text, fields, bar, cancel flag) follows as usual.
// Only the files below `run.folder` count (deleted folders included). With `run.listing` set,
// the files are listed there instead, with no file and no closing message. The result says how
// it ended: kCompleted (with 112 or 1193, none in a listing), kCancelled, kStopped (57441 or
// 127) or kRefused (no message).
RunResult RecoverNtfsDeletedFiles(DeletedRun& run);

}  // namespace kestrel
