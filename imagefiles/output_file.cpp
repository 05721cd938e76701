// Every writer either leaves a complete file or none: a failed write or close
// removes what was written, as long as the name is a plain regular file.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "imagefiles/netpbm_header.h"
#include "support/support.h"

std::FILE* open_output(const char* file_name) {
    std::FILE* file = std::fopen(file_name, "wb");
    if (file == nullptr) fatal_error("Output file open failed");
    return file;
}

bool close_output(std::FILE* file, const char* file_name, bool ok) {
    struct stat opened {};
    bool regular = fstat(fileno(file), &opened) == 0 && S_ISREG(opened.st_mode);
    if (std::fclose(file) != 0) ok = false;
    if (ok) return true;
    // lstat, not stat: a link is left alone, and so is whatever it points to.
    struct stat named {};
    if (regular && lstat(file_name, &named) == 0 && S_ISREG(named.st_mode) &&
        named.st_ino == opened.st_ino && named.st_dev == opened.st_dev)
        std::remove(file_name);
    return false;
}
