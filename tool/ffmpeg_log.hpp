// FFmpeg's own log, caught: FFmpeg prints its diagnostics to stderr by
// default, but this tool reports in its own words. While a LogCapture lives,
// nothing is printed, and error messages from the source's demuxer and its
// I/O are counted: they mean the demuxer met damaged data, even when it
// recovered and read on.
#pragma once

namespace mp {

class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Counts errors logged by these two objects from now on (either may be
    // null).
    void watch(const void* format, const void* io);

    // How many were counted.
    int errors() const;
};

}  // namespace mp
