// The library in ten lines: label a mask, paint 32-bit labels, list regions.
#include <runlabel/runlabel.h>

#include <cstdio>
#include <vector>

int main() {
    const std::vector<unsigned char> mask = {1, 1, 0, 1,  //
                                             0, 1, 0, 1,  //
                                             1, 0, 0, 1};
    const runlabel::Labeling labeling = runlabel::label(runlabel::image_view(mask.data(), 4, 3));
    std::vector<uint32_t> labels(mask.size());
    labeling.paint(runlabel::label_view(labels.data(), 4, 3));
    for (const runlabel::Region& r : labeling.regions())
        std::printf(
            "region %llu: %llu pixels, box %lldx%lld at (%lld, %lld), centroid (%.2f, %.2f)\n",
            (unsigned long long)r.label, (unsigned long long)r.area, (long long)r.width(),
            (long long)r.height(), (long long)r.left, (long long)r.top, r.centroid_x(),
            r.centroid_y());
}
