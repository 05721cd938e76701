// Where the library's public pixel and label types meet imagefiles' sample
// types: each conversion between them written once, for the library's file
// functions and for the command line, which reads and writes through both.
#pragma once

#include "imagefiles/raster.h"
#include "runlabel/runlabel.h"

// The pixel type of rows of sample as a reader delivers them (kBit: bits).
runlabel::PixelType pixel_type_of_sample(SampleType sample);

// Bits of a label type (8, 16, 32 or 64); signed types count all their bits.
int bits_of_label_type(runlabel::LabelType type);

// The unsigned label type of bits (8, 16, 32 or 64; any other is 64 bits).
runlabel::LabelType label_type_of_bits(int bits);

// The sample that holds labels of type as their unsigned bits.
SampleType sample_of_label_type(runlabel::LabelType type);
