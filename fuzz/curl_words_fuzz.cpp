// "CurlParams" of any text: reading its words never fails, and a text read
// whole reads the same again (the decision between the process and the curl
// program depends on nothing but the words).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/fetch/curl_command.h"
#include "core/fetch/curl_options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> words = splitShellWords(text);
    TransferOptions first, second;
    const std::string word = readCurlWords(words, first);
    if (readCurlWords(words, second) != word) std::abort();
    if (word.empty() && (first.headers != second.headers || first.timeoutMs != second.timeoutMs ||
                         first.maxBytesPerSecond < 0 || first.connectTimeoutMs < 0))
        std::abort();
    return 0;
}
