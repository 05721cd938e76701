// Label colours: the hue steps round the colour wheel by the golden ratio from
// one label to the next, which keeps any labels close in number far apart in
// hue; a hash of the label varies saturation and brightness within bounds
// that keep every colour bright enough to tell from the black background.
#include "driver/color_view.h"

#include <cstdint>

namespace {

uint64_t mix(uint64_t x) {
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdULL;
    x ^= x >> 33;
    x *= 0xc4ceb9fe1a85ec53ULL;
    return x ^ (x >> 33);
}

}  // namespace

void label_color(std::uint64_t label, std::uint8_t rgb[3]) {
    if (label == 0) {
        rgb[0] = rgb[1] = rgb[2] = 0;
        return;
    }
    // Worked out once for every distinct label of an image of millions of
    // regions, so without a call into the maths library.
    constexpr double kGolden = 0.6180339887498949;
    const double turns = static_cast<double>(label % 1000003) * kGolden;
    const double hue = (turns - static_cast<double>(static_cast<uint64_t>(turns))) * 6.0;
    const uint64_t h = mix(label);
    const double saturation = 0.55 + 0.45 * static_cast<double>(h & 0xff) / 255.0;
    const double value = 0.75 + 0.25 * static_cast<double>((h >> 8) & 0xff) / 255.0;
    // HSV to RGB.
    const int sector = static_cast<int>(hue);
    const double f = hue - sector;
    const double p = value * (1 - saturation);
    const double q = value * (1 - saturation * f);
    const double t = value * (1 - saturation * (1 - f));
    double r = value, g = t, b = p;
    switch (sector) {
        case 1:
            r = q, g = value, b = p;
            break;
        case 2:
            r = p, g = value, b = t;
            break;
        case 3:
            r = p, g = q, b = value;
            break;
        case 4:
            r = t, g = p, b = value;
            break;
        case 5:
            r = value, g = p, b = q;
            break;
        default:
            break;
    }
    rgb[0] = static_cast<std::uint8_t>(r * 255 + 0.5);
    rgb[1] = static_cast<std::uint8_t>(g * 255 + 0.5);
    rgb[2] = static_cast<std::uint8_t>(b * 255 + 0.5);
}

void color_row(const std::uint32_t* labels, std::size_t count, std::uint8_t* rgb) {
    // Colours of recent labels, by their low bits: a row meets the same few
    // regions again and again, and a colour costs more to work out than to
    // look up.
    constexpr std::size_t kRemembered = 4096;
    std::uint32_t label_of[kRemembered];
    std::uint8_t color_of[kRemembered][3];
    for (std::size_t k = 0; k < kRemembered; ++k) label_of[k] = ~std::uint32_t{0};
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t label = labels[i];
        std::uint8_t* color = color_of[label % kRemembered];
        if (label_of[label % kRemembered] != label) {
            label_of[label % kRemembered] = label;
            label_color(label, color);
        }
        rgb[3 * i] = color[0];
        rgb[3 * i + 1] = color[1];
        rgb[3 * i + 2] = color[2];
    }
}
