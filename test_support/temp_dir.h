#pragma once
// A fresh directory under the system temporary folder, removed with its
// content when the guard goes out of scope.

#include <string>
#include <string_view>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(std::string_view name) const;
    void write(std::string_view name, std::string_view content) const;
    // The whole content of a file in the directory; empty if it is missing.
    std::string read(std::string_view name) const;
    bool exists(std::string_view name) const;

private:
    std::string path_;
};
