// Included once by each fuzz target: every log level is formatted, so the
// log lines are fuzzed too, but nothing is printed over the fuzzer's output.
#pragma once

#include <string>

#include "platform/debug.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    CDebug::setLevelMask(CDebug::kTrace | CDebug::kProgress | CDebug::kNotable | CDebug::kWarning | CDebug::kError);
    CDebug::setSink([](int, const std::string&) {});
    return 0;
}
