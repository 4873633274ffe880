#include "report/reported_file.h"

namespace kestrel {

const char* ReportedStateName(ReportedState state) {
  switch (state) {
    case ReportedState::kRecovered:
      return "recovered";
    case ReportedState::kPartlyOverwritten:
      return "partly-overwritten";
    case ReportedState::kNotWhole:
      return "not-whole";
    case ReportedState::kOverwritten:
      return "overwritten";
    case ReportedState::kUnreadable:
      return "unreadable";
    case ReportedState::kUndecodable:
      return "undecodable";
    case ReportedState::kNotWritten:
      break;
  }
  return "not-written";
}

}  // namespace kestrel
