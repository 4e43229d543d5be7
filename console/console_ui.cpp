#include "console_ui.h"

#include <QApplication>
#include <QCursor>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QMessageBox>
#include <QThread>

#include "trace.h"

namespace {

class RealConsoleUi final : public ConsoleUi {
public:
    void messageBox(QWidget* owner, const QString& text, const QString& caption, Icon icon) override {
        QMessageBox box(icon == Icon::Error ? QMessageBox::Critical : QMessageBox::NoIcon, caption, text,
                        QMessageBox::Ok, owner);
        box.exec();
    }

    QString saveFileName(QWidget* owner, const QString& defaultName, const QString& filter,
                         const QString& defaultSuffix) override {
        QFileDialog chooser(owner, QString(), defaultName, filter);
        chooser.setAcceptMode(QFileDialog::AcceptSave);
        chooser.setFileMode(QFileDialog::AnyFile);
        chooser.setOption(QFileDialog::DontConfirmOverwrite, true);
        chooser.setDefaultSuffix(defaultSuffix);
        if (chooser.exec() != QDialog::Accepted)
            return {};
        return chooser.selectedFiles().value(0);
    }

    QString openFileName(QWidget* owner, const QString& filter, const QString& defaultSuffix) override {
        QFileDialog chooser(owner, QString(), QString(), filter);
        chooser.setAcceptMode(QFileDialog::AcceptOpen);
        chooser.setFileMode(QFileDialog::ExistingFile);
        chooser.setDefaultSuffix(defaultSuffix);
        if (chooser.exec() != QDialog::Accepted)
            return {};
        return chooser.selectedFiles().value(0);
    }

    void sleepMs(int ms) override {
        QApplication::setOverrideCursor(Qt::BusyCursor);
        const QDeadlineTimer deadline(ms < 0 ? 0 : ms);
        // Paint and timer events go on; keystrokes and clicks wait until the handler ends.
        for (;;) {
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
            const qint64 left = deadline.remainingTime();
            if (left <= 0)
                break;
            QThread::msleep(static_cast<unsigned long>(left < 10 ? left : 10));
        }
        QApplication::restoreOverrideCursor();
    }

    int sendTraceRecord(const QByteArray& record) override { return SendTraceRecordToViewer(record); }
};

RealConsoleUi g_RealUi;
ConsoleUi* g_InstalledUi = nullptr;

} // namespace

ConsoleUi& consoleUi() {
    return g_InstalledUi ? *g_InstalledUi : g_RealUi;
}

ConsoleUi* setConsoleUi(ConsoleUi* ui) {
    ConsoleUi* previous = g_InstalledUi ? g_InstalledUi : &g_RealUi;
    g_InstalledUi = ui;
    return previous;
}
