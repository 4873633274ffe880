#pragma once
// The C library's heap, tuned for a run that allocates and frees the same few buffers for every
// file it finds.

namespace kestrel {

// By default glibc raises its mmap threshold each time a large block is freed and gives the
// heap's free top back to the system, so a run of small files got its per-file buffers from fresh
// pages (a page fault per 4 KiB). Fixed thresholds keep up to 64 MiB of freed heap for reuse.
void KeepFreedHeapForReuse();

}  // namespace kestrel
