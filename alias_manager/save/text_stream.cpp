#include "text_stream.h"

#include <cerrno>

#include "write_all.h"

namespace {

// Where a stream's writes go: a descriptor (or none), the bytes taken and
// the first write error.
struct descriptor_sink {
    int fd;
    off_t length;
    int error;
};

ssize_t write_to_sink(void* cookie, const char* data, std::size_t size) {
    auto& sink = *static_cast<descriptor_sink*>(cookie);
    if (sink.fd >= 0) sink.error = write_all(sink.fd, {data, size}, fs_calls.write);
    if (sink.error != 0) return 0;  // the stream's error flag is set
    sink.length += static_cast<off_t>(size);
    return static_cast<ssize_t>(size);
}

}  // namespace

filled fill_descriptor(int fd, const fill_function& fill) {
    descriptor_sink sink{fd, 0, 0};
    cookie_io_functions_t io{};
    io.write = write_to_sink;
    std::FILE* stream = fopencookie(&sink, "w", io);
    if (stream == nullptr) return {ENOMEM, 0};
    fill(stream);
    const bool failed = std::fflush(stream) != 0 || std::ferror(stream);
    std::fclose(stream);
    if (failed) return {sink.error != 0 ? sink.error : EIO, sink.length};
    return {0, sink.length};
}

int close_written(unique_fd& fd) {
    return fs_calls.close(fd.release()) != 0 ? errno : 0;
}
