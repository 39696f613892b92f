// Our one error type, and the single place where FFmpeg's negative error
// codes become readable text.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace mp {

// Any failure that ends the run. The message is shown to the user after
// "mp.exe: error: ", so it names what failed and for which file.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The run was stopped by SIGINT/SIGTERM; handled like an error.
class Interrupted : public Error {
public:
    Interrupted() : Error("interrupted; no output was written") {}
};

// Plain-words text for an FFmpeg error code (AVERROR(...)).
std::string av_error_text(int code);

// Builds "<what>: <text of code>".
Error av_error(int code, std::string_view what);

// Throws av_error(code, what) when code < 0 (Interrupted for AVERROR_EXIT,
// which our interrupt callback makes FFmpeg return); returns code otherwise.
int av_check(int code, std::string_view what);

// Quotes a file name for messages.
std::string quote_name(std::string_view name);

}  // namespace mp
