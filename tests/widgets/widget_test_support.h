#pragma once
// Shared pieces of the widget suites: a QtPlatform whose program folder is a
// folder of the test's choosing, a watcher that deals with modal dialogs (the
// message box and the open-file dialog run their own event loops, so a test
// can only reach them from a timer), and small file helpers.

#include "app/app_window.h"

#include <QFile>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <string>
#include <vector>

class QWidget;

namespace tcdemux::test {

// The real Qt platform, except that the program folder (where the window
// looks for the tool and from where it starts it) is the given folder. It
// counts the programs it started: a detached start has happened (or not)
// by the time the call returns, so a test can see at once that nothing was
// started, without waiting for traces a program would leave.
class FolderPlatform : public QtPlatform {
public:
    explicit FolderPlatform(const QString& folder);
    std::u16string ProgramFolder() override;
    void StartDetached(const std::u16string& program, const std::vector<std::u16string>& arguments,
                       const Environment& environment) override;
    int StartsMade() const { return startsMade_; }

private:
    QString folder_;
    int startsMade_ = 0;
};

// FolderPlatform that records the starts instead of starting anything.
class RecordingPlatform : public FolderPlatform {
public:
    using FolderPlatform::FolderPlatform;

    struct Start {
        QString program;
        QStringList arguments;
        Environment environment;
    };
    std::vector<Start> starts;

    void StartDetached(const std::u16string& program, const std::vector<std::u16string>& arguments,
                       const Environment& environment) override;
};

// Watches for modal widgets while it lives. Each modal that opens is handed
// once to the handler, which checks it and closes it (accept, reject, click);
// one still open after the handler is rejected. Without a handler a modal
// counts as unexpected and is rejected, so a test never hangs on one.
class ModalWatcher : public QObject {
public:
    using Handler = std::function<void(QWidget* modal)>;

    ModalWatcher();
    void SetHandler(Handler handler) { handler_ = std::move(handler); }
    // Every modal seen so far, and those that came without a handler.
    int Seen() const { return seen_; }
    const QStringList& Unexpected() const { return unexpected_; }

private:
    void Poll();

    QTimer timer_;
    Handler handler_;
    int seen_ = 0;
    QStringList unexpected_;
};

// The window as a test drives it: the watcher (in place before Load can raise
// a message), the platform, and the window on it, torn down in reverse.
template <class PlatformType>
struct RunningWindow {
    explicit RunningWindow(const QString& programFolder) : platform(programFolder), app(platform) {}

    ModalWatcher modals;
    PlatformType platform;
    AppWindow app;
};

// The folder that holds the user's settings in a test program: a temporary
// one, set up before main() creates the application.
QString SettingsFolder();

// Closes a modal widget: a dialog is rejected, anything else closed.
void CloseModal(QWidget* modal);

// Class, caption and text of a modal, for failure messages.
QString Describe(QWidget* modal);

// Delivers every event already waiting in the queue (queued signals and
// calls among them), so that what the last step set in motion has been
// done before the test looks: an exact point, where waiting a little would
// only guess.
void DeliverPendingEvents();

// Shows the window (if hidden), activates it and waits until it is active,
// which keyboard focus and accelerators need.
bool ActivateWindow(QWidget& window);

// Clicks "VFR mkv" and confirms the file in the open-file dialog, then makes
// the window active again. Returns whether a file dialog came up (and the
// window is active). The watcher's handler is cleared afterwards.
bool ChooseSource(Form1Window& window, ModalWatcher& modals, const QString& path);

// Creates an empty file, and the folders above it, with the permissions given.
bool CreateFile(const QString& path,
                QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                                 QFile::ReadOther);

// Read, write and execute for the owner, read and execute for the others.
inline constexpr QFile::Permissions kExecutable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                  QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                                  QFile::ExeOther;

} // namespace tcdemux::test
