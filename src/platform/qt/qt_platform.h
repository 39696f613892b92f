#pragma once
// The platform operations on Qt: message box, open-file dialog, file tests,
// current folder, detached process start, program folder, the remembered
// source folder (in QSettings: organisation and application "tcdemux"), quit.

#include "platform/platform.h"

class QWidget;

namespace tcdemux {

class QtPlatform : public Platform {
public:
    std::u16string ProgramFolder() override;
    char16_t PathSeparator() const override;
    bool IsOrdinaryFile(const std::u16string& path) override;
    void MessageBox(const std::u16string& text) override;
    std::optional<std::u16string> ShowOpenFile(const OpenFileRequest& request) override;
    SourceFileCheck CheckSourceFile(const std::u16string& path) override;
    void SetCurrentFolder(const std::u16string& folder) override;
    std::u16string RememberedSourceFolder() override;
    void RememberSourceFolder(const std::u16string& folder) override;
    void StartDetached(const std::u16string& program, const std::vector<std::u16string>& arguments,
                       const Environment& environment) override;
    void Quit() override;

    // Shows an error that ends the program, with the error's text.
    void ShowFatalError(const std::u16string& text);

private:
    // Dialogs are parented to the window that is active when they open.
    static QWidget* DialogParent();
};

} // namespace tcdemux
