#pragma once
// File names read from a volume as the recovery writes and shows them: one path component that
// hides nothing and steers no display, and the type they test as.

#include <string>
#include <string_view>

namespace kestrel {

// What a character no written name may hold becomes.
inline constexpr char kNameSubstitute = '_';

// The name a recovered file or a kept folder is written under, from its name as read (UTF-8) on
// any file system. "/", NUL, display controls (IsDisplayControl: C0 and C1 controls, DEL, the
// bidirectional marks, overrides and isolates) and bytes that are no UTF-8 become "_". A name
// that is empty or holds only dots and spaces (".", "..", "...", " ") would vanish or name
// another folder: each of its characters becomes "_" ("" becomes "_"). A name longer than 240
// bytes is shortened before its extension (at a character boundary) so that it and a
// " - Copy(k)" suffix still fit a file name. Never empty.
std::string Utf8FileName(std::string_view name_as_read);

// The extension the type filter tests: the text after the last '.', trimmed, cut to three
// characters and upper-cased, with "JPE" read as "JPG" and "MPE" as "MPG". Empty without a '.'.
std::string TypeExtensionOf(std::string_view name);

}  // namespace kestrel
