#include <unistd.h>

#include <filesystem>

#include "record_file.h"
#include "store_fixture.h"
#include "temp_dir.h"

namespace {

std::vector<std::string> pieces_of(const std::string& text) {
    std::FILE* stream = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    std::vector<std::string> pieces;
    std::string piece;
    while (read_piece(stream, piece)) pieces.push_back(piece);
    std::fclose(stream);
    return pieces;
}

TEST(ReadPiece, CutsLinesIntoPiecesOfAtMostTwentySix) {
    using v = std::vector<std::string>;
    EXPECT_EQ(pieces_of("a\n\nb"), (v{"a", "", "b"}));
    EXPECT_EQ(pieces_of("a\r\nb\r\n"), (v{"a", "b"}));
    EXPECT_EQ(pieces_of("a\rb\r\r\n"), (v{"a\rb\r"}));
    const std::string line26(26, 'x');
    EXPECT_EQ(pieces_of(line26 + "\n"), (v{line26, ""}));
    EXPECT_EQ(pieces_of(std::string(25, 'y') + "\r\n"), (v{std::string(25, 'y')}));
    EXPECT_EQ(pieces_of(line26 + "\r\n"), (v{line26, ""}));
    EXPECT_EQ(pieces_of(line26 + line26 + "abc\n"), (v{line26, line26, "abc"}));
    EXPECT_EQ(pieces_of(""), v{});
    EXPECT_EQ(pieces_of("\r"), v{"\r"});
}

class RecordFile : public StoreTest {
protected:
    TempDir dir;
    std::filesystem::path previous = std::filesystem::current_path();
    void SetUp() override {
        StoreTest::SetUp();
        std::filesystem::current_path(dir.path());
    }
    void TearDown() override {
        std::filesystem::current_path(previous);
        StoreTest::TearDown();
    }
};

TEST_F(RecordFile, LoadsEveryLineFormAndReportsEachPiece) {
    dir.write(init_file, "1.1.1.1 first\r\n\n2.2.2.2 second\n" + std::string(30, ' ') + "3.3.3.3 x\n"
                         "4.4.4.4 last");
    EXPECT_EQ(output_of([] { init_func(init_file); }),
              "Adding lines from file name: ZD482_Inet.txt\n"
              "Head is null, creating... first Done\n"
              "Checking for duplicate, then adding line... second Done adding\n"
              "Invalid format, expected [address] [alias], skipping.\n"
              "Checking for duplicate, then adding line... x Done adding\n"
              "Checking for duplicate, then adding line... last Done adding\n"
              "Init done\n___________________________\n\n");
}

TEST_F(RecordFile, EmptyFileAndEmptyTable) {
    dir.write(init_file, "");
    EXPECT_EQ(output_of([] { init_func(init_file); }),
              "Adding lines from file name: ZD482_Inet.txt\nInit done\n___________________________\n\n");
    EXPECT_TRUE(save_to_file_wrapper("empty.txt"));
    EXPECT_TRUE(dir.exists("empty.txt"));
    EXPECT_EQ(dir.read("empty.txt"), "");
}

TEST_F(RecordFile, SaveWritesPreOrderAndLoadRebuildsTheSameShape) {
    for (const char* line : {"10.0.0.4 m", "10.0.0.2 f", "10.0.0.6 t", "10.0.0.1 b", "10.0.0.3 h",
                             "10.0.0.5 p", "255.255.255.255 zzzzzzzzzz", "0.0.0.0 a b "})
        add_quietly(line);
    ASSERT_TRUE(save_to_file_wrapper("saved.txt"));
    const std::string saved = dir.read("saved.txt");
    EXPECT_EQ(saved,
              "10.0.0.4 m\n10.0.0.2 f\n10.0.0.1 b\n0.0.0.0 a b \n10.0.0.3 h\n"
              "10.0.0.6 t\n10.0.0.5 p\n255.255.255.255 zzzzzzzzzz\n");
    clear_table();
    std::filesystem::rename("saved.txt", init_file);
    output_of([] { init_func(init_file); });
    ASSERT_TRUE(save_to_file_wrapper("again.txt"));
    EXPECT_EQ(dir.read("again.txt"), saved);  // same pre-order means the same shape
}

TEST_F(RecordFile, FailedSaveIsReportedAndNotSuccess) {
    add_quietly("1.2.3.4 a");
    EXPECT_FALSE(save_to_file_wrapper("missing/dir/file.txt"));
    EXPECT_FALSE(save_to_file_wrapper(""));
    if (std::filesystem::exists("/dev/full")) {
        EXPECT_FALSE(save_to_file_wrapper("/dev/full"));
    }
    EXPECT_EQ(table_in_order(), std::vector<std::string>{"1.2.3.4 a"});
}

}  // namespace
