#include "output_buffer.h"

#include <cstdio>

void output_buffer::flush() {
    if (used_ != 0) std::fwrite(bytes_.data(), 1, used_, stdout);  // an error shows in ferror(stdout)
    used_ = 0;
}

void output_buffer::spill(std::string_view text) {
    flush();
    if (text.size() > bytes_.size()) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        return;
    }
    text.copy(bytes_.data(), text.size());
    used_ = text.size();
}

namespace {

output_buffer standard_output;

}  // namespace

output_buffer& out() {
    return standard_output;
}
