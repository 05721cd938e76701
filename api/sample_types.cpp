// The conversions between the public types and imagefiles' samples.
#include "api/sample_types.h"

#include "api/views.h"

runlabel::PixelType pixel_type_of_sample(SampleType sample) {
    switch (sample) {
        case SampleType::kBit:
            return runlabel::PixelType::bits;
        case SampleType::kU8:
            return runlabel::PixelType::u8;
        case SampleType::kU16:
            return runlabel::PixelType::u16;
        case SampleType::kU32:
            return runlabel::PixelType::u32;
        case SampleType::kU64:
            return runlabel::PixelType::u64;
    }
    return runlabel::PixelType::u8;
}

int bits_of_label_type(runlabel::LabelType type) {
    return 8 * static_cast<int>(runlabel::detail::label_size(type));
}

runlabel::LabelType label_type_of_bits(int bits) {
    switch (bits) {
        case 8:
            return runlabel::LabelType::u8;
        case 16:
            return runlabel::LabelType::u16;
        case 32:
            return runlabel::LabelType::u32;
        default:
            return runlabel::LabelType::u64;
    }
}

SampleType sample_of_label_type(runlabel::LabelType type) {
    return sample_of_bits(bits_of_label_type(type));
}
