#include "app/app_window.h"
#include "main_window/command_line.h"

#include <QApplication>
#include <QFile>

#include <cstdio>

namespace {

void Print(std::FILE* stream, const std::u16string& text) {
    const QByteArray bytes = QString::fromStdU16String(text).toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
}

} // namespace

int main(int argc, char* argv[]) {
    // The command line is read before the window system is touched, so that
    // --help and --version answer without a display.
    std::vector<std::u16string> arguments;
    for (int i = 1; i < argc; ++i) arguments.push_back(QFile::decodeName(argv[i]).toStdU16String());
    const tcdemux::CommandLine line = tcdemux::ParseCommandLine(arguments);
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
