#include "app/app_window.h"
#include "main_window/command_line.h"

#include <QApplication>
#include <QFile>

#include <cstdio>

#ifdef Q_OS_WIN
#include <windows.h>
#include <shellapi.h>
#endif

namespace {

// The arguments after the program's name. On Windows they are read from the
// wide command line, since argv holds them in the narrow code page, which
// cannot name every file.
std::vector<std::u16string> ProgramArguments(int argc, char* argv[]) {
    std::vector<std::u16string> arguments;
#ifdef Q_OS_WIN
    Q_UNUSED(argc);
    Q_UNUSED(argv);
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 1; wide != nullptr && i < count; ++i)
        arguments.push_back(QString::fromWCharArray(wide[i]).toStdU16String());
    LocalFree(wide);
#else
    for (int i = 1; i < argc; ++i) arguments.push_back(QFile::decodeName(argv[i]).toStdU16String());
#endif
    return arguments;
}

void Print(std::FILE* stream, const std::u16string& text) {
    const QByteArray bytes = QString::fromStdU16String(text).toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
}

} // namespace

int main(int argc, char* argv[]) {
    // The command line is read before the window system is touched, so that
    // --help and --version answer without a display.
    const tcdemux::CommandLine line = tcdemux::ParseCommandLine(ProgramArguments(argc, argv));
    switch (line.action) {
    case tcdemux::CommandLine::Action::ShowHelp: Print(stdout, tcdemux::HelpText()); return EXIT_SUCCESS;
    case tcdemux::CommandLine::Action::ShowVersion: Print(stdout, tcdemux::VersionText()); return EXIT_SUCCESS;
    case tcdemux::CommandLine::Action::Fail: Print(stderr, tcdemux::UsageErrorText(line)); return 2;
    case tcdemux::CommandLine::Action::Run: break;
    }

    // Qt sees only the program's name: every argument was ours, and a file
    // name such as "-style" must not be taken as one of Qt's options.
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    tcdemux::ConfigureApplication();
    tcdemux::QtPlatform platform;
    tcdemux::AppWindow window(platform);
    if (!window.Start(line.files)) return EXIT_FAILURE;
    const int status = QApplication::exec();
    return window.Failed() ? EXIT_FAILURE : status;
}
