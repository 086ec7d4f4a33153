#include "extract.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace {

char* copy_word(std::string_view word) {
    char* copy = new char[word.size() + 1];
    std::memcpy(copy, word.data(), word.size());
    copy[word.size()] = '\0';
    return copy;
}

}  // namespace

char** extract_func(const char* const argv[]) {
    if (argv[1] == nullptr) return nullptr;
    const std::string_view line = argv[1];

    // One word more than there are blanks, plus the null entry.
    const auto blanks = static_cast<std::size_t>(std::count(line.begin(), line.end(), ' '));
    char** words = new char*[blanks + 2];
    std::size_t count = 0;
    try {
        std::size_t start = 0;
        for (;;) {
            const std::size_t end = line.find(' ', start);
            words[count] = copy_word(line.substr(start, end - start));
            ++count;
            if (end == std::string_view::npos) break;
            start = end + 1;
        }
    } catch (...) {
        for (std::size_t i = 0; i < count; ++i) delete[] words[i];
        delete[] words;
        throw;
    }
    words[count] = nullptr;
    return words;
}

void free_words(char** words) {
    if (words == nullptr) return;
    for (char** word = words; *word != nullptr; ++word) delete[] *word;
    delete[] words;
}
