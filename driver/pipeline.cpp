// The runlabel pipeline, run once per invocation: read the greymap, encode it
// into runs, label the runs, paint the labels back and write the result. The
// output is opened only after everything else has succeeded, so a failure
// before then leaves an existing file as it was.
#include <cstdio>
#include <ctime>

#include "driver/driver.h"
#include "driver/report.h"
#include "imagefiles/imagefiles.h"
#include "labeling/labeling.h"
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

    RowIndex row_index = alloc_int_matrix(rows, 2);
    int run_count = 0;
    // Straight from the greymap: a full-size 16-bit copy of it would cost more
    // in fresh pages than the encoding itself.
    RunNode* runs = greymap_to_runs(image->pixels, rows, image->width, row_index, &run_count);
    const std::time_t t1 = std::time(nullptr);

    int region_count = 0;
    {
        const StdoutRoutedTo route(report);  // its "Run ID" line is part of the report
        runs = label_runs_4(runs, row_index, run_count, rows, 1, &region_count);
    }
    const std::time_t t2 = std::time(nullptr);

    // Straight into the greymap: the bytes the 16-bit label image would give.
    paint_label_bytes(runs, image->pixels, rows, image->width);
    std::fprintf(report, "Total %d regions\n", region_count);
    write_pgm(output_name, image);

    free_run_list(runs);
    free_int_matrix(row_index, rows, 2);
    free_pgm(image);
    const std::time_t t3 = std::time(nullptr);

    std::fprintf(report, "Time for converting the image to run-length %7.5lf sec\n",
                 std::difftime(t1, t0));
    std::fprintf(report, "Time for computing connected component %7.5lf sec\n",
                 std::difftime(t2, t1));
    std::fprintf(report, "Total time elapse %7.5lf sec\n", std::difftime(t3, t0));
    return report_complete(report) ? 0 : 1;
}
