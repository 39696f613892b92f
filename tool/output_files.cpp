#include "output_files.hpp"

#include "av_error.hpp"
#include "interrupt.hpp"

#include <cerrno>
#include <cstring>
#include <random>
#include <system_error>

namespace mp {
namespace fs = std::filesystem;

namespace {

// The same file: by resolved path, or (when both exist) by device and inode.
bool same_file(const fs::path& a, const fs::path& b)
{
    std::error_code ec;
    // Absolute first: weakly_canonical leaves a relative name relative when
    // nothing of it exists yet, so "out.avi" and "./out.avi" would differ.
    const fs::path ca = fs::weakly_canonical(fs::absolute(a, ec), ec);
    if (ec)
        return false;
    const fs::path cb = fs::weakly_canonical(fs::absolute(b, ec), ec);
    if (ec)
        return false;
    if (ca == cb)
        return true;
    const bool both_exist = fs::exists(a, ec) && fs::exists(b, ec);
    return both_exist && fs::equivalent(a, b, ec) && !ec;
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

TempOutput::TempOutput(fs::path target) : target_(fs::absolute(std::move(target)))
{
    std::random_device entropy;
    std::mt19937_64 random(entropy() ^ (static_cast<uint64_t>(entropy()) << 32));
    static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string suffix;
        for (int i = 0; i < 8; ++i)
            suffix += kDigits[random() % 36];
        const fs::path candidate =
            target_.parent_path() / ("." + target_.filename().string() + "." + suffix + ".part");
        // "x": create exclusively, so concurrent runs never share a file.
        file_ = std::fopen(candidate.string().c_str(), "wbx");
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
    if (!committed_) {
        std::error_code ec;
        fs::remove(temp_, ec);
    }
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

void TempOutput::commit()
{
    std::error_code ec;
    const bool target_existed = fs::exists(fs::symlink_status(target_, ec));
    fs::rename(temp_, target_, ec);
    if (ec)
        throw av_error(av_code_of(ec), "cannot move the finished output into place as " + quote_name(target_.string()));
    committed_ = true;
    replaced_ = target_existed;
}

void commit_outputs(TempOutput& first, TempOutput& second)
{
    stop_if_interrupted();
    first.commit();
    second.commit();
}

}  // namespace mp
