// The console's session log: the log file that the console link's recorder
// writes, the records held for the "Session Log" window, and the window
// itself (made when first opened). UI thread, except that the recorder takes
// records from any thread.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <memory>

#include "console_ui.h"
#include "log/recorder.h"
#include "session_log_model.h"

class ConsoleLink;
class SessionLogWindow;
class QWidget;

class SessionLog : public QObject {
public:
    // Takes the records of link's recorder, which must outlive this (no link
    // open yet). The file is named by the time of this call and made with the
    // first record, unless the operator turned the file off; owner is the
    // main dialog, the window's parent.
    SessionLog(ConsoleLink& link, QWidget* owner);
    ~SessionLog() override;

    session::Recorder& recorder() { return m_Recorder; }
    SessionLogModel& model() { return m_Model; }

    // Shows the window (made on first use), raised and active.
    void showWindow();
    // The window, or nullptr before it was first shown.
    SessionLogWindow* window() const;

    bool fileEnabled() const { return m_FileEnabled; }
    // Turns the file on or off and keeps that choice in its own small file
    // beside the settings (never in the settings file itself).
    void setFileEnabled(bool on);
    // The log file's path (once made) and what stops it, empty while it works.
    QString filePath() const;
    QString fileProblem() const;

    // Takes the records waiting in the recorder into the model now; it also
    // runs by itself shortly after records arrive.
    void drain();

    // Where the operator's file choice is kept.
    static QString choicePath();

    // Milliseconds between a record's arrival and its row (records arriving meanwhile share one update).
    static constexpr int kDrainDelayMs = 50;

private:
    void scheduleDrain();
    void updateWindow();

    session::Recorder& m_Recorder;
    SessionLogModel m_Model;
    QWidget* m_Owner;
    QPointer<SessionLogWindow> m_Window;
    QTimer m_DrainTimer;
    bool m_FileEnabled = true;
    QString m_FileDir, m_FileName;
    std::unique_ptr<session::LogFile> m_Parked; // the file while it is turned off
    uint64_t m_ShownVersion = ~0ull;
};

// Shows a message box owned by owner through consoleUi() (with details
// behind its button when there are any) and records it with recorder. UI thread.
void ShowConsoleBox(session::Recorder& recorder, QWidget* owner, const QString& text, const QString& caption,
                    ConsoleUi::Icon icon, const QString& details = QString());
