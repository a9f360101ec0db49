#include "support/ScriptedTransport.h"

#include <algorithm>

namespace pelwick::testing {

void ScriptedTransport::write(ByteView data) {
    writes.emplace_back(data.begin(), data.end());
    if (responder) {
        queue(responder(writes.back()));
    }
}

Bytes ScriptedTransport::read(std::size_t max, double) {
    const std::size_t n = std::min(max, pending_.size());
    Bytes out(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(n));
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(n));
    return out;
}

void ScriptedTransport::queue(const Bytes& bytes) {
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
}

std::vector<std::string> ScriptedTransport::commands() const {
    std::vector<std::string> result;
    for (const Bytes& w : writes) {
        if (!w.empty() && w.back() == '#') {
            result.emplace_back(w.begin(), w.end());
        }
    }
    return result;
}

} // namespace pelwick::testing
