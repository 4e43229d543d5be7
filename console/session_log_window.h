// The "Session Log" window: a non-modal table of the session's records with a
// header naming the open link (and "link lost" when the module dropped it),
// filters, search, copy, clear, save as text or CSV, and the file switch.
// It follows new records unless the operator has scrolled up. UI thread only.
#pragma once

#include <QWidget>

#include "log/recorder.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class SessionLog;

class SessionLogWindow : public QWidget {
public:
    // A top-level window over log's records; parent: the main dialog.
    SessionLogWindow(SessionLog& log, QWidget* parent);

    // The header: "No link open", or the link with its module; "link lost" beside it when lost.
    void showLinkState(const session::LinkState& state);
    // The line under the table: records held, dropped, the file.
    void showStatus();

    // Selects the next (or previous) row holding the search box's text; false when none does.
    bool findNext(bool forward);
    // Puts the selected rows on the clipboard as tab-separated lines.
    void copySelectedRows();
    // Asks for a file (through consoleUi()) and saves the shown rows, as CSV for a ".csv" name.
    void saveRows();

    QLabel* m_LinkLabel = nullptr;
    QLabel* m_LostLabel = nullptr;
    QCheckBox* m_Bytes = nullptr;
    QCheckBox* m_Events = nullptr;
    QCheckBox* m_Transactions = nullptr;
    QComboBox* m_Direction = nullptr; // both, sent only, received only
    QLineEdit* m_Search = nullptr;
    QPushButton* m_Copy = nullptr;
    QPushButton* m_Clear = nullptr;
    QPushButton* m_Save = nullptr;
    QCheckBox* m_WriteFile = nullptr;
    QTableView* m_View = nullptr;
    QLabel* m_Status = nullptr;

protected:
    void keyPressEvent(QKeyEvent* event) override; // Esc hides the window

private:
    void buildControls();
    void buildTable();
    void layOut();
    void connectControls();
    void addShortcuts();
    // Keeps the view at the newest row, or where the operator looks when rows come or go.
    void followModel();
    void applyFilter();
    bool atBottom() const;

    SessionLog& m_Log;
    bool m_Follow = true;   // the view was at its last row before rows came
    int m_FrontDropped = 0; // rows leaving the top while the operator looks further up
};
