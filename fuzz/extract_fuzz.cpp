// Fuzz target for the launcher's word splitting. The input up to its first
// NUL is the command-line argument.

#include <algorithm>
#include <cstdint>
#include <string>

#include "extract.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto* begin = reinterpret_cast<const char*>(data);
    const std::string argument(begin, std::find(begin, begin + size, '\0'));
    const char* const argv[] = {"launcher", argument.c_str(), nullptr};

    char** words = extract_func(argv);
    FUZZ_CHECK(words != nullptr);
    std::size_t count = 0;
    std::string joined;
    for (; words[count] != nullptr; ++count) {
        if (count > 0) joined += ' ';
        joined += words[count];
    }
    // One word more than there are blanks, and nothing lost or added: so no
    // word holds a blank either.
    FUZZ_CHECK(count == static_cast<std::size_t>(std::count(argument.begin(), argument.end(), ' ')) + 1);
    FUZZ_CHECK(joined == argument);
    free_words(words);
    return 0;
}
