#pragma once
// Resampling of the wizard's pictures to the size their frames take at the
// screen's DPI. Needs no window: pixels are 32-bit words (0xAARRGGBB as a
// top-down DIB holds them), rows packed without padding.
#include <cstdint>
#include <vector>

// Largest width or height a picture may have (the side picture is 825 x 1470
// pixels at 500 percent); a request beyond it is refused rather than
// allocating without bound.
const int kMaxPictureSide = 2048;

// Scales the source picture to width x height with a separable bicubic
// (Catmull-Rom) filter, widened when shrinking so every source pixel counts.
// Every output pixel is opaque. False, with out untouched, when a size is not
// positive or past kMaxPictureSide, or when source holds fewer than
// sourceWidth * sourceHeight pixels.
bool ScalePicture(const std::vector<uint32_t>& source, int sourceWidth, int sourceHeight, int width,
                  int height, std::vector<uint32_t>* out);
