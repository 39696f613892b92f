#include "report/progress.hpp"

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace mp {

void Progress::update(int64_t bytes_read, int64_t bytes_total, int64_t frames)
{
    if (listener_)
        listener_(bytes_read, bytes_total, frames);
    if (!enabled_)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (shown_ && now - last_ < std::chrono::milliseconds(100))
        return;
    last_ = now;
    shown_ = true;
    if (bytes_total > 0) {
        const int64_t percent = bytes_read >= bytes_total ? 100 : bytes_read * 100 / bytes_total;
        std::fprintf(out_, "\rmp.exe: %3lld%% read, %lld frames", static_cast<long long>(percent),
                     static_cast<long long>(frames));
    } else {
        std::fprintf(out_, "\rmp.exe: %lld frames", static_cast<long long>(frames));
    }
    std::fflush(out_);
}

void Progress::clear()
{
    if (!enabled_ || !shown_)
        return;
    // Carriage return, erase to end of line.
    std::fputs("\r\033[K", out_);
    std::fflush(out_);
    shown_ = false;
}

bool stderr_is_terminal()
{
#if defined(_WIN32)
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(fileno(stderr)) != 0;
#endif
}

}  // namespace mp
