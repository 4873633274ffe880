#include "platform/heap_tuning.h"

#include <malloc.h>

namespace kestrel {

void KeepFreedHeapForReuse() {
  // Setting either threshold also turns glibc's adjustment of both off.
  ::mallopt(M_MMAP_THRESHOLD, 4 << 20);
  ::mallopt(M_TRIM_THRESHOLD, 64 << 20);
}

}  // namespace kestrel
