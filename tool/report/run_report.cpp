#include "report/run_report.hpp"

#include <cstdio>
#include <cstdlib>
#include <system_error>

namespace mp {
namespace fs = std::filesystem;

namespace {

std::string name_of(const fs::path& file)
{
    return file.filename().string();
}

std::string folder_of(const fs::path& file)
{
    return file.parent_path().string();
}

// "a.avi and a.txt in /folder", or each with its own folder.
std::string outputs_phrase(const RunFiles& files)
{
    if (files.avi.parent_path() == files.timecodes.parent_path())
        return name_of(files.avi) + " and " + name_of(files.timecodes) + " in " + folder_of(files.avi);
    return name_of(files.avi) + " in " + folder_of(files.avi) + " and " + name_of(files.timecodes) + " in " +
           folder_of(files.timecodes);
}

std::string frames_phrase(int64_t frames)
{
    return std::to_string(frames) + (frames == 1 ? " frame" : " frames");
}

// The sentence about files the outputs took the place of, or "".
std::string replaced_sentence(const RunFiles& files, const RunOutcome& outcome)
{
    if (outcome.replaced_avi && outcome.replaced_timecodes)
        return "The existing " + name_of(files.avi) + " and " + name_of(files.timecodes) + " were replaced.";
    if (outcome.replaced_avi)
        return "The existing " + name_of(files.avi) + " was replaced.";
    if (outcome.replaced_timecodes)
        return "The existing " + name_of(files.timecodes) + " was replaced.";
    return {};
}

std::string source_name(const RunFiles& files)
{
    return files.source.filename().string();
}

std::string record_message(const RunOutcome& outcome)
{
    switch (outcome.exit_status) {
    case 0: {
        std::string text = frames_phrase(outcome.frames) + " written";
        if (outcome.replaced_avi || outcome.replaced_timecodes) {
            text += "; replaced the existing ";
            text += outcome.replaced_avi && outcome.replaced_timecodes ? "AVI and timecodes files"
                    : outcome.replaced_avi                            ? "AVI file"
                                                                      : "timecodes file";
        }
        return text;
    }
    case 1:
        return "warning: " + outcome.message;
    default:
        return "error: " + outcome.message;
    }
}

}  // namespace

bool reporting_wanted(bool notify_option, const char* variable_value)
{
#if defined(_WIN32)
    (void)notify_option;
    (void)variable_value;
    return false;
#else
    if (notify_option)
        return true;
    return variable_value && *variable_value && std::string_view(variable_value) != "0";
#endif
}

RunFiles RunFiles::resolve(const fs::path& source, const fs::path& avi, const fs::path& timecodes)
{
    // The folder resolved, the file's own name kept: a source that is a
    // link is shown by the name the person chose.
    const auto resolved = [](const fs::path& name) {
        std::error_code ec;
        const fs::path absolute = fs::absolute(name, ec);
        if (ec)
            return name;
        if (!absolute.has_filename())
            return absolute.lexically_normal();
        const fs::path folder = fs::weakly_canonical(absolute.parent_path(), ec);
        return ec ? absolute.lexically_normal() : folder / absolute.filename();
    };
    return RunFiles{resolved(source), resolved(avi), resolved(timecodes)};
}

Notification started_notification(const RunFiles& files)
{
    Notification n;
    n.summary = "Demuxing " + source_name(files);
    n.body = "Writing " + outputs_phrase(files);
    n.category = "transfer";
    return n;
}

Notification progress_notification(const RunFiles& files, int percent)
{
    Notification n = started_notification(files);
    n.percent = percent;
    n.body += "\n" + std::to_string(percent) + "% read";
    return n;
}

Notification outcome_notification(const RunFiles& files, const RunOutcome& outcome)
{
    Notification n;
    // After the files written: what they replaced, and what the AVI could
    // not carry.
    const auto add_afterwords = [&] {
        if (const std::string replaced = replaced_sentence(files, outcome); !replaced.empty())
            n.body += "\n" + replaced;
        for (const std::string& note : outcome.notes)
            n.body += "\nNote: " + note + ".";
    };
    switch (outcome.exit_status) {
    case 0:
        n.summary = "Demuxed " + source_name(files);
        n.body = frames_phrase(outcome.frames) + " written to " + outputs_phrase(files) + ".";
        add_afterwords();
        n.category = "transfer.complete";
        break;
    case 1:
        n.summary = "Demuxed " + source_name(files) + " with a warning";
        n.body = outcome.message + ".\nWrote " + outputs_phrase(files) + ".";
        add_afterwords();
        n.category = "transfer.complete";
        break;
    default:
        // An error stays on screen until the person has seen it.
        n.summary = "Demuxing " + source_name(files) + " failed";
        n.body = outcome.message;
        n.urgency = Urgency::Critical;
        n.expire_timeout_ms = 0;
        n.category = "transfer.error";
        break;
    }
    return n;
}

std::optional<int> ProgressPacer::next(Clock::time_point now, int64_t bytes_read, int64_t bytes_total)
{
    if (bytes_total <= 0 || now - start_ < kQuietStart)
        return std::nullopt;
    if (last_sent_ && now - *last_sent_ < kInterval)
        return std::nullopt;
    const int percent =
        bytes_read >= bytes_total ? 100 : bytes_read <= 0 ? 0 : static_cast<int>(bytes_read * 100 / bytes_total);
    if (percent <= last_percent_)
        return std::nullopt;
    last_sent_ = now;
    last_percent_ = percent;
    return percent;
}

std::string escape_record_field(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            if (byte < 0x20 || byte == 0x7F) {
                char hex[5];
                std::snprintf(hex, sizeof hex, "\\x%02X", byte);
                out += hex;
            } else {
                out += c;
            }
        }
    }
    return out;
}

std::string run_record_line(std::string_view time, const RunFiles& files, const RunOutcome& outcome)
{
    std::string line = escape_record_field(time);
    for (const std::string& field : {std::to_string(outcome.exit_status), files.source.string(), files.avi.string(),
                                     files.timecodes.string(), record_message(outcome)}) {
        line += '\t';
        line += escape_record_field(field);
    }
    line += '\n';
    return line;
}

}  // namespace mp
