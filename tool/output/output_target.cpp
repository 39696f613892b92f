#include "output/output_target.hpp"

#include "common/av_error.hpp"

#include <system_error>

namespace mp {
namespace fs = std::filesystem;

namespace {

// As many links in a row as Linux itself follows.
constexpr int kMaxLinks = 40;

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

// The absolute name with the links at its end followed, also a link that
// leads nowhere yet (the file is then made where it points, as a shell's
// redirection would). The folders on the way stay as given.
fs::path follow_links(const fs::path& name)
{
    std::error_code ec;
    fs::path path = fs::absolute(name, ec);
    for (int links = 0; !ec; ++links) {
        const fs::file_status status = fs::symlink_status(path, ec);
        if (ec && status.type() == fs::file_type::not_found)
            return path;
        if (ec || status.type() != fs::file_type::symlink)
            break;
        if (links == kMaxLinks)
            throw cannot_examine(name, std::make_error_code(std::errc::too_many_symbolic_link_levels));
        const fs::path to = fs::read_symlink(path, ec);
        path = to.is_absolute() ? to : path.parent_path() / to;
    }
    if (ec)
        throw cannot_examine(name, ec);
    return path;
}

// "is a named pipe (FIFO)", or "" for what may be written.
const char* refused_kind(fs::file_type type)
{
    switch (type) {
    case fs::file_type::not_found:
    case fs::file_type::regular:
    case fs::file_type::character:
        return "";
    case fs::file_type::directory:
        return "is a folder, not a file name";
    case fs::file_type::fifo:
        return "is a named pipe (FIFO)";
    case fs::file_type::socket:
        return "is a socket";
    case fs::file_type::block:
        return "is a block device";
    default:
        return "is not a regular file";
    }
}

OutputTarget examine(const fs::path& name)
{
    OutputTarget target;
    target.name = name;
    target.path = follow_links(name);
    std::error_code ec;
    const fs::file_status status = fs::status(target.path, ec);
    if (ec && status.type() != fs::file_type::not_found)
        throw cannot_examine(name, ec);
    const std::string refused = refused_kind(status.type());
    if (status.type() == fs::file_type::directory)
        throw Error("output " + quote_name(name.string()) + " " + refused);
    if (!refused.empty())
        throw Error("output " + quote_name(name.string()) + " " + refused +
                    "; outputs are written to regular files or to a character device such as /dev/null, so "
                    "nothing was written");
    target.kind = status.type() == fs::file_type::regular     ? TargetKind::Regular
                  : status.type() == fs::file_type::character ? TargetKind::Device
                                                              : TargetKind::Absent;
    const fs::path folder = target.path.parent_path();
    if (!fs::is_directory(folder, ec))
        throw Error("cannot write " + quote_name(name.string()) + ": the folder " + quote_name(folder.string()) +
                    " does not exist");
    return target;
}

}  // namespace

OutputTargets check_output_paths(const fs::path& source, FileId source_id, const fs::path& avi,
                                 const fs::path& timecodes)
{
    for (const fs::path* out : {&avi, &timecodes}) {
        const std::optional<FileId> id = file_id_at(*out);
        std::error_code ec;
        if ((id && *id == source_id) || (!id && fs::equivalent(source, *out, ec)))
            throw Error("output " + quote_name(out->string()) + " is the source file " + quote_name(source.string()) +
                        "; refusing to overwrite it");
    }
    if (same_file(avi, timecodes))
        throw Error("both outputs name the same file " + quote_name(avi.string()) + "; give two different names");
    return OutputTargets{examine(avi), examine(timecodes)};
}

}  // namespace mp
