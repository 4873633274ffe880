#pragma once
// An Expert Witness (EWF: E01, Ex01, their segments E02, ...) evidence image read through
// libewf as the disk it holds. Built only when libewf is found; without it an EWF image is
// refused with a message saying so.

#include <memory>
#include <string>

#include "platform/byte_source.h"

namespace kestrel {

// Whether `path` starts with an EWF segment file's signature (read without libewf).
bool HasEwfSignature(const std::string& path);

// Whether this build reads EWF images.
bool EwfSupported();

// Opens the image whose first segment is `path` with all its segments. Returns null and a
// message naming the image, or the segment at fault, when it cannot be read. A chunk whose
// checksum does not match reads as a failed read of the sectors it covers.
std::unique_ptr<ByteSource> OpenEwfImage(const std::string& path, std::string* error);

}  // namespace kestrel
