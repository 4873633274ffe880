#pragma once
#include <string>
#include <string_view>

namespace kestrel {

// `text` as a JSON string literal, quotes included.
std::string JsonString(std::string_view text);

}  // namespace kestrel
