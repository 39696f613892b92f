#include "app/app_window.h"

#include "main_window/command_line.h"

#include <QApplication>
#include <QFont>
#include <QIcon>

// The icons are compiled into a static library; make sure the linker keeps them.
static void InitIconResources() { Q_INIT_RESOURCE(tcdemux); }

namespace tcdemux {

namespace {

// The sizes of the application icon's images, as the hicolor theme has them.
constexpr int kIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

} // namespace

AppWindow::AppWindow(QtPlatform& platform) : platform_(platform), form_(platform, window_.Controls()) { Wire(); }

bool AppWindow::Start(const std::vector<std::u16string>& files) {
    Guarded([this] { form_.Form_Load(); });
    if (failed_) return false;
    window_.show();
    Guarded([this, &files] { form_.OpenSourceFiles(files); });
    return !failed_;
}

void AppWindow::Guarded(const std::function<void()>& handler) {
    if (failed_) return;
    try {
        handler();
        return;
    } catch (const PlatformError& error) {
        failed_ = true;
        platform_.ShowFatalError(error.Reason());
    } catch (const std::exception& error) {
        failed_ = true;
        platform_.ShowFatalError(QString::fromUtf8(error.what()).toStdU16String());
    } catch (...) {
        failed_ = true;
        platform_.ShowFatalError(u"Unexpected error");
    }
    QCoreApplication::exit(EXIT_FAILURE);
}

void AppWindow::Wire() {
    QObject::connect(window_.CommandOpenMKVfile, &QPushButton::clicked, &window_,
                     [this] { Guarded([this] { form_.CommandOpenMKVfile_Click(); }); });
    QObject::connect(window_.CommandDemux, &QPushButton::clicked, &window_,
                     [this] { Guarded([this] { form_.CommandDemux_Click(); }); });
    QObject::connect(window_.CommandExit, &QPushButton::clicked, &window_,
                     [this] { Guarded([this] { form_.CommandExit_Click(); }); });
    QObject::connect(&window_, &Form1Window::filesDropped, &window_, [this](const QStringList& paths) {
        std::vector<std::u16string> files;
        for (const QString& path : paths) files.push_back(path.toStdU16String());
        Guarded([this, &files] { form_.OpenSourceFiles(files); });
    });
    QObject::connect(&window_, &Form1Window::textBoxClicked, &window_, [this](QLineEdit* box) {
        Guarded([this, box] {
            if (box == window_.Text_Video) form_.Text_Video_Click();
            if (box == window_.Text_VFRTimeCode) form_.Text_VFRTimeCode_Click();
        });
    });
    QObject::connect(&window_, &Form1Window::textBoxLostFocus, &window_, [this](QLineEdit* box) {
        Guarded([this, box] {
            if (box == window_.Text_Video) form_.Text_Video_LostFocus();
            if (box == window_.Text_VFRTimeCode) form_.Text_VFRTimeCode_LostFocus();
        });
    });
}

void ConfigureApplication() {
    QCoreApplication::setOrganizationName(QString::fromUtf16(kProgramName));
    QCoreApplication::setApplicationName(QString::fromUtf16(kProgramName));
    QCoreApplication::setApplicationVersion(QString::fromUtf16(kProgramVersion));
    // Lets the desktop match the window with the installed menu entry.
    QGuiApplication::setDesktopFileName(QString::fromUtf16(kProgramName));
    InitIconResources();
    QIcon icon;
    for (int size : kIconSizes) icon.addFile(QStringLiteral(":/icons/tcdemux-%1.png").arg(size));
    QApplication::setWindowIcon(icon);
    // Where the Ming-style face the button names is missing, use an installed
    // Traditional-Chinese Ming face instead.
    QFont::insertSubstitutions(QStringLiteral("新細明體"),
                               {QStringLiteral("PMingLiU"), QStringLiteral("AR PL UMing TW"),
                                QStringLiteral("AR PL UMing HK"), QStringLiteral("AR PL New Sung"),
                                QStringLiteral("Noto Serif CJK TC")});
}

} // namespace tcdemux
