// The single exit for unrecoverable run-time errors.
#include <cstdio>
#include <cstdlib>

#include "support/support.h"

namespace {
FatalHandler fatal_handler = nullptr;
}

void set_fatal_handler(FatalHandler handler) { fatal_handler = handler; }

void fatal_error(const char* message) {
    std::fprintf(stderr, "Program encounters run-time error...\n");
    std::fprintf(stderr, "%s\n", message);
    std::fprintf(stderr, "...now exiting to system...\n");
    if (fatal_handler != nullptr) fatal_handler(message);
    std::exit(1);
}
