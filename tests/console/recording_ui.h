// Test stand-ins for the console's seam: a ConsoleUi that records message
// boxes and file choosers instead of showing them, and a settings sandbox.
// Header-only; shared by the console's Qt tests.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <QtGlobal>

#include <functional>

#include "console_ui.h"
#include "settings.h"

struct RecordedBox {
    QString text;
    QString caption;
    ConsoleUi::Icon icon = ConsoleUi::Icon::None;
    QString details; // behind the details button; empty for none
};

// Installs itself as consoleUi() for its lifetime and puts the previous seam back.
class RecordingUi : public ConsoleUi {
public:
    // sleepScale: every sleepMs(ms) really sleeps ms * sleepScale (0 skips
    // the sleep); keep it 1 where a peer's timing matters.
    explicit RecordingUi(double sleepScale = 1.0) : m_SleepScale(sleepScale) {
        m_Previous = setConsoleUi(this);
    }
    ~RecordingUi() override { setConsoleUi(m_Previous == this ? nullptr : m_Previous); }
    RecordingUi(const RecordingUi&) = delete;
    RecordingUi& operator=(const RecordingUi&) = delete;

    void messageBox(QWidget*, const QString& text, const QString& caption, Icon icon) override {
        messageBoxWithDetails(nullptr, text, caption, icon, QString());
    }
    void messageBoxWithDetails(QWidget*, const QString& text, const QString& caption, Icon icon,
                               const QString& details) override {
        boxes.append({text, caption, icon, details});
        if (onBox)
            onBox(boxes.last());
    }
    QString saveFileName(QWidget*, const QString& defaultName, const QString& filter,
                         const QString& defaultSuffix) override {
        saveRequests.append({defaultName, filter, defaultSuffix});
        return nextSavePath;
    }
    QString openFileName(QWidget*, const QString& filter, const QString& defaultSuffix) override {
        openRequests.append({QString(), filter, defaultSuffix});
        return nextOpenPath;
    }
    void sleepMs(int ms) override {
        sleeps.append(ms);
        if (onSleep)
            onSleep(ms);
        const auto scaled = static_cast<unsigned long>(ms * m_SleepScale);
        if (scaled > 0)
            QThread::msleep(scaled);
    }
    // Recorded and timed as a sleep of ms; then one look at the condition.
    bool awaitMs(int ms, const std::function<bool(int sliceMs)>& ready) override {
        sleepMs(ms);
        return ready(0);
    }
    int sendTraceRecord(const QByteArray& record) override {
        traceRecords.append(record);
        return traceAnswer;
    }

    // Texts of the boxes shown so far, "caption: text" each.
    QStringList boxTexts() const {
        QStringList out;
        for (const RecordedBox& b : boxes)
            out << b.caption + QStringLiteral(": ") + b.text;
        return out;
    }

    struct FileRequest {
        QString defaultName, filter, defaultSuffix;
    };

    QList<RecordedBox> boxes;
    QList<FileRequest> saveRequests, openRequests;
    QList<int> sleeps;
    QList<QByteArray> traceRecords;
    QString nextSavePath, nextOpenPath; // answers of the choosers ("" = cancelled)
    int traceAnswer = 0;
    std::function<void(const RecordedBox&)> onBox; // runs on the UI thread as a box "shows"
    std::function<void(int ms)> onSleep;           // runs before each sleep, on the UI thread

private:
    double m_SleepScale;
    ConsoleUi* m_Previous = nullptr;
};

// A settings file choosing IP with the address a.b.c.d.
inline QByteArray addressSettings(int a, int b, int c, int d) {
    return QStringLiteral("[CMDORA]\nnSel=1\nIPAddressField0=%1\nIPAddressField1=%2\nIPAddressField2=%3\n"
                          "IPAddressField3=%4\n")
        .arg(a)
        .arg(b)
        .arg(c)
        .arg(d)
        .toLatin1();
}

// A private settings root: XDG_CONFIG_HOME and g_SettingsPath point into a
// temporary folder for the sandbox's lifetime.
class SettingsSandbox {
public:
    SettingsSandbox() {
        m_OldXdg = qgetenv("XDG_CONFIG_HOME");
        m_HadXdg = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", m_Dir.path().toLocal8Bit());
        QDir(m_Dir.path()).mkpath(QStringLiteral("Norvane_Lumo"));
        m_OldPath = g_SettingsPath;
        g_SettingsPath = path();
    }
    ~SettingsSandbox() {
        g_SettingsPath = m_OldPath;
        if (m_HadXdg)
            qputenv("XDG_CONFIG_HOME", m_OldXdg);
        else
            qunsetenv("XDG_CONFIG_HOME");
    }
    SettingsSandbox(const SettingsSandbox&) = delete;
    SettingsSandbox& operator=(const SettingsSandbox&) = delete;

    QString root() const { return m_Dir.path(); }
    QString path() const { return m_Dir.path() + QStringLiteral("/Norvane_Lumo/CMDORA_Unicode.bin"); }
    // Writes the whole settings file.
    void write(const QByteArray& content) const {
        QFile f(path());
        if (f.open(QIODevice::WriteOnly))
            f.write(content);
    }
    QByteArray content() const {
        QFile f(path());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    bool exists() const { return QFile::exists(path()); }

private:
    QTemporaryDir m_Dir;
    QByteArray m_OldXdg;
    bool m_HadXdg = false;
    QString m_OldPath;
};
