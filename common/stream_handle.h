#pragma once
// A C stream closed when its owner goes out of scope.

#include <cstdio>
#include <memory>

struct stream_closer {
    void operator()(std::FILE* stream) const { std::fclose(stream); }
};
using stream_handle = std::unique_ptr<std::FILE, stream_closer>;
