// The colour view: each region its own colour, background black. A label's
// colour is a fixed function of the label alone, so the same label has the
// same colour in every run and every image, and labels that follow each
// other get hues far apart.
#pragma once

#include <cstddef>
#include <cstdint>

// The colour of a label (0 is black; no other label is).
void label_color(std::uint64_t label, std::uint8_t rgb[3]);

// RGB triples for count labels.
void color_row(const std::uint32_t* labels, std::size_t count, std::uint8_t* rgb);
