// Both outputs while they are written: new files beside their targets (or
// a device written in place), the AVI writer on one and the timecode list
// for the other. No target file is replaced before commit(); destroying
// this before then removes the new files, so existing files stay as they
// were.
#pragma once

#include "output/avi_writer.hpp"
#include "output/output_commit.hpp"
#include "output/frame_rate.hpp"
#include "output/output_file.hpp"
#include "output/output_target.hpp"
#include "output/run_journal.hpp"
#include "output/timecodes.hpp"

#include <cstdint>
#include <filesystem>

namespace mp {

class PendingOutputs {
public:
    // Creates the run's journal and both new files and writes the AVI
    // header for a track with `par`, `fourcc` and the nominal `rate`.
    PendingOutputs(const OutputTargets& targets, const AVCodecParameters* par, uint32_t fourcc, Rational rate);
    PendingOutputs(const PendingOutputs&) = delete;
    PendingOutputs& operator=(const PendingOutputs&) = delete;

    AviWriter& avi() { return avi_; }
    TimecodeList& times() { return times_; }

    // Finishes both files, devices first, and moves the new files into
    // place together. Throws Error (or Interrupted, when a stop was
    // requested) with the target files unchanged when either cannot be
    // finished or moved. The timecodes are written on `timeline`; `move`
    // is replaced in tests only.
    void commit(Timeline timeline, const MoveFunction& move = move_file);
    // After commit(): whether each output took the place of an existing file.
    bool replaced_avi() const { return avi_file_.replaced(); }
    bool replaced_timecodes() const { return timecodes_file_.replaced(); }

private:
    RunJournal journal_;  // outlives the files it tells of
    OutputFile avi_file_;
    OutputFile timecodes_file_;
    AviWriter avi_;
    TimecodeList times_;
};

// The files a run into `targets` creates or replaces (not the devices).
std::vector<std::filesystem::path> replaced_files(const OutputTargets& targets);

}  // namespace mp
