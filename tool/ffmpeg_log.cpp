#include "ffmpeg_log.hpp"

extern "C" {
#include <libavutil/log.h>
}

#include <atomic>
#include <cstdarg>

namespace mp {
namespace {

// FFmpeg may log from its own threads; the callback takes no context, so
// the state is global.
std::atomic<const void*> g_watched_format{nullptr};
std::atomic<const void*> g_watched_io{nullptr};
std::atomic<int> g_errors{0};

void count_errors(void* avcl, int level, const char*, va_list)
{
    if (level > AV_LOG_ERROR || avcl == nullptr)
        return;
    if (avcl == g_watched_format.load() || avcl == g_watched_io.load())
        g_errors.fetch_add(1);
}

}  // namespace

LogCapture::LogCapture()
{
    g_errors.store(0);
    av_log_set_callback(&count_errors);
}

LogCapture::~LogCapture()
{
    watch(nullptr, nullptr);
    av_log_set_callback(av_log_default_callback);
}

void LogCapture::watch(const void* format, const void* io)
{
    g_watched_format.store(format);
    g_watched_io.store(io);
}

int LogCapture::errors() const
{
    return g_errors.load();
}

}  // namespace mp
