#include "main_window/form1.h"

#include "text/text_tools.h"

namespace tcdemux {

namespace {

// The window's splits: at the last path separator, and at the last dot.
std::u16string LastDelimiterPattern(char16_t delimiter) { return std::u16string(u"1\\0$") + delimiter; }

std::u16string Quoted(const std::u16string& text) {
    std::u16string quoted(1, u'"');
    quoted.append(text).append(1, u'"');
    return quoted;
}

std::u16string CannotOpenMessage(const std::u16string& path, const std::u16string& reason) {
    std::u16string message = u"Cannot open ";
    message.append(Quoted(path)).append(u": ").append(reason);
    return message;
}

std::u16string Reason(SourceFileState state) {
    switch (state) {
    case SourceFileState::Missing: return u"there is no such file.";
    case SourceFileState::NotAFile: return u"it is not a regular file.";
    case SourceFileState::Unreadable: return u"the file cannot be read.";
    case SourceFileState::NotVideo: return u"it is not a video file.";
    case SourceFileState::Readable: break;
    }
    return {};
}

std::u16string OneAtATimeMessage(const std::u16string& taken, std::size_t left) {
    std::u16string message = u"tcdemux takes one file at a time: it opened ";
    message.append(Quoted(taken)).append(u" and left ");
    if (left == 1) return message.append(u"the other file.");
    const std::string count = std::to_string(left);
    return message.append(u"the other ").append(std::u16string(count.begin(), count.end())).append(u" files.");
}

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
    toolFound_ = platform_.IsOrdinaryFile(toolPath);
    if (!toolFound_) {
        platform_.MessageBox(kToolMissingMessage);
        controls_.CommandOpenMKVfile.SetEnabled(false);
    }
    rememberedFolder_ = platform_.RememberedSourceFolder();
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
    const auto chosen = platform_.ShowOpenFile(
        {kOpenDialogTitle, kOpenFilterLabel, dialogFileName_, sourceTaken_ ? std::u16string() : rememberedFolder_});
    if (!chosen) {
        // A cancel: the next dialog opens with no name; the window is unchanged.
        dialogFileName_.clear();
        return;
    }
    dialogFileName_ = *chosen;
    if (dialogFileName_.empty()) return;
    TakeSource(dialogFileName_);
}

void Form1::OpenSourceFiles(const std::vector<std::u16string>& paths) {
    if (paths.empty() || !toolFound_) return;
    const std::u16string& given = paths.front();
    const SourceFileCheck check = platform_.CheckSourceFile(given);
    if (check.state != SourceFileState::Readable) {
        platform_.MessageBox(CannotOpenMessage(given, Reason(check.state)));
        return;
    }
    try {
        TakeSource(check.absolutePath);
    } catch (const PlatformError& error) {
        platform_.MessageBox(CannotOpenMessage(given, error.Reason()));
        return;
    }
    if (paths.size() > 1) platform_.MessageBox(OneAtATimeMessage(given, paths.size() - 1));
}

void Form1::TakeSource(const std::u16string& path) {
    const std::u16string atSeparator = LastDelimiterPattern(platform_.PathSeparator());
    const std::u16string folder = TextTools::AsText(TextTools::PickField(path, atSeparator, 1));
    const std::u16string name = TextTools::AsText(TextTools::PickField(path, atSeparator, 0));
    // The tool resolves bare output names against the current directory,
    // which therefore follows the chosen file.
    platform_.SetCurrentFolder(folder);
    dialogFileName_ = path;
    sourceTaken_ = true;

    controls_.CommandDemux.SetEnabled(true);
    controls_.Text_path.SetText(folder);
    controls_.Text_mkv.SetText(name);

    // The head of the split keeps the dot, so "movie.mkv" gives "movie.avi".
    const std::u16string head = TextTools::AsText(TextTools::PickField(name, LastDelimiterPattern(u'.'), 1));
    ProposeName(controls_.Text_Video, Prompt_Video, derivedVideo_, head + u"avi");
    ProposeName(controls_.Text_VFRTimeCode, Prompt_VFRTimeCode, derivedTimecodes_, head + u"timecodes.txt");

    platform_.RememberSourceFolder(folder);
}

void Form1::ProposeName(TextBox& box, const std::u16string& prompt, std::optional<std::u16string>& lastDerived,
                        const std::u16string& derived) {
    // A box that shows its prompt, or still the name derived from the source
    // before, takes the new name: left as it was, it would send this
    // source's video over the earlier source's outputs. A name the user
    // typed, edited, cleared or had defaulted stays.
    const std::u16string text = box.Text();
    if (text == prompt || (lastDerived && text == *lastDerived)) box.SetText(derived);
    lastDerived = derived;
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
