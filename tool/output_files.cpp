#include "output_files.hpp"

#include "av_error.hpp"
#include "file_io.hpp"

#include <cerrno>
#include <cstring>
#include <random>
#include <system_error>

namespace mp {
namespace fs = std::filesystem;

namespace {

Error cannot_examine(const fs::path& path, const std::error_code& ec)
{
    return av_error(av_code_of(ec), "cannot examine " + quote_name(path.string()));
}

// The path made absolute, with links, "." and ".." resolved as far as it
// exists. Absolute first: weakly_canonical leaves a relative name relative
// when nothing of it exists yet, so "out.avi" and "./out.avi" would differ.
fs::path resolved(const fs::path& path)
{
    std::error_code ec;
    fs::path result = fs::absolute(path, ec);
    if (!ec)
        result = fs::weakly_canonical(result, ec);
    if (ec)
        throw cannot_examine(path, ec);
    return result;
}

// Whether something exists at `path` (following links). A path that cannot
// be examined is an error, never "nothing there".
bool exists_at(const fs::path& path)
{
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (status.type() == fs::file_type::not_found)
        return false;
    if (ec || status.type() == fs::file_type::none)
        throw cannot_examine(path, ec ? ec : std::make_error_code(std::errc::io_error));
    return true;
}

// The same file: by resolved path, or (when both exist) by device and inode.
bool same_file(const fs::path& a, const fs::path& b)
{
    if (resolved(a) == resolved(b))
        return true;
    if (!exists_at(a) || !exists_at(b))
        return false;
    std::error_code ec;
    const bool same = fs::equivalent(a, b, ec);
    if (ec)
        throw cannot_examine(a, ec);
    return same;
}

}  // namespace

void check_output_paths(const fs::path& source, const fs::path& avi, const fs::path& timecodes)
{
    for (const fs::path* out : {&avi, &timecodes}) {
        if (same_file(source, *out))
            throw Error("output " + quote_name(out->string()) + " is the source file " + quote_name(source.string()) +
                        "; refusing to overwrite it");
    }
    if (same_file(avi, timecodes))
        throw Error("both outputs name the same file " + quote_name(avi.string()) + "; give two different names");

    for (const fs::path* out : {&avi, &timecodes}) {
        std::error_code ec;
        const fs::path absolute = fs::absolute(*out, ec);
        if (ec)
            throw av_error(av_code_of(ec), "cannot resolve output name " + quote_name(out->string()));
        if (fs::is_directory(absolute, ec))
            throw Error("output " + quote_name(out->string()) + " is a folder, not a file name");
        const fs::path folder = absolute.parent_path();
        if (!fs::is_directory(folder, ec))
            throw Error("cannot write " + quote_name(out->string()) + ": the folder " + quote_name(folder.string()) +
                        " does not exist");
    }
}

fs::path hidden_name_beside(const fs::path& target, std::string_view ending)
{
    thread_local std::mt19937_64 random = [] {
        std::random_device entropy;
        return std::mt19937_64(entropy() ^ (static_cast<uint64_t>(entropy()) << 32));
    }();
    static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string suffix;
    for (int i = 0; i < 8; ++i)
        suffix += kDigits[random() % 36];
    return target.parent_path() / ("." + target.filename().string() + "." + suffix + std::string(ending));
}

TempOutput::TempOutput(fs::path target) : target_(fs::absolute(std::move(target)))
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate = hidden_name_beside(target_, ".part");
        file_ = create_new_file(candidate);
        if (file_) {
            temp_ = candidate;
            return;
        }
        if (errno != EEXIST)
            throw av_error(av_code_of_errno(errno), "cannot create a temporary file beside " + quote_name(target_.string()));
    }
    throw Error("cannot create a temporary file beside " + quote_name(target_.string()));
}

TempOutput::~TempOutput()
{
    if (file_)
        std::fclose(file_);
    // A file only: whatever else took the name meanwhile is not ours.
    if (!released_)
        remove_file(temp_);
}

bool TempOutput::close()
{
    if (!file_)
        return true;
    const bool ok = std::fflush(file_) == 0 && !std::ferror(file_);
    const int err = errno;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!ok)
        errno = err;
    return ok && closed;
}

void TempOutput::release(bool replaced)
{
    released_ = true;
    replaced_ = replaced;
}

}  // namespace mp
