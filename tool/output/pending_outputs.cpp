#include "output/pending_outputs.hpp"

#include "common/av_error.hpp"
#include "common/file_io.hpp"

#include <cerrno>

namespace mp {

namespace {

// An AVI file is finished by going back to its header, so a device that
// cannot seek (a terminal) cannot take one.
void check_seekable(OutputFile& avi)
{
    if (avi.in_place() && !seekable(descriptor_of(avi.file())))
        throw Error("cannot write an AVI file to " + quote_name(avi.target().name.string()) +
                    ": it is a device that cannot seek, and an AVI file is finished by going back to its start");
}

}  // namespace

std::vector<std::filesystem::path> replaced_files(const OutputTargets& targets)
{
    std::vector<std::filesystem::path> files;
    for (const OutputTarget* t : {&targets.avi, &targets.timecodes})
        if (t->kind != TargetKind::Device)
            files.push_back(t->path);
    return files;
}

PendingOutputs::PendingOutputs(const OutputTargets& targets, const AVCodecParameters* par, uint32_t fourcc,
                               Rational rate)
    : journal_(replaced_files(targets)), avi_file_(targets.avi, journal_.token(), 1),
      timecodes_file_(targets.timecodes, journal_.token(), 2),
      avi_((check_seekable(avi_file_), avi_file_.file()), targets.avi.name, par, fourcc, rate)
{
}

void PendingOutputs::commit(Timeline timeline, const MoveFunction& move)
{
    avi_.finish();
    if (!avi_file_.close())
        throw av_error(av_code_of_errno(errno), "cannot write " + quote_name(avi_file_.target().name.string()));
    times_.finish(timeline);
    if (!times_.write(timecodes_file_.file()) || !timecodes_file_.close())
        throw av_error(av_code_of_errno(errno), "cannot write " + quote_name(timecodes_file_.target().name.string()));

    OutputFile* const both[] = {&avi_file_, &timecodes_file_};
    std::vector<JournalEntry> moved;
    for (const OutputFile* out : both)
        if (!out->in_place())
            moved.push_back({out->number(), out->target().path, out->id()});
    journal_.record(moved);
    commit_together(both, move);
}

}  // namespace mp
