#pragma once

namespace kestrel {

struct LocalDate {
  int year = 0;
  int month = 0;  // 1..12
  int day = 0;    // 1..31
};

// Today's date in local time.
LocalDate Today();

}  // namespace kestrel
