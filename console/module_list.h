// The "Modules" window: scans a range of addresses for modules with the
// session's runner (one scan at a time, on a thread of its own, Stop from
// the window) and lists each module as it is found. A row taken (double
// click, Enter) hands its address to the main dialog; the list can be saved
// as CSV. The last range is kept in the console's state file. UI thread,
// apart from the scan's thread, which only posts to the window.
#pragma once

#include <QDialog>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "scan.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace session {
class Runner;
}

class ModuleListWindow : public QDialog {
public:
    enum Column { ColAddress, ColId, ColStyle, ColMode, ColInfo, ColConnect, ColumnCount };
    // useAddress gets the dotted address of a row the operator takes.
    ModuleListWindow(QWidget* parent, std::function<void(const QString&)> useAddress);
    // Stops a scan in progress and waits for its thread.
    ~ModuleListWindow() override;

    void startScan(); // "Scan": reads the range, clears the list
    void stopScan();  // "Stop"
    bool scanning() const { return m_Thread.joinable() && !m_Finished; }
    // Writes the list to path as CSV with a header line; false when it cannot be written.
    bool saveCsv(const QString& path) const;
    void saveAs(); // "Save CSV...": asks for the file, says when it failed

    QLineEdit* rangeEdit() const { return m_Range; }
    QTreeWidget* list() const { return m_List; }
    QProgressBar* progress() const { return m_Progress; }
    QLabel* statusLabel() const { return m_Status; }

protected:
    void keyPressEvent(QKeyEvent* event) override; // Enter on a row takes it, never closes

private:
    void addFound(const session::ScanResult& r);
    void scanEnded(size_t handed, size_t total);
    void takeRow(QTreeWidgetItem* item);
    void join();

    std::function<void(const QString&)> m_UseAddress;
    QLineEdit* m_Range = nullptr;
    QPushButton* m_Scan = nullptr;
    QPushButton* m_Stop = nullptr;
    QPushButton* m_Save = nullptr;
    QProgressBar* m_Progress = nullptr;
    QTreeWidget* m_List = nullptr;
    QLabel* m_Status = nullptr;
    std::unique_ptr<session::Runner> m_Runner;
    std::thread m_Thread;
    bool m_Finished = true; // the scan's end has reached the window
    int m_Done = 0;         // addresses probed in this scan
};
