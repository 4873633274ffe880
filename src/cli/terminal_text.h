#pragma once
// Text from a volume (names, paths) and from the run as a terminal line shows it.

#include <string>
#include <string_view>

namespace kestrel {

// `text` with every character that would steer the terminal or break the line written as an
// escape: display controls (IsDisplayControl: ESC, CSI, BEL, newline, tab, DEL, the
// bidirectional overrides, ...) as "\u001b", "\u202e", and a byte that is no UTF-8 as "\xff".
// No name can then set a terminal's title or colours or forge a row. The escapes are JSON's own,
// so a JSON line passed through keeps its values.
std::string TerminalText(std::string_view text);

}  // namespace kestrel
