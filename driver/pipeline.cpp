// The runlabel pipeline, run once per invocation: read the greymap, label it
// through the library, paint the labels back over its pixels and write the
// result. The output is opened only after everything else has succeeded, so a
// failure before then leaves an existing file as it was.
#include <cstdio>
#include <ctime>
#include <new>

#include "driver/driver.h"
#include "driver/report.h"
#include "imagefiles/imagefiles.h"
#include "runlabel/runlabel.h"
#include "support/support.h"

namespace {

void print_usage(const char* program) {
    std::printf("Connected component labeling for binary images.\n");
    std::printf("Pixels with non-zero value are labeled starting from 1.\n");
    std::printf("Usage : %s <Input PGM File> <Output File Name>\n\n", program);
}

}  // namespace

int run_command_line(int argc, char** argv) {
    if (argc < 3) {
        print_usage(argc > 0 && argv[0] != nullptr ? argv[0] : "runlabel");
        return 1;
    }
    const char* input_name = argv[1];
    const char* output_name = argv[2];
    std::FILE* report = choose_report_stream(output_name);

    const std::time_t t0 = std::time(nullptr);
    GreyImage* image = read_pgm(input_name);
    if (image == nullptr) return 1;  // the reader has said why
    const int rows = image->height;
    const int cols = image->width;
    // The reader's pixel rows share one block.
    const runlabel::ImageView pixels =
        runlabel::image_view(rows > 0 ? image->pixels[0] : nullptr, cols, rows);

    runlabel::Options options;
    options.wrap = true;  // the greymap holds each label's low 8 bits
    std::time_t t1 = 0;
    runlabel::Labeling labeling;
    try {
        runlabel::Labeler labeler(cols, options);
        labeler.add_rows(pixels);
        t1 = std::time(nullptr);
        labeling = labeler.finish();
    } catch (const std::bad_alloc&) {
        fatal_error("Memory allocation failure");
    } catch (const runlabel::error& e) {
        fatal_error(e.what());
    }
    std::fprintf(
        report, "Run ID %llu \n",
        labeling.run_count() > 0 ? static_cast<unsigned long long>(labeling.run_count()) : 1ULL);
    const std::time_t t2 = std::time(nullptr);

    labeling.paint(runlabel::label_view(rows > 0 ? image->pixels[0] : nullptr, cols, rows));
    std::fprintf(report, "Total %llu regions\n", static_cast<unsigned long long>(labeling.count()));
    write_pgm(output_name, image);

    labeling = runlabel::Labeling();
    free_pgm(image);
    const std::time_t t3 = std::time(nullptr);

    std::fprintf(report, "Time for converting the image to run-length %7.5lf sec\n",
                 std::difftime(t1, t0));
    std::fprintf(report, "Time for computing connected component %7.5lf sec\n",
                 std::difftime(t2, t1));
    std::fprintf(report, "Total time elapse %7.5lf sec\n", std::difftime(t3, t0));
    return report_complete(report) ? 0 : 1;
}
