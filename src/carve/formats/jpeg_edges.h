#pragma once
// The samples along the top and bottom edges of an 8x8 JPEG block, from its dequantized
// coefficients: the rows of the inverse DCT that a block above or below it touches. Two rows of
// the transform, not the whole block: cheap enough to run for every block of a picture's first
// component while its data is decoded.

#include <cstdint>

namespace kestrel {

// `coefficients` in natural order (row by row of vertical frequency), already multiplied by the
// quantization table. The 8 samples of the block's top row and of its bottom row, level shifted
// but not clamped to 0..255 as a decoder would: data decoded out of place drifts far outside,
// where clamped samples would all look alike.
void BlockEdges(const int32_t* coefficients, int16_t* top, int16_t* bottom);

}  // namespace kestrel
