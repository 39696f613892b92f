// Our one error type, and the single place where error codes become
// readable text: FFmpeg's negative codes and system errors alike, the latter
// carried as FFmpeg carries them, AVERROR(errno).
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

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

// Plain-words text for an FFmpeg error code (AVERROR(...)), which includes
// a system error `e` given as AVERROR(e).
std::string av_error_text(int code);

// A system error (errno, or a std::error_code from std::filesystem) as an
// FFmpeg error code, for the functions here.
int av_code_of_errno(int err);
int av_code_of(const std::error_code& ec);

// Builds "<what>: <text of code>".
Error av_error(int code, std::string_view what);

// Throws av_error(code, what) when code < 0 (Interrupted for AVERROR_EXIT,
// which our interrupt callback makes FFmpeg return); returns code otherwise.
int av_check(int code, std::string_view what);

// Quotes a file name for messages.
std::string quote_name(std::string_view name);

}  // namespace mp
