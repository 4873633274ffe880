#pragma once
// JPEG pictures written by cjpeg (libjpeg-turbo) from pictures GraphicsMagick draws, for the
// tests of JPEG decoding and of files carved around other files.

#include <cstdint>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace kestrel::testing {

// Whether cjpeg and gm are installed.
bool HaveJpegTools();

// A `width` x `height` fractal plasma (detail everywhere; a new one at every call) compressed
// by cjpeg with `options` (e.g. "-quality 90 -restart 1"). Empty when a tool fails.
std::vector<uint8_t> CjpegPicture(const TempDir& dir, const std::string& options, int width = 640,
                                  int height = 480);

// Whether ffmpeg is installed too.
bool HaveDrawingTools();

// The same picture at every call for one `seed`: smooth colour waves with a little grain, drawn
// by ffmpeg (`filter`, when given, draws it instead) and compressed by cjpeg with `options`.
// Empty when a tool fails.
std::vector<uint8_t> CjpegDrawn(const TempDir& dir, const std::string& options, int width,
                                int height, uint32_t seed, const std::string& filter = "");

}  // namespace kestrel::testing
