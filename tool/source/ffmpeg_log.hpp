// FFmpeg's own log, caught: FFmpeg prints its diagnostics to stderr by
// default, but this tool reports in its own words. While a LogCapture
// lives, nothing is printed, and the errors that watched FFmpeg objects
// log are counted: from the source's demuxer and its I/O they mean damaged
// data (even when the demuxer recovered and read on), and from the AVI
// muxer a header it could not make right.
#pragma once

namespace mp {

class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Counts the errors `context` logs from now on (a few at a time).
    static void watch(const void* context);
    // How many it logged, 0 for one not watched.
    static int errors_of(const void* context);
};

}  // namespace mp
