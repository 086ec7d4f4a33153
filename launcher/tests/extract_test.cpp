#include "extract.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

// Splits `line` as the launcher's first argument and returns the words.
std::vector<std::string> split(const char* line) {
    const char* argv[] = {"launcher", line, "ignored", nullptr};
    std::unique_ptr<char*, decltype(&free_words)> words(extract_func(argv), free_words);
    std::vector<std::string> result;
    for (char** word = words.get(); *word != nullptr; ++word) result.emplace_back(*word);
    return result;
}

using Words = std::vector<std::string>;

TEST(ExtractFunc, SplitsAtEverySingleBlank) {
    EXPECT_EQ(split("ls"), Words({"ls"}));
    EXPECT_EQ(split("ls -l /tmp"), Words({"ls", "-l", "/tmp"}));
}

TEST(ExtractFunc, BlanksAtTheEdgesAndInARowGiveEmptyWords) {
    EXPECT_EQ(split(""), Words({""}));
    EXPECT_EQ(split(" "), Words({"", ""}));
    EXPECT_EQ(split(" a"), Words({"", "a"}));
    EXPECT_EQ(split("a "), Words({"a", ""}));
    EXPECT_EQ(split("a  b"), Words({"a", "", "b"}));
    EXPECT_EQ(split("   "), Words({"", "", "", ""}));
}

TEST(ExtractFunc, OnlyTheBlankSeparates) {
    EXPECT_EQ(split("a\tb\nc d"), Words({"a\tb\nc", "d"}));
    EXPECT_EQ(split("'a b' \"c\\ d\""), Words({"'a", "b'", "\"c\\", "d\""}));
}

TEST(ExtractFunc, NoArgumentGivesNoVector) {
    const char* argv[] = {"launcher", nullptr};
    EXPECT_EQ(extract_func(argv), nullptr);
}

// Over random lines: joining the words with blanks gives the line back, there
// is one word more than there are blanks, and no word holds a blank.
TEST(ExtractFunc, WordsRebuildTheLine) {
    std::mt19937 random(12345);
    const std::string alphabet = "ab \t\"\\";
    for (int round = 0; round < 2000; ++round) {
        std::string line(random() % 12, ' ');
        for (char& c : line) c = alphabet[random() % alphabet.size()];

        const Words words = split(line.c_str());
        std::string joined;
        for (std::size_t i = 0; i < words.size(); ++i) {
            if (i > 0) joined += ' ';
            joined += words[i];
            EXPECT_EQ(words[i].find(' '), std::string::npos) << '"' << line << '"';
        }
        EXPECT_EQ(joined, line);
        EXPECT_EQ(words.size(), static_cast<std::size_t>(std::count(line.begin(), line.end(), ' ')) + 1)
            << '"' << line << '"';
    }
}

}  // namespace
