#include "widget_test_support.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

namespace tcdemux::test {

namespace {

// Marks a modal as handled; a dialog created later at the same address is a
// new object without the mark.
constexpr char kHandledProperty[] = "tcdemuxTestHandled";

// The window keeps the folder of its last source in the user's settings. No
// suite may read or change the settings of the person running the tests, so
// every test program keeps them in a folder of its own, removed at its end.
QString& SettingsFolderPath() {
    static QString path;
    return path;
}

void KeepSettingsInATemporaryFolder() {
    static QTemporaryDir folder;
    SettingsFolderPath() = folder.path();
    for (const auto format : {QSettings::NativeFormat, QSettings::IniFormat})
        for (const auto scope : {QSettings::UserScope, QSettings::SystemScope})
            QSettings::setPath(format, scope, folder.path());
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(KeepSettingsInATemporaryFolder)

QString SettingsFolder() { return SettingsFolderPath(); }

FolderPlatform::FolderPlatform(const QString& folder) : folder_(folder) {}

std::u16string FolderPlatform::ProgramFolder() { return QDir::toNativeSeparators(folder_).toStdU16String(); }

void FolderPlatform::StartDetached(const std::u16string& program, const std::vector<std::u16string>& arguments,
                                   const Environment& environment) {
    QtPlatform::StartDetached(program, arguments, environment);
    ++startsMade_;
}

void RecordingPlatform::StartDetached(const std::u16string& program, const std::vector<std::u16string>& arguments,
                                      const Environment& environment) {
    Start start{QString::fromStdU16String(program), {}, environment};
    for (const auto& argument : arguments) start.arguments << QString::fromStdU16String(argument);
    starts.push_back(start);
}

ModalWatcher::ModalWatcher() {
    timer_.setInterval(5);
    connect(&timer_, &QTimer::timeout, this, &ModalWatcher::Poll);
    timer_.start();
}

void ModalWatcher::Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || !modal->isVisible() || modal->property(kHandledProperty).toBool()) return;
    modal->setProperty(kHandledProperty, true);
    ++seen_;
    QPointer<QWidget> guard(modal);
    if (handler_)
        handler_(modal);
    else
        unexpected_ << Describe(modal);
    if (guard && guard->isVisible()) CloseModal(guard);
}

void CloseModal(QWidget* modal) {
    if (auto* dialog = qobject_cast<QDialog*>(modal))
        dialog->reject();
    else
        modal->close();
}

QString Describe(QWidget* modal) {
    QString text = QStringLiteral("%1 \"%2\"").arg(QString::fromLatin1(modal->metaObject()->className()),
                                                    modal->windowTitle());
    if (auto* box = qobject_cast<QMessageBox*>(modal)) text += QStringLiteral(": ") + box->text();
    return text;
}

void DeliverPendingEvents() { QCoreApplication::sendPostedEvents(); }

bool ActivateWindow(QWidget& window) {
    if (!window.isVisible()) window.show();
    if (!QTest::qWaitForWindowExposed(&window)) return false;
    window.activateWindow();
    return QTest::qWaitForWindowActive(&window);
}

bool ChooseSource(Form1Window& window, ModalWatcher& modals, const QString& path) {
    bool dialogSeen = false;
    modals.SetHandler([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (dialog == nullptr) return;
        dialogSeen = true;
        dialog->selectFile(path);
        static_cast<QDialog*>(dialog)->accept(); // QFileDialog::accept, which checks the name
    });
    QTest::mouseClick(window.CommandOpenMKVfile, Qt::LeftButton);
    modals.SetHandler(nullptr);
    // A window manager gives the activation back to the window when the
    // dialog closes; the offscreen platform has none, so do it here.
    return dialogSeen && ActivateWindow(window);
}

bool CreateFile(const QString& path, QFile::Permissions permissions) {
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) return false;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    file.close();
    return file.setPermissions(permissions);
}

} // namespace tcdemux::test
