#include "device/SerialOpenHelp.h"

#include <cerrno>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace pelwick {

namespace {

const char* const kUdevRule = "60-pelwick.rules";

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
    const passwd* user = getpwuid(geteuid());
    if (user == nullptr) {
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
    const group* owner = getgrgid(info.st_gid);
    const std::string groupName = owner != nullptr ? owner->gr_name : std::to_string(info.st_gid);
    const std::string remedies = "join it (sudo usermod -aG " + groupName +
                                 " $USER) and log in again, or install Pelwick’s udev rule (" +
                                 kUdevRule +
                                 ") so the calculator is yours while you are logged in.";
    if (processHasGroup(info.st_gid)) {
        return path + " belongs to the group “" + groupName +
               "”, which you are in, but its permissions do not let the group open it; install "
               "Pelwick’s udev rule (" +
               kUdevRule + ").";
    }
    if (databaseListsUser(info.st_gid)) {
        return path + " belongs to the group “" + groupName +
               "”; you have joined it but not logged in again since. Log out and back in, or "
               "install Pelwick’s udev rule (" +
               kUdevRule + ").";
    }
    return path + " belongs to the group “" + groupName + "”, and you are not in it: " + remedies;
}

} // namespace pelwick
