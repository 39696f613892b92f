#include "platform/qt/qt_platform.h"

#include <algorithm>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QProcess>
#include <QSettings>

#ifdef Q_OS_WIN
#include <windows.h>
// windows.h maps MessageBox to MessageBoxW, which would rename the
// platform operation of that name in this file only.
#undef MessageBox
#endif

namespace tcdemux {

namespace {

QString ToQString(const std::u16string& text) { return QString::fromStdU16String(text); }

// Where the user's settings keep the folder of the last source.
const QString kLastSourceFolderKey = QStringLiteral("dialog/lastSourceFolder");

// Why a start failed, in plain words: the usual causes first, then Qt's own text.
QString StartFailureReason(const QString& program, const QString& qtReason) {
    const QFileInfo info(program);
    if (!info.exists()) return QStringLiteral("the file does not exist");
    if (info.isDir()) return QStringLiteral("it is a folder, not a program");
    if (!info.isExecutable()) return QStringLiteral("the file is not executable");
    return qtReason;
}

// Video by the shared MIME database: the type the file's name and first
// bytes give (a few kilobytes read at most), or one it is a kind of.
bool IsVideo(const QMimeType& type) {
    const auto video = [](const QString& name) { return name.startsWith(QStringLiteral("video/")); };
    const QStringList ancestors = type.allAncestors();
    return video(type.name()) || std::any_of(ancestors.begin(), ancestors.end(), video);
}

} // namespace

std::u16string QtPlatform::ProgramFolder() {
    return QDir::toNativeSeparators(QCoreApplication::applicationDirPath()).toStdU16String();
}

char16_t QtPlatform::PathSeparator() const { return QDir::separator().unicode(); }

bool QtPlatform::IsOrdinaryFile(const std::u16string& path) {
    const QFileInfo info(ToQString(path));
#ifdef Q_OS_WIN
    // Hidden and system files do not count as present.
    const DWORD attributes = GetFileAttributesW(reinterpret_cast<const wchar_t*>(path.c_str()));
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)))
        return false;
#endif
    return info.isFile();
}

QWidget* QtPlatform::DialogParent() { return QApplication::activeWindow(); }

void QtPlatform::MessageBox(const std::u16string& text) {
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), ToQString(text), QMessageBox::Ok,
                    DialogParent());
    box.exec();
}

void QtPlatform::ShowFatalError(const std::u16string& text) {
    QMessageBox box(QMessageBox::Critical, QApplication::applicationName(), ToQString(text), QMessageBox::Ok,
                    DialogParent());
    box.exec();
}

std::optional<std::u16string> QtPlatform::ShowOpenFile(const OpenFileRequest& request) {
    QFileDialog dialog(DialogParent(), ToQString(request.title));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    // Qt reads the wildcard from the parentheses that end the label.
    dialog.setNameFilter(ToQString(request.filterLabel));
    const QString folder = ToQString(request.initialFolder);
    if (!request.initialFile.empty()) {
        const QFileInfo initial(ToQString(request.initialFile));
        dialog.setDirectory(initial.absolutePath());
        dialog.selectFile(initial.fileName());
    } else if (!folder.isEmpty() && QFileInfo(folder).isDir()) {
        dialog.setDirectory(folder);
    } else {
        dialog.setDirectory(QDir::currentPath());
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;

    const QFileInfo chosen(dialog.selectedFiles().constFirst());
    return QDir::toNativeSeparators(chosen.absoluteFilePath()).toStdU16String();
}

SourceFileCheck QtPlatform::CheckSourceFile(const std::u16string& path) {
    const QString given = ToQString(path);
    const QFileInfo info(given);
    SourceFileCheck check;
    check.absolutePath = QDir::toNativeSeparators(QDir::cleanPath(info.absoluteFilePath())).toStdU16String();
    if (given.isEmpty() || !info.exists()) {
        check.state = SourceFileState::Missing;
    } else if (!info.isFile()) {
        // Folders, devices, pipes and sockets.
        check.state = SourceFileState::NotAFile;
    } else {
        // Opening it is the only sure test: permissions, access lists and
        // the file system all have their say.
        QFile file(given);
        check.state = !file.open(QIODevice::ReadOnly) ? SourceFileState::Unreadable
                      : IsVideo(QMimeDatabase().mimeTypeForFile(info)) ? SourceFileState::Readable
                                                                         : SourceFileState::NotVideo;
    }
    return check;
}

void QtPlatform::SetCurrentFolder(const std::u16string& folder) {
    if (!QDir::setCurrent(ToQString(folder)))
        throw PlatformError(u"cannot make the folder \"" + folder + u"\" the current folder");
}

std::u16string QtPlatform::RememberedSourceFolder() {
    return QSettings().value(kLastSourceFolderKey).toString().toStdU16String();
}

void QtPlatform::RememberSourceFolder(const std::u16string& folder) {
    QSettings settings;
    settings.setValue(kLastSourceFolderKey, ToQString(folder));
    // Written at once: the program may end by Quit without tearing down.
    settings.sync();
}

void QtPlatform::StartDetached(const std::u16string& program, const std::vector<std::u16string>& arguments,
                               const Environment& environment) {
    QProcess process;
    process.setProgram(ToQString(program));
    QStringList list;
    for (const auto& argument : arguments) list << ToQString(argument);
    process.setArguments(list);
    process.setWorkingDirectory(QDir::currentPath());
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    for (const auto& [name, value] : environment) variables.insert(ToQString(name), ToQString(value));
    process.setProcessEnvironment(variables);
#ifdef Q_OS_WIN
    process.setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments* args) {
        args->startupInfo->dwFlags |= STARTF_USESHOWWINDOW;
        args->startupInfo->wShowWindow = SW_SHOWMINIMIZED;
    });
#endif
    if (!process.startDetached())
        throw PlatformError(StartFailureReason(process.program(), process.errorString()).toStdU16String());
}

void QtPlatform::Quit() { QCoreApplication::exit(0); }

} // namespace tcdemux
