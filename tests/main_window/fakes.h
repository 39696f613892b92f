#pragma once
// In-memory controls and a platform that records every call and can be told
// to fail, so the window's handlers run without a window system.

#include "main_window/form1.h"

#include <deque>
#include <map>
#include <set>
#include <stdexcept>
#include <variant>

namespace tcdemux::testing {

class FakeTextBox : public TextBox {
public:
    explicit FakeTextBox(std::u16string text = {}) : text_(std::move(text)) {}
    std::u16string Text() const override { return text_; }
    void SetText(const std::u16string& text) override {
        if (failOnSet) throw std::runtime_error("cannot set text");
        text_ = text;
        ++assignments;
    }
    // What the user types: not an assignment by the handlers.
    void Type(const std::u16string& text) { text_ = text; }

    bool failOnSet = false;
    int assignments = 0;

private:
    std::u16string text_;
};

class FakeButton : public Button {
public:
    explicit FakeButton(bool enabled) : enabled_(enabled) {}
    bool Enabled() const override { return enabled_; }
    void SetEnabled(bool enabled) override { enabled_ = enabled; }

private:
    bool enabled_;
};

struct StartCall {
    std::u16string program;
    std::vector<std::u16string> arguments;
    Environment environment;
};

class FakePlatform : public Platform {
public:
    // What the next dialog does: confirm a path, cancel, or fail.
    struct Cancel {};
    struct Fail {};
    using DialogOutcome = std::variant<std::u16string, Cancel, Fail>;

    std::u16string ProgramFolder() override {
        ++programFolderQueries;
        return programFolder;
    }
    char16_t PathSeparator() const override { return separator; }
    bool IsOrdinaryFile(const std::u16string& path) override {
        fileQueries.push_back(path);
        return files.count(path) > 0;
    }
    void MessageBox(const std::u16string& text) override { messages.push_back(text); }
    std::optional<std::u16string> ShowOpenFile(const OpenFileRequest& request) override {
        dialogs.push_back(request);
        if (outcomes.empty()) throw std::logic_error("test set no dialog outcome");
        const DialogOutcome outcome = outcomes.front();
        outcomes.pop_front();
        if (std::holds_alternative<Fail>(outcome)) throw PlatformError(u"dialog failed");
        if (std::holds_alternative<Cancel>(outcome)) return std::nullopt;
        return std::get<std::u16string>(outcome);
    }
    SourceFileCheck CheckSourceFile(const std::u16string& path) override {
        sourceChecks.push_back(path);
        // Relative paths lie in the current folder, which ends in a separator.
        const bool absolute = !path.empty() && (path.front() == separator || path.find(u':') != std::u16string::npos);
        const std::u16string full = absolute ? path : currentFolder + path;
        const auto found = sourceFiles.find(full);
        return {found == sourceFiles.end() ? SourceFileState::Missing : found->second, full};
    }
    void SetCurrentFolder(const std::u16string& folder) override {
        if (!currentFolderFailure.empty()) throw PlatformError(currentFolderFailure);
        currentFolder = folder;
    }
    std::u16string RememberedSourceFolder() override { return rememberedFolder; }
    void RememberSourceFolder(const std::u16string& folder) override {
        rememberedFolder = folder;
        ++remembers;
    }
    void StartDetached(const std::u16string& program, const std::vector<std::u16string>& arguments,
                       const Environment& environment) override {
        if (!startFailure.empty()) throw PlatformError(startFailure);
        starts.push_back({program, arguments, environment});
    }
    void Quit() override { ++quits; }

    std::u16string programFolder = u"/opt/tcdemux";
    char16_t separator = u'/';
    std::set<std::u16string> files{u"/opt/tcdemux/mp.exe"};
    std::deque<DialogOutcome> outcomes;
    // What CheckSourceFile finds, by absolute path; any other path is missing.
    std::map<std::u16string, SourceFileState> sourceFiles;
    std::u16string currentFolder = u"/start/";
    std::u16string currentFolderFailure;
    // The user's settings, kept across program starts.
    std::u16string rememberedFolder;
    std::u16string startFailure;

    int programFolderQueries = 0;
    std::vector<std::u16string> fileQueries;
    std::vector<std::u16string> messages;
    std::vector<OpenFileRequest> dialogs;
    std::vector<std::u16string> sourceChecks;
    int remembers = 0;
    std::vector<StartCall> starts;
    int quits = 0;
};

// The window as designed: the design-time texts, "&Demux" disabled.
struct FakeWindow {
    FakeTextBox Text_mkv{u"欲分解的MKV文件，請按->"};
    FakeButton CommandOpenMKVfile{true};
    FakeTextBox Text_Video{u"Output AVI file name"};
    FakeTextBox Text_VFRTimeCode{u"Output timecodes file name"};
    FakeButton CommandDemux{false};
    FakeTextBox Text_path{u"路徑"};
    FakeButton CommandExit{true};

    Form1Controls Controls() {
        return {Text_mkv, CommandOpenMKVfile, Text_Video, Text_VFRTimeCode, CommandDemux, Text_path, CommandExit};
    }
};

} // namespace tcdemux::testing
