#include "cli/json_text.h"

#include "cli/terminal_text.h"

namespace kestrel {

namespace {

std::string Dump(const JsonObject& value) {
  return value.dump(-1, ' ', false, JsonObject::error_handler_t::replace);
}

}  // namespace

// nlohmann's compact form has no spaces; the lines keep the spaced form scripts already read.
std::string JsonLine(const JsonObject& object) {
  std::string line = "{";
  for (auto member = object.begin(); member != object.end(); ++member) {
    if (member != object.begin()) line += ", ";
    line += Dump(JsonObject(member.key())) + ": " + Dump(member.value());
  }
  // A name keeps its exact value; the C1 controls and bidirectional overrides JSON may hold raw
  // are written escaped, so that the line is as safe on a terminal as the plain output.
  return TerminalText(line + "}");
}

}  // namespace kestrel
