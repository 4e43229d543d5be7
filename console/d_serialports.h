// The serial devices dialog, opened from beside the main dialog's port list:
// it lists the serial devices present and lets the operator put any device
// (or any path typed in) behind a port number 1 to 8, or take a mapping away.
// It only chooses; the main dialog applies and keeps the choice. UI thread only.
#pragma once

#include <QDialog>

#include <array>

#include "port_map.h"
#include "serial_devices.h"

class QComboBox;
class QDialogButtonBox;
class QLabel;
class QPushButton;
class QTreeWidget;

// A device path as the console shows it (the file system's encoding).
QString FromPath(const std::string& path);

class D_SERIALPORTS : public QDialog {
public:
    // map: the devices chosen so far; roots: where the device list looks.
    D_SERIALPORTS(const session::PortMap& map, session::SerialScanRoots roots, QWidget* parent);

    // The choice the rows show now: a device for each row that is not empty.
    session::PortMap chosen() const;
    // Lists the devices again, keeping what each row holds ("Refresh").
    void rescan();

    QTreeWidget* m_Devices = nullptr; // the devices present: path, description
    QPushButton* m_Refresh = nullptr;
    // Row N-1 is port N: editable, offering the devices present; empty opens the default.
    std::array<QComboBox*, session::kPortNumbers> m_Ports{};
    // Beside a row whose LUMO_COM<N> is set: that it wins, and its device.
    std::array<QLabel*, session::kPortNumbers> m_Overrides{};
    QDialogButtonBox* m_Buttons = nullptr;

private:
    session::SerialScanRoots m_Roots;
};
