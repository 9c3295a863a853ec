// Straight-alpha pixels to the premultiplied form that per-pixel-alpha layered windows expect.
#pragma once

#include <cstdint>

namespace nerova::tray {

// Top-down 32-bit pixels, bytes blue, green, red, alpha; converted in place with rounding to nearest.
void premultiply_alpha(std::uint8_t* pixels, int width, int height);

}  // namespace nerova::tray
