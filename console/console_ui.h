// The console's one seam to the person at the screen: message boxes, file
// choosers, waits and the trace sink. The real implementation uses Qt; tests
// install recorders so no dialog ever waits for a person.
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

class QWidget;

class ConsoleUi {
public:
    enum class Icon { None, Error };

    virtual ~ConsoleUi() = default;

    // Modal box with an OK button only.
    virtual void messageBox(QWidget* owner, const QString& text, const QString& caption, Icon icon) = 0;
    // As messageBox, with `details` behind the box's "Show Details..." button.
    // Default: messageBox without them.
    virtual void messageBoxWithDetails(QWidget* owner, const QString& text, const QString& caption, Icon icon,
                                       const QString& /*details*/) {
        messageBox(owner, text, caption, icon);
    }
    // Save / open choosers. filter is a Qt name filter ("Firmware File(*.bin)").
    // Return the chosen path, or an empty string when the operator cancels.
    virtual QString saveFileName(QWidget* owner, const QString& defaultName, const QString& filter,
                                 const QString& defaultSuffix) = 0;
    virtual QString openFileName(QWidget* owner, const QString& filter, const QString& defaultSuffix) = 0;
    // Blocks the caller's handler for ms milliseconds. The real one keeps the
    // window repainting but takes no user input meanwhile.
    virtual void sleepMs(int ms) = 0;
    // Blocks the caller's handler at most ms milliseconds until ready says
    // its condition holds (true) or the time is up (false). ready(sliceMs)
    // may block up to sliceMs. The real one hands it slices of at most
    // 10 ms and repaints between them, taking no user input, as sleepMs does.
    virtual bool awaitMs(int ms, const std::function<bool(int sliceMs)>& ready) = 0;
    // Hands one 5004-byte trace record to a listening viewer; returns its
    // answer, or 0 when none listens.
    virtual int sendTraceRecord(const QByteArray& record) = 0;
};

// The process-wide seam; the real one until a test installs its own.
ConsoleUi& consoleUi();
// Installs ui (not owned) and returns the previous one; nullptr restores the real one.
ConsoleUi* setConsoleUi(ConsoleUi* ui);
