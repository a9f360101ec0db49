#pragma once

#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace pelwick::testing {

/// Runs `work` in a child process as the user nobody with the given supplementary groups and
/// returns the text it produced, or none when the privileges could not be dropped. Root overrides
/// file permissions and exclusive opens, so a test of those run by root needs an ordinary user.
std::optional<std::string> asNobody(const std::function<std::string()>& work,
                                    const std::vector<gid_t>& groups = {});

} // namespace pelwick::testing
