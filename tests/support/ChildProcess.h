#pragma once

#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace pelwick::testing {

/// Runs `prepare` and then `work` in a child process and returns the text `work` produced, or
/// none when `prepare` returned false. For steps that must run under limits or as another user
/// without changing the test process itself.
std::optional<std::string> inChildProcess(const std::function<bool()>& prepare,
                                          const std::function<std::string()>& work);

/// Runs `work` in a child process as the user nobody with the given supplementary groups; none
/// when the privileges could not be dropped. Root overrides file permissions and exclusive opens,
/// so a test of those run by root needs an ordinary user.
std::optional<std::string> asNobody(const std::function<std::string()>& work,
                                    const std::vector<gid_t>& groups = {});

} // namespace pelwick::testing
