#include "app.h"

#include <QCoreApplication>
#include <QDir>
#include <QMetaObject>
#include <QThread>

#include "console_ui.h"
#include "d_cmdora.h"
#include "lumo_net.h"
#include "settings.h"
#include "test_timer.h"

QString SettingsRoot() {
    const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!xdg.isEmpty())
        return xdg;
    return QDir::homePath() + QStringLiteral("/.config");
}

bool CMorrackApp::InitInstance() {
    const QString root = SettingsRoot();
    QDir().mkpath(root); // the stand-in for the drive may not exist yet; failures are ignored
    QDir().mkdir(root + QStringLiteral("/Norvane_Lumo"));
    QDir().mkdir(root + QStringLiteral("/Norvane_Lumo/Temporary"));
    g_SettingsPath = root + QStringLiteral("/Norvane_Lumo/CMDORA_Unicode.bin");

    auto* dialog = new D_CMDORA(nullptr);
    dialog->exec();
    delete dialog;
    return false;
}

int CMorrackApp::ExitInstance() {
    return kCmdoraExitCode;
}

int CMorrackApp::Run() {
    InitInstance();
    return ExitInstance();
}

void InstallLumoMessageSink() {
    SetLumoMessageSink([](const std::wstring& text, const std::wstring& caption) {
        const QString qText = QString::fromStdWString(text);
        const QString qCaption = QString::fromStdWString(caption);
        auto show = [qText, qCaption] {
            consoleUi().messageBox(nullptr, qText, qCaption, ConsoleUi::Icon::Error);
        };
        QCoreApplication* app = QCoreApplication::instance();
        if (!app)
            return;
        if (QThread::currentThread() == app->thread())
            show(); // modal where it happens, like the platform's box
        else
            QMetaObject::invokeMethod(app, show, Qt::QueuedConnection);
    });

    // While the device link waits on the UI thread (the TCP connect, the
    // greeting, the close pauses) the window keeps painting; the busy pointer
    // the operation set stays, no user input is taken and test-timer ticks
    // wait, as in the console's own pauses.
    SetLumoWaitHook([] {
        QCoreApplication* app = QCoreApplication::instance();
        if (!app || QThread::currentThread() != app->thread())
            return;
        const TestTickHold hold;
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    });
}
