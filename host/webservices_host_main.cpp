#include <malloc.h>

#include <iostream>

#include "host/runner.h"

namespace {
// Workers parse replies of several megabytes at once. With glibc's defaults
// the blocks of a parsed reply stay with the worker's own arena after it is
// freed, and its threshold for giving blocks back to the system rises with
// every large block, so the process keeps the largest replies it has ever
// parsed. A fixed threshold returns every block of 128 KiB or more when it is
// freed; two arenas keep the small allocations of eight workers together.
void returnLargeBlocksWhenFreed() {
#if defined(__GLIBC__)
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    mallopt(M_ARENA_MAX, 2);
#endif
}
}  // namespace

int main(int argc, char** argv) {
    returnLargeBlocksWhenFreed();
    return runHost(argc, argv, std::cout, std::cerr);
}
