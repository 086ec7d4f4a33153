#include "session_input.h"

namespace {

constexpr std::string_view separator = "%%\n";

}  // namespace

session_input split_session_input(std::string_view bytes) {
    for (std::size_t at = 0; (at = bytes.find(separator, at)) != std::string_view::npos; ++at) {
        if (at == 0 || bytes[at - 1] == '\n')
            return {bytes.substr(0, at), bytes.substr(at + separator.size())};
    }
    return {std::nullopt, bytes};
}
