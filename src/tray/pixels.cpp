#include "tray/pixels.h"

#include <cstddef>

namespace nerova::tray {

void premultiply_alpha(std::uint8_t* pixels, int width, int height) {
    if (width <= 0 || height <= 0) return;
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t* pixel = pixels + i * 4;
        const unsigned alpha = pixel[3];
        if (alpha == 0 || alpha == 255) continue;
        for (int channel = 0; channel < 3; ++channel) {
            pixel[channel] = static_cast<std::uint8_t>((pixel[channel] * alpha + 127) / 255);
        }
    }
}

}  // namespace nerova::tray
