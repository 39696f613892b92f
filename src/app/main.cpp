#include "app/app_window.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    tcdemux::ConfigureApplication();
    tcdemux::QtPlatform platform;
    tcdemux::AppWindow window(platform);
    if (!window.Start()) return EXIT_FAILURE;
    const int status = QApplication::exec();
    return window.Failed() ? EXIT_FAILURE : status;
}
