// The built-in test chart: gradients, colour bars, sharp edges, fine
// text-like detail and noise, the things a JPEG codec finds hard.
#pragma once

#include "image_file.h"

namespace tool {

Image makeTestChart(int width, int height);

// The chart's luminance, for grey encodings.
Image greyOf(const Image &rgb);

// Peak signal-to-noise ratio in dB over all samples (99 when equal).
double psnr(const Image &a, const Image &b);

}  // namespace tool
