#include "pending_outputs.hpp"

#include "av_error.hpp"
#include "output_commit.hpp"

#include <cerrno>

namespace mp {

PendingOutputs::PendingOutputs(const std::filesystem::path& avi, const std::filesystem::path& timecodes,
                               int copies_from, const AVCodecParameters* par, uint32_t fourcc, Rational rate)
    : avi_target_(avi), timecodes_target_(timecodes), avi_temp_(avi), timecodes_temp_(timecodes),
      avi_(avi_temp_.file(), copies_from, avi, par, fourcc, rate)
{
}

void PendingOutputs::commit()
{
    avi_.finish();
    if (!avi_temp_.close())
        throw av_error(av_code_of_errno(errno), "cannot write " + quote_name(avi_target_.string()));
    times_.finish();
    if (!times_.write(timecodes_temp_.file()) || !timecodes_temp_.close())
        throw av_error(av_code_of_errno(errno), "cannot write " + quote_name(timecodes_target_.string()));
    TempOutput* const both[] = {&avi_temp_, &timecodes_temp_};
    commit_together(both);
}

}  // namespace mp
