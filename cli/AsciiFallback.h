#pragma once

#include <ostream>
#include <streambuf>
#include <string>

namespace pelwick {

/// Whether the user's locale (LC_ALL, LC_CTYPE, LANG) encodes text as UTF-8. Asked of
/// nl_langinfo(CODESET) after setlocale(LC_CTYPE, ""); the program's own locale is left as it was.
bool userLocaleIsUtf8();

/// Passes text on to another stream buffer with the few non-ASCII characters of the program's
/// texts replaced by ASCII stand-ins, for terminals that cannot show them: "…" becomes "...", "’"
/// "'", and "—" and "·" "-". Everything else passes unchanged. Unbuffered; a character split
/// across two writes is still replaced.
class AsciiFallbackBuffer : public std::streambuf {
public:
    explicit AsciiFallbackBuffer(std::streambuf* target) : target_(target) {}
    /// Passes on the start of a character that never ended.
    ~AsciiFallbackBuffer() override;

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* text, std::streamsize count) override;
    int sync() override;

private:
    bool put(char c);
    bool send(const std::string& text);

    std::streambuf* target_;
    std::string pending_; // the first bytes of a character that may need a stand-in
};

/// Puts an AsciiFallbackBuffer in front of `stream`'s buffer for as long as it lives.
class AsciiFallback {
public:
    explicit AsciiFallback(std::ostream& stream);
    ~AsciiFallback();

    AsciiFallback(const AsciiFallback&) = delete;
    AsciiFallback& operator=(const AsciiFallback&) = delete;

private:
    std::ostream& stream_;
    std::streambuf* original_;
    AsciiFallbackBuffer buffer_;
};

} // namespace pelwick
