#pragma once
#include <cstdint>
#include <string>

namespace kestrel {

// Decimal digits in groups of three separated by ",": 1234567 -> "1,234,567".
std::string GroupThousands(uint64_t value);

}  // namespace kestrel
