#include "platform/clock.h"

#include <ctime>

namespace kestrel {

LocalDate Today() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) return {-1, -1, -1};
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

}  // namespace kestrel
