// Labels a small mask through the installed library and checks what comes
// back; exits 0 when everything is as expected.
#include <runlabel/runlabel.h>

#include <cstdint>
#include <cstdio>
#include <vector>

// Built in the standard its build asked for, which the library's own flags
// must not have raised.
#ifdef CONSUMER_CPLUSPLUS
static_assert(__cplusplus == CONSUMER_CPLUSPLUS, "the consumer was not built in its own standard");
#endif

int main() {
    const int width = 6, height = 3;
    const std::vector<uint8_t> mask = {1, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0};
    runlabel::Options options;
    options.connectivity = 8;
    const runlabel::Labeling labeling =
        runlabel::label(runlabel::image_view(mask.data(), width, height), options);
    std::vector<uint16_t> labels(mask.size());
    labeling.paint(runlabel::label_view(labels.data(), width, height));
    const std::vector<runlabel::Region> regions = labeling.regions();
    for (const runlabel::Region& r : regions) {
        std::printf("region %llu: %llu pixels, centroid (%.2f, %.2f)\n",
                    static_cast<unsigned long long>(r.label),
                    static_cast<unsigned long long>(r.area), r.centroid_x(), r.centroid_y());
    }
    // A narrow label type is an error the caller catches.
    try {
        runlabel::label(runlabel::image_view(mask.data(), width, height),
                        runlabel::label_view(labels.data(), width - 1, height));
        return 1;
    } catch (const runlabel::error& e) {
        std::printf("refused: %s\n", e.what());
    }
    const bool ok = labeling.count() == 2 && labels[0] == 1 && labels[4] == 2 && labels[15] == 2 &&
                    regions.size() == 2 && regions[0].area == 3 && regions[1].area == 3;
    std::puts(ok ? "consumer: ok" : "consumer: unexpected labels");
    return ok ? 0 : 1;
}
