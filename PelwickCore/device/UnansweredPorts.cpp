#include "device/UnansweredPorts.h"

#include <algorithm>
#include <sys/stat.h>

namespace pelwick {

UnansweredPorts::NodeId UnansweredPorts::nodeOf(const SerialPort& port) {
    struct stat node {};
    if (::stat(port.path.c_str(), &node) != 0) {
        return std::nullopt;
    }
    return std::pair<unsigned long long, unsigned long long>(node.st_dev, node.st_ino);
}

bool UnansweredPorts::sameDevice(const Entry& entry, const SerialPort& port, const NodeId& node) {
    return entry.port.path == port.path && entry.port.usb == port.usb && entry.node == node;
}

void UnansweredPorts::remember(const SerialPort& port, std::exception_ptr failure) {
    const NodeId node = nodeOf(port);
    const std::lock_guard lock(mutex_);
    std::erase_if(entries_, [&](const Entry& entry) { return entry.port.path == port.path; });
    entries_.push_back({port, node, std::move(failure)});
}

void UnansweredPorts::forgetAbsent(const std::vector<SerialPort>& listed) {
    const std::lock_guard lock(mutex_);
    std::erase_if(entries_, [&](const Entry& entry) {
        return std::none_of(listed.begin(), listed.end(), [&](const SerialPort& port) {
            return sameDevice(entry, port, nodeOf(port));
        });
    });
}

std::exception_ptr UnansweredPorts::failureOf(const SerialPort& port) const {
    const NodeId node = nodeOf(port);
    const std::lock_guard lock(mutex_);
    const auto found = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& entry) {
        return sameDevice(entry, port, node);
    });
    return found == entries_.end() ? nullptr : found->failure;
}

} // namespace pelwick
