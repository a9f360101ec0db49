#include "JsonReport.h"

#include <ostream>

namespace pelwick {

JsonReport::JsonReport(Json command) {
    document_["command"] = std::move(command);
    document_["ok"] = true;
}

void JsonReport::set(const std::string& key, Json value) {
    const std::lock_guard lock(mutex_);
    document_[key] = std::move(value);
}

void JsonReport::setError(ErrorDescription error) {
    const std::lock_guard lock(mutex_);
    error_ = std::move(error);
}

void JsonReport::write(std::ostream& out, const std::optional<ErrorDescription>& error) {
    const std::lock_guard lock(mutex_);
    if (written_) {
        return;
    }
    written_ = true;
    const std::optional<ErrorDescription>& failure = error ? error : error_;
    document_["ok"] = !failure.has_value();
    document_["error"] = failure ? describe(*failure) : Json();
    out << text(document_) << '\n' << std::flush;
}

JsonReport::Json JsonReport::describe(const ErrorDescription& error) {
    return Json{{"kind", error.kind}, {"message", error.message}};
}

std::string JsonReport::text(const Json& value) {
    return value.dump(-1, ' ', true, Json::error_handler_t::replace);
}

} // namespace pelwick
