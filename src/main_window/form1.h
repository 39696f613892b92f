#pragma once
// Form1: the window's members and its event handlers, free of any window
// system. The widget layer raises these handlers from Qt events.

#include "main_window/controls.h"
#include "main_window/demux_command.h"
#include "platform/platform.h"

#include <optional>
#include <string>
#include <vector>

namespace tcdemux {

// Texts the window shows or hands out.
inline constexpr char16_t kWindowCaption[] = u"Matroska timecodes demuxer";
inline constexpr char16_t kToolName[] = u"mp.exe";
inline constexpr char16_t kToolMissingMessage[] = u"No find MP.EXE program file";
inline constexpr char16_t kOpenDialogTitle[] = u"輸入mkv影音檔";
inline constexpr char16_t kOpenFilterLabel[] = u"mkv影音檔 (*.mkv)";
inline constexpr char16_t kDefaultVideoName[] = u"output.avi";
inline constexpr char16_t kDefaultTimecodesName[] = u"output_timecodes.txt";

class Form1 {
public:
    Form1(Platform& platform, Form1Controls controls);

    // Set once by Form_Load, never changed afterwards.
    std::u16string Quote;
    std::u16string Prompt_path;
    std::u16string Prompt_mkv;
    std::u16string Prompt_Video;
    std::u16string Prompt_VFRTimeCode;

    // Fills the prompts, checks that the tool lies beside the executable and
    // reads the folder of the source taken in an earlier start.
    void Form_Load();

    // "VFR mkv": asks for the source file and proposes the output names.
    // Traps every error of its own; never throws.
    void CommandOpenMKVfile_Click() noexcept;

    // Files named from outside the dialog: on the command line, or dropped
    // onto the window. The first is taken exactly as a file confirmed in the
    // dialog, once it proves to be a readable regular file; otherwise a
    // message names it and nothing changes. Further files are left, and a
    // message says so. Without the tool (see Form_Load) nothing is taken,
    // since "&Demux" could never start it.
    void OpenSourceFiles(const std::vector<std::u16string>& paths);

    // "&Demux": starts the tool with the source and the two output names.
    void CommandDemux_Click();

    // "&Exit": ends the program at once.
    void CommandExit_Click();

    // A mouse click into an output box clears its prompt; leaving a box
    // empty gives it its default name.
    void Text_Video_Click();
    void Text_Video_LostFocus();
    void Text_VFRTimeCode_Click();
    void Text_VFRTimeCode_LostFocus();

    // The file name the open-file dialog keeps between uses ("" for none).
    const std::u16string& DialogFileName() const { return dialogFileName_; }

private:
    void ChooseSourceFile();
    // The one road of a chosen source file, whichever way it came.
    void TakeSource(const std::u16string& path);
    static void ProposeName(TextBox& box, const std::u16string& prompt, std::optional<std::u16string>& lastDerived,
                            const std::u16string& derived);
    static void ClearPrompt(TextBox& box, const std::u16string& prompt);
    static void FillDefaultWhenEmpty(TextBox& box, const std::u16string& defaultName);

    Platform& platform_;
    Form1Controls controls_;
    std::u16string dialogFileName_;
    bool toolFound_ = false;
    // Until a source is taken, the dialog opens in the folder of the source
    // taken in an earlier start.
    bool sourceTaken_ = false;
    std::u16string rememberedFolder_;
    // Per output box, the name derived from the last source: a box that
    // still holds it (or its prompt) takes the next source's name.
    std::optional<std::u16string> derivedVideo_;
    std::optional<std::u16string> derivedTimecodes_;
};

} // namespace tcdemux
