#pragma once
// What the window's logic needs of the platform. The Qt implementation lives
// in platform/qt; tests use a fake that records calls and can be told to fail.

#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace tcdemux {

// A platform operation that failed. The reason, in the window's own 16-bit
// text, says what and why; it may name files in any script.
class PlatformError : public std::runtime_error {
public:
    explicit PlatformError(std::u16string reason)
        : std::runtime_error("platform operation failed"), reason_(std::move(reason)) {}
    const std::u16string& Reason() const { return reason_; }

private:
    std::u16string reason_;
};

// Variables added to (or replacing those of) the inherited environment.
using Environment = std::vector<std::pair<std::u16string, std::u16string>>;

// The settings of one use of the open-file dialog.
struct OpenFileRequest {
    std::u16string title;
    // The one filter entry as the list shows it; its wildcard stands in the
    // parentheses at its end, "label (*.ext)".
    std::u16string filterLabel;
    // The file the dialog opens preselected; empty for none.
    std::u16string initialFile;
    // Without a file: the folder the dialog opens in; empty (or a folder
    // that is gone) for the current directory.
    std::u16string initialFolder;
};

// What a path handed in from outside the dialog (the command line, a drop)
// turned out to name.
enum class SourceFileState { Readable, Missing, NotAFile, Unreadable, NotVideo };

struct SourceFileCheck {
    SourceFileState state = SourceFileState::Missing;
    // The path made absolute against the current directory, with this
    // platform's separators, as the dialog would have returned it.
    std::u16string absolutePath;
};

class Platform {
public:
    virtual ~Platform() = default;

    // The folder of the running executable, without a trailing separator
    // (except at the file-system root). Asked anew each time.
    virtual std::u16string ProgramFolder() = 0;

    // The separator between folder and name on this platform ("/" or "\").
    virtual char16_t PathSeparator() const = 0;

    // Whether an ordinary file (not a folder) exists at the path.
    virtual bool IsOrdinaryFile(const std::u16string& path) = 0;

    // A modal message with only an OK button, no icon and the application's
    // name as its caption; returns when the user closes it.
    virtual void MessageBox(const std::u16string& text) = 0;

    // Shows the modal open-file dialog. Returns the confirmed file's full path,
    // or nothing when the user cancels.
    virtual std::optional<std::u16string> ShowOpenFile(const OpenFileRequest& request) = 0;

    // Whether the path names a regular file (also through a link) that can
    // be opened for reading and is a video file by its name or its first
    // bytes, and its absolute form.
    virtual SourceFileCheck CheckSourceFile(const std::u16string& path) = 0;

    // Makes the folder the process's current directory, against which the
    // tool resolves bare output names. Throws PlatformError when it cannot.
    virtual void SetCurrentFolder(const std::u16string& folder) = 0;

    // The folder of the last source taken, kept in the user's settings
    // across program starts; empty when there is none.
    virtual std::u16string RememberedSourceFolder() = 0;
    virtual void RememberSourceFolder(const std::u16string& folder) = 0;

    // Starts the program with the arguments as a list (each reaches it
    // exactly as given), detached, in the current directory, with the
    // inherited environment plus `environment`, and with its window (if any)
    // minimized. Throws PlatformError when it cannot be started.
    virtual void StartDetached(const std::u16string& program, const std::vector<std::u16string>& arguments,
                               const Environment& environment) = 0;

    // Ends the program at once.
    virtual void Quit() = 0;
};

} // namespace tcdemux
