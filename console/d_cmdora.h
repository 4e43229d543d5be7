// The console's main dialog: link choice, connect and disconnect, sending a
// command and showing the answer, preview, test timer and command files.
// Everything runs on the user-interface thread.
#pragma once

#include <QDialog>
#include <QString>

#include <memory>

#include "connect.h"
#include "console_link.h"
#include "lumo_net.h"
#include "port_map.h"
#include "serial_devices.h"
#include "session_log.h"
#include "test_timer.h"

class QKeyEvent;
class QButtonGroup;

class QPushButton;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QRadioButton;
class QCheckBox;
class QLabel;
class QGroupBox;
class IpAddressEdit;
class TabStops;

// Control identifiers of the dialog template.
enum CmdoraControlId : int {
    IDC_SEND = 1032,
    IDC_CONNECT = 1282,
    IDC_COM = 1418,
    IDC_COM_DEVICES = 1419, // "Devices...": which device each port number opens
    IDC_BAUD = 1350,
    IDC_COMMAND = 1940,
    IDC_IP = 1471,
    IDC_RADIO_COM = 1942,
    IDC_RADIO_IP = 1943,
    IDC_SAVE_BIN = 1005,
    IDC_LOAD_BIN = 1006,
    IDC_SAVE_TXT_SPACE = 1007,
    IDC_SAVE_TXT_0X = 1008,
    IDC_XASCII = 1645,
    IDC_UDP = 1180,
    IDC_STATUS = 1945,
    IDC_SAVE_TXT_DOLLAR = 1009,
    IDC_RESULT = 1103,
    IDC_NOTATION_SPACE = 1946,
    IDC_NOTATION_0X = 1947,
    IDC_NOTATION_DOLLAR = 1948,
    IDC_UDP_CLEAR_SOCKET = 1559,
    ID_AUTOTEST = 1425,
};

inline constexpr int kBaudRates[6] = {9600, 14400, 19200, 38400, 57600, 115200};

class D_CMDORA : public QDialog {
public:
    explicit D_CMDORA(QWidget* parent = nullptr);
    ~D_CMDORA() override;

    // ---- state ----
    CLumo_Net m_Net;
    // The link on m_Net: what is open, its tap and the session log's recorder.
    ConsoleLink m_Link{m_Net};
    uint8_t m_nSel = 0;
    QString m_strCommand;
    // The device chosen for each port number, as kept in PortMapPath().
    session::PortMap m_PortMap;
    // Where the serial devices dialog looks for devices.
    session::SerialScanRoots m_SerialScanRoots;
    // The session log of m_Link: records, log file and the "Session Log" window.
    std::unique_ptr<SessionLog> m_SessionLog;

    // ---- controls (ids above; each carries its id as objectName) ----
    QPushButton* m_Send = nullptr;
    QPushButton* m_Connect = nullptr;
    QComboBox* m_ComList = nullptr;
    QPushButton* m_ComDevices = nullptr; // enabled with the port list
    QComboBox* m_BaudList = nullptr;
    QLineEdit* m_Command = nullptr;
    IpAddressEdit* m_Ip = nullptr;
    QRadioButton* m_RadioCom = nullptr;
    QRadioButton* m_RadioIp = nullptr;
    QPushButton* m_SaveBin = nullptr;
    QPushButton* m_LoadBin = nullptr;
    QPushButton* m_SaveTxtSpace = nullptr;
    QPushButton* m_SaveTxt0x = nullptr;
    QPushButton* m_SaveTxtDollar = nullptr;
    QCheckBox* m_XAscii = nullptr;
    QCheckBox* m_Udp = nullptr;
    QLabel* m_Status = nullptr;
    QPlainTextEdit* m_Result = nullptr;
    QRadioButton* m_NotationSpace = nullptr;
    QRadioButton* m_Notation0x = nullptr;
    QRadioButton* m_NotationDollar = nullptr;
    QPushButton* m_UdpClearSocket = nullptr;
    // Not in the template: opens the "Session Log" window (also Ctrl+L).
    QPushButton* m_SessionLogButton = nullptr;

    // The control with the given template id, or nullptr.
    QWidget* control(int id) const;

    // ---- handlers ----
    void OnInitDialog();
    void OnRadioCom();
    void OnRadioIp();
    void OnBnClickedConnect();
    void OnBnClickedSend();
    void OnOK();
    void OnCancel();
    void OnBnClickedXAscii();
    void OnAutoTest();
    void OnIpnFieldChangedIp();
    void OnCbnSelchangeCom();
    void OnCbnSelchangeBaud();
    // Opens the serial devices dialog; a changed choice is applied and kept.
    void OnBnClickedComDevices();
    void OnEnChangeCommand();
    void OnBnClickedUdpClearSocket();
    void OnTimer(int id);
    void OnBnClickedSaveBin();
    void OnBnClickedLoadBin();
    // notation: 0 "%.2X ", 1 "0x%.2X ", 2 "$%.2X"
    void OnBnClickedSaveTxt(int notation);
    void OnSessionLog();

    // Refreshes m_strCommand from the command box.
    void UpdateData();
    // Whether the test timer runs.
    bool testTimerRunning() const { return m_TestTimer.running(); }

protected:
    void accept() override;                        // Enter: runs Send, never closes
    void reject() override;                        // Esc and close box
    void keyPressEvent(QKeyEvent* event) override; // Enter: clicks a focused push button, else OK
    bool focusNextPrevChild(bool next) override;   // Tab, Shift+Tab: template order, round
    bool eventFilter(QObject* watched, QEvent* event) override; // Enter in the result box -> OK

private:
    void buildControls();
    void groupRadios();
    void setTabStops();
    void connectSignals();
    void serialConnect();
    void ipConnect();
    void onConnectStep(session::ConnectStep step, const session::ConnectOutcome& outcome);
    void connectFailedRestoreLists();
    // Reads PortMapPath() and puts its devices behind the port numbers.
    void loadPortMap();
    // Each port entry's tool tip: the device it opens and where that comes from.
    void refreshPortToolTips();
    void disconnectLink();
    std::u16string ipAddressText() const;

    TestTimer m_TestTimer{m_Link};           // TEST_TIMER_ID
    QButtonGroup* m_LinkKindGroup = nullptr; // 1942, 1943
    QButtonGroup* m_NotationGroup = nullptr; // 1946 to 1948
    TabStops* m_TabStops = nullptr;          // the template's order, each radio group one stop
    bool m_bInConnect = false;               // OnBnClickedConnect is running
};
