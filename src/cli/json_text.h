#pragma once
// The JSON lines of kestrel-cli's --json and --progress json output.

#include <nlohmann/json.hpp>
#include <string>

namespace kestrel {

// An object whose members keep the order they were added in.
using JsonObject = nlohmann::ordered_json;

// `object` on one line, members as `"key": value` separated by ", ". A byte that is not UTF-8 (a
// raw volume label) becomes U+FFFD, so the line stays valid JSON; display controls are escaped
// (TerminalText), so no value can steer a terminal.
std::string JsonLine(const JsonObject& object);

}  // namespace kestrel
