#include "AsciiFallback.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <clocale>
#include <langinfo.h>
#include <string_view>
#include <utility>

namespace pelwick {

namespace {

// The UTF-8 forms of the characters the program's texts use, and what stands in for each.
constexpr std::array<std::pair<std::string_view, std::string_view>, 4> standIns{{
    {"\xE2\x80\xA6", "..."}, // … horizontal ellipsis
    {"\xE2\x80\x99", "'"},   // ’ right single quotation mark
    {"\xE2\x80\x94", "-"},   // — em dash
    {"\xC2\xB7", "-"},       // · middle dot
}};

} // namespace

bool userLocaleIsUtf8() {
    const char* current = std::setlocale(LC_CTYPE, nullptr);
    const std::string previous = current != nullptr ? current : "C";
    bool utf8 = false;
    if (std::setlocale(LC_CTYPE, "") != nullptr) {
        std::string codeset = nl_langinfo(CODESET);
        std::erase(codeset, '-');
        std::transform(codeset.begin(), codeset.end(), codeset.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        utf8 = codeset == "utf8";
    }
    std::setlocale(LC_CTYPE, previous.c_str());
    return utf8;
}

AsciiFallbackBuffer::~AsciiFallbackBuffer() {
    (void)send(std::exchange(pending_, {}));
}

bool AsciiFallbackBuffer::put(char c) {
    pending_ += c;
    const std::string_view pending = pending_;
    for (const auto& [utf8, ascii] : standIns) {
        if (pending == utf8) {
            pending_.clear();
            return send(std::string(ascii));
        }
        if (utf8.starts_with(pending)) {
            return true; // wait for the rest of the character
        }
    }
    return send(std::exchange(pending_, {}));
}

bool AsciiFallbackBuffer::send(const std::string& text) {
    return text.empty() || target_->sputn(text.data(), static_cast<std::streamsize>(text.size())) ==
                               static_cast<std::streamsize>(text.size());
}

AsciiFallbackBuffer::int_type AsciiFallbackBuffer::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) {
        return traits_type::not_eof(c);
    }
    return put(traits_type::to_char_type(c)) ? c : traits_type::eof();
}

std::streamsize AsciiFallbackBuffer::xsputn(const char* text, std::streamsize count) {
    // Runs of plain ASCII go on in one piece.
    std::streamsize done = 0;
    while (done < count) {
        if (pending_.empty()) {
            const char* end = std::find_if(text + done, text + count, [](char c) {
                return static_cast<unsigned char>(c) >= 0x80;
            });
            const auto run = static_cast<std::streamsize>(end - (text + done));
            if (run > 0) {
                if (target_->sputn(text + done, run) != run) {
                    return done;
                }
                done += run;
                continue;
            }
        }
        if (!put(text[done])) {
            return done;
        }
        ++done;
    }
    return done;
}

int AsciiFallbackBuffer::sync() {
    return target_->pubsync();
}

AsciiFallback::AsciiFallback(std::ostream& stream)
    : stream_(stream), original_(stream.rdbuf()), buffer_(original_) {
    stream_.rdbuf(&buffer_);
}

AsciiFallback::~AsciiFallback() {
    stream_.flush();
    stream_.rdbuf(original_);
}

} // namespace pelwick
