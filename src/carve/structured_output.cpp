#include "carve/structured_output.h"

namespace kestrel {

bool CloseWithoutListing(CarveSession& s) {
  s.st.file_open = false;
  s.st.open_types = 0;
  if (s.write_failed()) {
    // The failed write was reported when it happened.
    s.out().Discard();
    return false;
  }
  const FileErrorCause cause = s.out().Close();
  if (cause == FileErrorCause::kNone) return true;
  s.ReportWriteFailure(cause, s.path());
  s.out().Discard();
  return false;
}

void ListKeptFile(CarveSession& s, const std::string& path, uint64_t length) {
  s.run().AddRecoveredFile({path, length, true});
  s.run().CountRecovered();
}

void DiscardOpenFile(CarveSession& s) {
  s.out().Discard();
  s.st.file_open = false;
  s.st.file_complete = false;
  s.ClearOpenFlags();
}

}  // namespace kestrel
