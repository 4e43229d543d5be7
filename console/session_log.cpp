#include "session_log.h"

#include <QDateTime>
#include <QFileInfo>
#include <QMetaObject>
#include <QSettings>

#include <cstring>

#include "app.h"
#include "console_link.h"
#include "session_log_window.h"
#include "settings.h"

namespace {

const QString kFileKey = QStringLiteral("SessionLog/file");

} // namespace

QString SessionLog::choicePath() {
    const QString folder = g_SettingsPath.isEmpty() ? SettingsRoot() + QStringLiteral("/Norvane_Lumo")
                                                    : QFileInfo(g_SettingsPath).absolutePath();
    return folder + QStringLiteral("/CMDORA_SessionLog.ini");
}

SessionLog::SessionLog(ConsoleLink& link, QWidget* owner) : m_Recorder(link.recorder()), m_Owner(owner) {
    // Read only: the choice's file is written when the operator changes it.
    if (QFileInfo::exists(choicePath()))
        m_FileEnabled = QSettings(choicePath(), QSettings::IniFormat).value(kFileKey, true).toBool();
    m_FileDir = QString::fromStdString(session::LogDirectory());
    m_FileName = QString::fromStdString(session::LogFileName(QDateTime::currentMSecsSinceEpoch()));
    if (m_FileEnabled)
        m_Recorder.SetFile(
            std::make_unique<session::LogFile>(m_FileDir.toStdString(), m_FileName.toStdString()));

    m_DrainTimer.setSingleShot(true);
    connect(&m_DrainTimer, &QTimer::timeout, this, &SessionLog::drain);
    m_Recorder.SetCollecting(true, m_Model.cap());
    // The wake comes from any thread, under the recorder's lock: it only posts.
    m_Recorder.SetWake([this] {
        QMetaObject::invokeMethod(
            this, [this] { scheduleDrain(); }, Qt::QueuedConnection);
    });
}

SessionLog::~SessionLog() {
    m_Recorder.SetWake(nullptr); // no post may name this object from now on
    delete m_Window.data();
}

SessionLogWindow* SessionLog::window() const {
    return m_Window.data();
}

void SessionLog::scheduleDrain() {
    if (!m_DrainTimer.isActive())
        m_DrainTimer.start(kDrainDelayMs);
}

void SessionLog::drain() {
    m_DrainTimer.stop();
    std::vector<session::Record> batch;
    m_Model.addDropped(m_Recorder.Take(batch));
    m_Model.append(batch);
    updateWindow();
}

void SessionLog::updateWindow() {
    if (!m_Window)
        return;
    const session::LinkState state = m_Recorder.State();
    if (state.version != m_ShownVersion) {
        m_ShownVersion = state.version;
        m_Window->showLinkState(state);
    }
    m_Window->showStatus();
}

void SessionLog::showWindow() {
    drain();
    if (!m_Window) {
        m_Window = new SessionLogWindow(*this, m_Owner);
        m_ShownVersion = m_Recorder.State().version;
    }
    m_Window->show();
    m_Window->raise();
    m_Window->activateWindow();
}

void SessionLog::setFileEnabled(bool on) {
    if (on == m_FileEnabled)
        return;
    m_FileEnabled = on;
    if (on) {
        // the same file again, appended to, once it has been made
        if (!m_Parked)
            m_Parked = std::make_unique<session::LogFile>(m_FileDir.toStdString(), m_FileName.toStdString());
        m_Recorder.SetFile(std::move(m_Parked));
    } else {
        m_Parked = m_Recorder.SetFile(nullptr);
        if (m_Parked)
            m_Parked->Close();
    }
    QSettings choice(choicePath(), QSettings::IniFormat);
    choice.setValue(kFileKey, on);
    choice.sync();
}

QString SessionLog::filePath() const {
    const std::string path = m_FileEnabled ? m_Recorder.FilePath() : (m_Parked ? m_Parked->Path() : "");
    return QString::fromStdString(path);
}

QString SessionLog::fileProblem() const {
    const int error = m_FileEnabled ? m_Recorder.FileError() : 0;
    return error != 0 ? QString::fromLocal8Bit(std::strerror(error)) : QString();
}

void ShowConsoleBox(session::Recorder& recorder, QWidget* owner, const QString& text, const QString& caption,
                    ConsoleUi::Icon icon, const QString& details) {
    recorder.Box(text.toStdU16String(), caption.toStdU16String());
    if (details.isEmpty())
        consoleUi().messageBox(owner, text, caption, icon);
    else
        consoleUi().messageBoxWithDetails(owner, text, caption, icon, details);
}
