#include "BatchSessionStamp.h"

#include <ctime>
#include <system_error>

namespace pelwick {

namespace {

std::string localStamp(std::time_t time) {
    std::tm local{};
    localtime_r(&time, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return text;
}

bool holdsBackupsStamped(const std::filesystem::path& folder, const std::string& stamp) {
    const std::string prefix = "hp15c-" + stamp + "-";
    std::error_code error;
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        if (entry->path().filename().string().starts_with(prefix)) {
            return true;
        }
    }
    return false;
}

} // namespace

std::string batchSessionStamp(std::chrono::system_clock::time_point now,
                              const std::optional<std::filesystem::path>& folder) {
    std::time_t time = std::chrono::system_clock::to_time_t(now);
    std::string stamp = localStamp(time);
    while (folder && holdsBackupsStamped(*folder, stamp)) {
        stamp = localStamp(++time);
    }
    return stamp;
}

} // namespace pelwick
