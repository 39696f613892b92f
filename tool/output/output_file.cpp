#include "output/output_file.hpp"

#include "common/av_error.hpp"
#include "common/file_io.hpp"

#include <cerrno>

namespace mp {
namespace fs = std::filesystem;

namespace {

FileId id_of(std::FILE* file)
{
    FileStatus status;
    return file_status(descriptor_of(file), status) ? status.id : FileId{};
}

}  // namespace

OutputFile::OutputFile(OutputTarget target, const std::string& token, int number)
    : target_(std::move(target)), token_(token), number_(number)
{
    const std::string name = quote_name(target_.name.string());
    if (in_place()) {
        path_ = target_.path;
        file_ = open_for_writing(path_);
        if (!file_)
            throw av_error(av_code_of_errno(errno), "cannot open " + name + " for writing");
        released_ = true;  // never ours to remove
        return;
    }
    path_ = target_.path.parent_path() / temporary_name(token_, number_);
    file_ = create_new_file(path_);
    if (!file_)
        throw av_error(av_code_of_errno(errno), "cannot create a temporary file beside " + name);
    id_ = id_of(file_);
}

OutputFile::~OutputFile()
{
    if (file_)
        std::fclose(file_);
    // A file only: whatever else took the name meanwhile is not ours.
    if (!released_)
        remove_file(path_);
}

fs::path OutputFile::parked_path() const
{
    return target_.path.parent_path() / parked_name(token_, number_);
}

bool OutputFile::close()
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

void OutputFile::release(bool replaced)
{
    released_ = true;
    replaced_ = replaced;
}

}  // namespace mp
