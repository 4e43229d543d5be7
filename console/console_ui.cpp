#include "console_ui.h"

#include <QApplication>
#include <QCursor>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QScrollArea>
#include <QThread>

#include "front_end.h"
#include "trace.h"

namespace {

// Texts longer than this (a query's data may fill the whole mailbox) scroll
// inside the box instead of growing it past the screen.
constexpr int kScrollTextChars = 1000;
constexpr int kScrollTextLines = 25;

// Puts the box's text label into a scroll area in the same place; the text
// and the caption stay as they are.
void makeScrollable(QMessageBox& box) {
    auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    const int index = label && grid ? grid->indexOf(label) : -1;
    if (index < 0)
        return;
    int row = 0, column = 0, rowSpan = 0, columnSpan = 0;
    grid->getItemPosition(index, &row, &column, &rowSpan, &columnSpan);
    grid->removeWidget(label);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto* scroll = new QScrollArea(&box);
    scroll->setObjectName(QStringLiteral("cmdora_box_scroll"));
    scroll->setWidgetResizable(true);
    scroll->setWidget(label);
    const QFontMetrics fm(label->font());
    scroll->setMinimumSize(fm.averageCharWidth() * 60, fm.height() * 15);
    grid->addWidget(scroll, row, column, rowSpan, columnSpan);
}

class RealConsoleUi final : public ConsoleUi {
public:
    void messageBox(QWidget* owner, const QString& text, const QString& caption, Icon icon) override {
        messageBoxWithDetails(owner, text, caption, icon, QString());
    }

    void messageBoxWithDetails(QWidget* owner, const QString& text, const QString& caption, Icon icon,
                               const QString& details) override {
        QMessageBox box(icon == Icon::Error ? QMessageBox::Critical : QMessageBox::NoIcon, caption, text,
                        QMessageBox::Ok, owner);
        if (text.size() > kScrollTextChars || text.count(QLatin1Char('\n')) > kScrollTextLines)
            makeScrollable(box);
        if (!details.isEmpty())
            box.setDetailedText(details);
        // The operator answers the box with the plain pointer, even inside a busy wait.
        const bool busy = QApplication::overrideCursor() != nullptr;
        if (busy)
            QApplication::setOverrideCursor(QCursor(Qt::ArrowCursor));
        box.exec();
        if (busy)
            QApplication::restoreOverrideCursor();
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

    bool awaitMs(int ms, const std::function<bool(int sliceMs)>& ready) override {
        QApplication::setOverrideCursor(Qt::BusyCursor);
        const QDeadlineTimer deadline(ms < 0 ? 0 : ms);
        bool met = false;
        for (;;) {
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
            const qint64 left = deadline.remainingTime();
            const int slice = static_cast<int>(qBound(qint64(0), left, qint64(session::kAwaitSliceMs)));
            QElapsedTimer used;
            used.start();
            if (ready(slice)) {
                met = true;
                break;
            }
            if (left <= 0)
                break;
            // ready gave up early (nothing can come yet): pause out the slice
            const qint64 rest = slice - used.elapsed();
            if (rest > 0)
                QThread::msleep(static_cast<unsigned long>(rest));
        }
        QApplication::restoreOverrideCursor();
        return met;
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
