#include "main_window/form1.h"

#include "text/text_tools.h"

namespace tcdemux {

namespace {

// The window's splits: at the last path separator, and at the last dot.
std::u16string LastDelimiterPattern(char16_t delimiter) { return std::u16string(u"1\\0$") + delimiter; }

} // namespace

Form1::Form1(Platform& platform, Form1Controls controls) : platform_(platform), controls_(controls) {}

void Form1::Form_Load() {
    Quote = std::u16string(1, u'"');
    Prompt_path = TextTools::AnsiRoundTrip(u"路徑");
    Prompt_Video = TextTools::AnsiRoundTrip(u"Output AVI file name");
    Prompt_mkv = TextTools::AnsiRoundTrip(u"欲分解的MKV文件，請按->");
    Prompt_VFRTimeCode = TextTools::AnsiRoundTrip(u"Output timecodes file name");

    controls_.Text_path.SetText(Prompt_path);
    controls_.Text_mkv.SetText(Prompt_mkv);
    controls_.Text_Video.SetText(Prompt_Video);
    controls_.Text_VFRTimeCode.SetText(Prompt_VFRTimeCode);

    const std::u16string toolPath = platform_.ProgramFolder() + platform_.PathSeparator() + kToolName;
    if (!platform_.IsOrdinaryFile(toolPath)) {
        platform_.MessageBox(kToolMissingMessage);
        controls_.CommandOpenMKVfile.SetEnabled(false);
    }
}

void Form1::CommandOpenMKVfile_Click() noexcept {
    // Any failure here (in the dialog or in the splitting) is dropped without
    // a message; whatever was already filled in stays.
    try {
        ChooseSourceFile();
    } catch (...) {
    }
}

void Form1::ChooseSourceFile() {
    const auto chosen = platform_.ShowOpenFile({kOpenDialogTitle, kOpenFilterLabel, dialogFileName_});
    if (!chosen) {
        // A cancel: the next dialog opens with no name; the window is unchanged.
        dialogFileName_.clear();
        return;
    }
    dialogFileName_ = *chosen;
    if (dialogFileName_.empty()) return;

    controls_.CommandDemux.SetEnabled(true);
    const std::u16string atSeparator = LastDelimiterPattern(platform_.PathSeparator());
    controls_.Text_path.SetText(TextTools::AsText(TextTools::PickField(dialogFileName_, atSeparator, 1)));
    const std::u16string name = TextTools::AsText(TextTools::PickField(dialogFileName_, atSeparator, 0));
    controls_.Text_mkv.SetText(name);

    // Only a box that still shows its prompt receives a derived name; the
    // head of the split keeps the dot, so "movie.mkv" gives "movie.avi".
    const std::u16string atDot = LastDelimiterPattern(u'.');
    if (controls_.Text_Video.Text() == Prompt_Video)
        controls_.Text_Video.SetText(TextTools::AsText(TextTools::PickField(name, atDot, 1)) + u"avi");
    if (controls_.Text_VFRTimeCode.Text() == Prompt_VFRTimeCode)
        controls_.Text_VFRTimeCode.SetText(TextTools::AsText(TextTools::PickField(name, atDot, 1)) +
                                           u"timecodes.txt");
}

void Form1::CommandDemux_Click() {
    // Read in a fixed order: the program's folder, then the four boxes.
    const std::u16string programFolder = platform_.ProgramFolder();
    const std::u16string sourceFolder = controls_.Text_path.Text();
    const std::u16string sourceName = controls_.Text_mkv.Text();
    const std::u16string videoName = controls_.Text_Video.Text();
    const std::u16string timecodesName = controls_.Text_VFRTimeCode.Text();
    const DemuxCommand command = DemuxCommand::Build(programFolder, platform_.PathSeparator(), kToolName,
                                                     sourceFolder, sourceName, videoName, timecodesName);
    try {
        platform_.StartDetached(command.program, command.arguments, command.environment);
    } catch (const PlatformError& error) {
        // The tool may have been removed or made unusable since start-up:
        // say so and keep the window, with everything typed in it.
        std::u16string message = u"Cannot start ";
        message.append(Quote).append(command.program).append(Quote).append(u": ").append(error.Reason());
        platform_.MessageBox(message);
    }
}

void Form1::CommandExit_Click() { platform_.Quit(); }

void Form1::Text_Video_Click() { ClearPrompt(controls_.Text_Video, Prompt_Video); }
void Form1::Text_Video_LostFocus() { FillDefaultWhenEmpty(controls_.Text_Video, kDefaultVideoName); }
void Form1::Text_VFRTimeCode_Click() { ClearPrompt(controls_.Text_VFRTimeCode, Prompt_VFRTimeCode); }
void Form1::Text_VFRTimeCode_LostFocus() {
    FillDefaultWhenEmpty(controls_.Text_VFRTimeCode, kDefaultTimecodesName);
}

void Form1::ClearPrompt(TextBox& box, const std::u16string& prompt) {
    if (box.Text() == prompt) box.SetText(u"");
}

void Form1::FillDefaultWhenEmpty(TextBox& box, const std::u16string& defaultName) {
    const std::u16string text = box.Text();
    // The text is assigned in either case, which brings the caret and the
    // visible part of the text back to its start.
    box.SetText(text.empty() ? std::u16string(defaultName) : text);
}

} // namespace tcdemux
