// The command box's memory: Up and Down walk the commands sent (kept across
// runs in session::HistoryPath()), Ctrl+R finds an earlier one by a part,
// and a completion list offers the commands the modules know as the operator
// types (Tab or Enter takes one). UI thread only.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <string>

#include "command_history.h"

class QCompleter;
class QDialog;
class QLineEdit;
class QStandardItemModel;

class CommandRecall : public QObject {
public:
    // Watches box; reads the history file and the known commands now.
    explicit CommandRecall(QLineEdit* box);

    // A command the operator sent: kept in the list and in the file.
    void sent(const QString& command);
    // Opens the "Find Command" window over the box's window (Ctrl+R).
    void openSearch();
    QDialog* searchWindow() const { return m_Search; }
    QCompleter* completer() const { return m_Completer; }
    const session::CommandHistory& history() const { return m_History; }

    // The installed list of known commands: beside the program
    // (../share/cmdora/known-commands), else in the system's data folders.
    static QString installedKnownCommands();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void loadKnownCommands();
    // Takes the completion list's current entry (else its first); false when it is not shown.
    bool takeCompletion();
    void fillSearch(const QString& part);

    QLineEdit* m_Box;
    QCompleter* m_Completer = nullptr;
    QStandardItemModel* m_Known = nullptr;
    QDialog* m_Search = nullptr;
    session::CommandHistory m_History;
    std::string m_Path;
};
