// Both outputs while they are written: temporaries beside their targets,
// the AVI writer on one and the timecode list for the other. Nothing
// reaches the targets before commit(); destroying this before then removes
// the temporaries, so existing files stay as they were.
#pragma once

#include "avi_writer.hpp"
#include "frame_rate.hpp"
#include "output_files.hpp"
#include "timecodes.hpp"

#include <cstdint>
#include <filesystem>

namespace mp {

class PendingOutputs {
public:
    // Creates both temporaries and writes the AVI header for a track with
    // `par`, `fourcc` and the nominal `rate`. `copies_from` is the source's
    // descriptor when frames may be copied from it, else -1.
    PendingOutputs(const std::filesystem::path& avi, const std::filesystem::path& timecodes, int copies_from,
                   const AVCodecParameters* par, uint32_t fourcc, Rational rate);
    PendingOutputs(const PendingOutputs&) = delete;
    PendingOutputs& operator=(const PendingOutputs&) = delete;

    AviWriter& avi() { return avi_; }
    TimecodeList& times() { return times_; }

    // Finishes both files and moves them into place together. Throws Error
    // (or Interrupted, when a stop was requested) with the targets unchanged
    // when either cannot be finished or moved.
    void commit();
    // After commit(): whether each output took the place of an existing file.
    bool replaced_avi() const { return avi_temp_.replaced(); }
    bool replaced_timecodes() const { return timecodes_temp_.replaced(); }

private:
    std::filesystem::path avi_target_;
    std::filesystem::path timecodes_target_;
    TempOutput avi_temp_;
    TempOutput timecodes_temp_;
    AviWriter avi_;
    TimecodeList times_;
};

}  // namespace mp
