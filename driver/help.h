// What the command says about itself: the classic usage text, --help and
// --version.
#pragma once

#include <cstdio>

// The three lines (and the empty one) printed when fewer than two file names
// are given; program is argv[0].
void print_usage(std::FILE* out, const char* program);

// Usage, every option, the formats and the exit statuses.
void print_help(std::FILE* out, const char* program);

void print_version(std::FILE* out);
