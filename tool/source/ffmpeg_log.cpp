#include "source/ffmpeg_log.hpp"

extern "C" {
#include <libavutil/log.h>
}

#include <array>
#include <atomic>
#include <cstdarg>

namespace mp {
namespace {

struct Watched {
    std::atomic<const void*> context{nullptr};
    std::atomic<int> errors{0};
};

// FFmpeg may log from its own threads, and the callback takes no context
// of ours, so the counts are global.
std::array<Watched, 4> g_watched;

void count_errors(void* avcl, int level, const char*, va_list)
{
    if (level > AV_LOG_ERROR || avcl == nullptr)
        return;
    for (Watched& w : g_watched)
        if (w.context.load() == avcl)
            w.errors.fetch_add(1);
}

}  // namespace

LogCapture::LogCapture()
{
    for (Watched& w : g_watched) {
        w.context.store(nullptr);
        w.errors.store(0);
    }
    av_log_set_callback(&count_errors);
}

LogCapture::~LogCapture()
{
    av_log_set_callback(av_log_default_callback);
    for (Watched& w : g_watched)
        w.context.store(nullptr);
}

void LogCapture::watch(const void* context)
{
    // The oldest watch gives way when all are taken.
    static std::atomic<unsigned> next{0};
    Watched& w = g_watched[next.fetch_add(1) % g_watched.size()];
    w.errors.store(0);
    w.context.store(context);
}

int LogCapture::errors_of(const void* context)
{
    for (const Watched& w : g_watched)
        if (context && w.context.load() == context)
            return w.errors.load();
    return 0;
}

}  // namespace mp
