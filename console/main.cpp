// Cmdora: engineering console for the modules of a video-wall controller.
#include <QApplication>

#include "app.h"

int main(int argc, char** argv) {
    QApplication qapp(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(kAppTitle));
    InstallLumoMessageSink();
    CMorrackApp app;
    return app.Run();
}
