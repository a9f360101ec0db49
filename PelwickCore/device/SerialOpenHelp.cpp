#include "device/SerialOpenHelp.h"

#include <cerrno>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace pelwick {

namespace {

// Where the Debian package installs the rule that gives the logged-in user the calculator's port.
const char* const kUdevRule = "/usr/lib/udev/rules.d/60-pelwick.rules";

// The group database's name for `id`, or the number. Re-entrant: the window asks from a worker
// thread.
std::string groupName(gid_t id) {
    std::vector<char> buffer(1024);
    for (;;) {
        group entry{};
        group* found = nullptr;
        const int error = getgrgid_r(id, &entry, buffer.data(), buffer.size(), &found);
        if (error == ERANGE && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 4);
            continue;
        }
        return error == 0 && found != nullptr ? std::string(found->gr_name) : std::to_string(id);
    }
}

bool processHasGroup(gid_t group) {
    if (getegid() == group) {
        return true;
    }
    const int count = getgroups(0, nullptr);
    if (count <= 0) {
        return false;
    }
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    const int filled = getgroups(count, groups.data());
    for (int i = 0; i < filled; ++i) {
        if (groups[static_cast<std::size_t>(i)] == group) {
            return true;
        }
    }
    return false;
}

// The group database may already list the user (joined, but not logged in again since).
bool databaseListsUser(gid_t group) {
    std::vector<char> buffer(4096);
    passwd entry{};
    passwd* user = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &user) != 0 ||
        user == nullptr) {
        return false;
    }
    int count = 64;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    if (getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0) {
        groups.resize(static_cast<std::size_t>(count));
        if (getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0) {
            return false;
        }
    }
    for (int i = 0; i < count; ++i) {
        if (groups[static_cast<std::size_t>(i)] == group) {
            return true;
        }
    }
    return false;
}

} // namespace

std::optional<std::string> serialOpenHelp(const std::string& path, int openErrno) {
    if (openErrno == EBUSY) {
        return "The port " + path +
               " is in use by another program (perhaps another Pelwick); close it and try again.";
    }
    if (openErrno != EACCES && openErrno != EPERM) {
        return std::nullopt;
    }
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        return std::nullopt;
    }
    const std::string name = groupName(info.st_gid);
    const std::string belongs = path + " belongs to the group “" + name + "”";
    const std::string rule =
        "install Pelwick’s udev rule (" + std::string(kUdevRule) + ") and plug the cable in again.";
    // Joining helps only when the group may read and write the node, and the administrators'
    // group is no remedy to suggest.
    const bool groupMayOpen = (info.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    if (!groupMayOpen || info.st_gid == 0) {
        return belongs + ", but the port’s permissions do not let that group open it; " + rule;
    }
    if (processHasGroup(info.st_gid)) {
        return belongs + ", which you are in, yet the port does not open; " + rule;
    }
    if (databaseListsUser(info.st_gid)) {
        return belongs +
               "; you have joined it but not logged in again since. Log out and back "
               "in, or " +
               rule;
    }
    return belongs + ", and you are not in it: join it (sudo usermod -aG " + name +
           " $USER) and log in again, or " + rule;
}

} // namespace pelwick
