#include "d_cmdora.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScopedValueRollback>
#include <QShortcut>
#include <QTimer>

#include <cstring>
#include <string>

#include "command_text.h"
#include "console_ui.h"
#include "dialog_front_end.h"
#include "dialog_keys.h"
#include "ip_address_edit.h"
#include "session_log.h"
#include "settings.h"

namespace {

const QString kError = QStringLiteral("Error");
const QString kChooseListsFirst = QStringLiteral("Choose a serial port and a baud rate first.");

// Puts the template's controls on the dialog: positions in dialog units
// (converted for the dialog's font), each control named by its id.
class TemplateLayout {
public:
    TemplateLayout(QWidget* dialog, const QFont& font) : m_Dialog(dialog) {
        const QFontMetrics fm(font);
        m_BaseX =
            fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
            52.0;
        m_BaseY = fm.height();
    }
    int x(int du) const { return qRound(du * m_BaseX / 4.0); }
    int y(int du) const { return qRound(du * m_BaseY / 8.0); }
    QRect rect(int x0, int y0, int w, int h) const { return {x(x0), y(y0), x(w), y(h)}; }

    template <class Control> Control* place(Control* c, int id, int x0, int y0, int w, int h) const {
        c->setObjectName(QString::number(id));
        c->setGeometry(rect(x0, y0, w, h));
        return c;
    }
    QPushButton* button(int id, const char* caption, int x0, int y0, int w, int h) const {
        auto* b = new QPushButton(QString::fromLatin1(caption), m_Dialog);
        b->setAutoDefault(false); // no default push button in the template
        return place(b, id, x0, y0, w, h);
    }
    // A drop-down list's height in the template includes its open list.
    QComboBox* dropDown(int id, int x0, int y0, int w) const {
        auto* c = place(new QComboBox(m_Dialog), id, x0, y0, w, 12);
        c->resize(c->width(), qMax(y(12), c->sizeHint().height()));
        return c;
    }
    void label(const char* caption, int x0, int y0, int w, int h) const {
        auto* l = new QLabel(QString::fromLatin1(caption), m_Dialog);
        l->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        l->setGeometry(rect(x0, y0, w, h));
    }
    QRadioButton* radio(int id, const char* caption, int x0, int y0, int w, int h) const {
        auto* r = new QRadioButton(QString::fromLatin1(caption), m_Dialog);
        r->setAutoExclusive(false); // the dialog's button groups keep each pair exclusive
        return place(r, id, x0, y0, w, h);
    }
    // A radio button without caption, sized for its indicator at least.
    QRadioButton* indicator(int id, int x0, int y0, int w, int h) const {
        QRadioButton* r = radio(id, "", x0, y0, w, h);
        r->resize(qMax(r->width(), r->sizeHint().width()), qMax(r->height(), r->sizeHint().height()));
        return r;
    }
    QCheckBox* check(int id, const char* caption, int x0, int y0, int w, int h) const {
        return place(new QCheckBox(QString::fromLatin1(caption), m_Dialog), id, x0, y0, w, h);
    }

private:
    QWidget* m_Dialog;
    double m_BaseX = 1;
    double m_BaseY = 1;
};

// Checks one radio button of an exclusive pair, or none when button is nullptr.
void checkInGroup(QButtonGroup* group, QAbstractButton* button) {
    if (button) {
        button->setChecked(true);
        return;
    }
    group->setExclusive(false);
    for (QAbstractButton* b : group->buttons())
        b->setChecked(false);
    group->setExclusive(true);
}

} // namespace

D_CMDORA::D_CMDORA(QWidget* parent)
    : QDialog(parent,
              Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    m_strCommand.clear();
    m_SessionLog = std::make_unique<SessionLog>(m_Link, this);
    buildControls();
    groupRadios();
    setTabStops();
    connectSignals();
    // Ctrl+Shift+Alt+F10 opens the automatic command test (command 1425).
    auto* autoTest = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::ALT | Qt::Key_F10), this);
    autoTest->setContext(Qt::WindowShortcut);
    connect(autoTest, &QShortcut::activated, this, &D_CMDORA::OnAutoTest);
    auto* sessionLog = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_L), this);
    sessionLog->setContext(Qt::WindowShortcut);
    connect(sessionLog, &QShortcut::activated, this, &D_CMDORA::OnSessionLog);
    OnInitDialog();
}

D_CMDORA::~D_CMDORA() {
    // The base class hides a window still shown, and the address field with the
    // focus then reports a change: it must not reach this half-destroyed dialog.
    disconnect(m_Ip, nullptr, this, nullptr);
}

// The template's controls, created in its order, which is also the tab order.
void D_CMDORA::buildControls() {
    setWindowTitle(QStringLiteral("Cmdora"));
    QFont font = QApplication::font();
    font.setPointSize(8);
    setFont(font);
    const TemplateLayout t(this, font);

    m_Send = t.button(IDC_SEND, "Send", 226, 77, 29, 16);
    m_Connect = t.button(IDC_CONNECT, "Connect", 192, 45, 50, 12);
    m_ComList = t.dropDown(IDC_COM, 62, 9, 30);
    for (int port = 1; port <= 8; ++port)
        m_ComList->addItem(QString::number(port));
    // Below the port list, in the link frame's free space; not in the template.
    m_ComDevices = t.button(IDC_COM_DEVICES, "Devices...", 62, 26, 44, 12);
    m_ComDevices->setToolTip(QStringLiteral("Choose the serial device behind each port number"));
    t.label("Baudrate", 97, 11, 36, 10);
    m_BaudList = t.dropDown(IDC_BAUD, 137, 9, 45);
    m_Command = t.place(new QLineEdit(this), IDC_COMMAND, 49, 77, 171, 16);
    m_Ip = t.place(new IpAddressEdit(this), IDC_IP, 62, 44, 120, 14);
    t.label("Command", 7, 79, 37, 12);
    m_RadioCom = t.radio(IDC_RADIO_COM, "COM", 22, 9, 33, 12);
    m_RadioIp = t.radio(IDC_RADIO_IP, "IP", 22, 46, 33, 12);
    auto* frame = new QGroupBox(this);
    frame->setGeometry(t.rect(7, 1, 248, 67));
    frame->lower(); // drawn behind the link controls, never taking their clicks
    m_SaveBin = t.button(IDC_SAVE_BIN, "Save Z Command (.Bin)", 7, 182, 96, 17);
    m_LoadBin = t.button(IDC_LOAD_BIN, "Load Z Command (.Bin)", 117, 182, 84, 17);
    m_SaveTxtSpace = t.button(IDC_SAVE_TXT_SPACE, "Save Z Command (.Txt) (55 AA)", 32, 203, 125, 17);
    m_SaveTxt0x = t.button(IDC_SAVE_TXT_0X, "Save Z Command (.Txt) (0x55 0xAA)", 32, 227, 125, 17);
    m_XAscii = t.check(IDC_XASCII, "X ASCII", 201, 29, 48, 10);
    m_Udp = t.check(IDC_UDP, "UDP", 158, 29, 33, 10);
    m_Status = t.place(new QLabel(this), IDC_STATUS, 11, 148, 244, 22);
    m_Status->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_Status->setWordWrap(true);
    m_SaveTxtDollar = t.button(IDC_SAVE_TXT_DOLLAR, "Save Z Command (.Txt) ($55$AA)", 32, 252, 125, 17);
    m_Result = t.place(new QPlainTextEdit(this), IDC_RESULT, 7, 99, 248, 47);
    m_Result->installEventFilter(this); // Enter there runs Send, as in the command box
    m_Result->setTabChangesFocus(true);
    m_NotationSpace = t.indicator(IDC_NOTATION_SPACE, 17, 207, 8, 9);
    m_Notation0x = t.indicator(IDC_NOTATION_0X, 17, 231, 8, 9);
    m_NotationDollar = t.indicator(IDC_NOTATION_DOLLAR, 17, 256, 8, 9);
    m_UdpClearSocket = t.button(IDC_UDP_CLEAR_SOCKET, "UDP Clear Socket", 179, 204, 69, 23);
    // Beyond the template, in its free lower right corner.
    m_SessionLogButton = new QPushButton(QStringLiteral("Session Log"), this);
    m_SessionLogButton->setAutoDefault(false);
    m_SessionLogButton->setObjectName(QStringLiteral("SessionLog"));
    m_SessionLogButton->setToolTip(QStringLiteral("Every byte, answer and link event, with time (Ctrl+L)"));
    m_SessionLogButton->setGeometry(t.rect(179, 252, 69, 17));

    setFixedSize(t.x(262), t.y(275));
}

void D_CMDORA::groupRadios() {
    m_LinkKindGroup = new QButtonGroup(this);
    m_LinkKindGroup->addButton(m_RadioCom);
    m_LinkKindGroup->addButton(m_RadioIp);
    m_NotationGroup = new QButtonGroup(this);
    m_NotationGroup->addButton(m_NotationSpace);
    m_NotationGroup->addButton(m_Notation0x);
    m_NotationGroup->addButton(m_NotationDollar);
}

// Tab order: the template's order; the labels, the frame and the status line take no focus.
void D_CMDORA::setTabStops() {
    m_TabStops = new TabStops(this);
    for (QWidget* w : std::initializer_list<QWidget*>{m_Send, m_Connect, m_ComList, m_ComDevices, m_BaudList,
                                                      m_Command, m_Ip})
        m_TabStops->addStop(w);
    m_TabStops->addGroup({m_RadioCom, m_RadioIp});
    for (QWidget* w : std::initializer_list<QWidget*>{m_SaveBin, m_LoadBin, m_SaveTxtSpace, m_SaveTxt0x,
                                                      m_XAscii, m_Udp, m_SaveTxtDollar, m_Result})
        m_TabStops->addStop(w);
    m_TabStops->addGroup({m_NotationSpace, m_Notation0x, m_NotationDollar});
    m_TabStops->addStop(m_UdpClearSocket);
    m_TabStops->addStop(m_SessionLogButton);
}

void D_CMDORA::connectSignals() {
    connect(m_Connect, &QPushButton::clicked, this, &D_CMDORA::OnBnClickedConnect);
    connect(m_Send, &QPushButton::clicked, this, &D_CMDORA::OnBnClickedSend);
    connect(m_RadioCom, &QRadioButton::clicked, this, &D_CMDORA::OnRadioCom);
    connect(m_RadioIp, &QRadioButton::clicked, this, &D_CMDORA::OnRadioIp);
    for (QRadioButton* r : {m_NotationSpace, m_Notation0x, m_NotationDollar})
        connect(r, &QRadioButton::clicked, this, &D_CMDORA::OnEnChangeCommand);
    connect(m_Command, &QLineEdit::textChanged, this, &D_CMDORA::OnEnChangeCommand);
    connect(m_Ip, &IpAddressEdit::fieldChanged, this, &D_CMDORA::OnIpnFieldChangedIp);
    // activated: the operator's choice only, not the selections made at initialisation.
    connect(m_ComList, &QComboBox::activated, this, &D_CMDORA::OnCbnSelchangeCom);
    connect(m_BaudList, &QComboBox::activated, this, &D_CMDORA::OnCbnSelchangeBaud);
    connect(m_ComDevices, &QPushButton::clicked, this, &D_CMDORA::OnBnClickedComDevices);
    connect(m_ComList, &QComboBox::currentIndexChanged, this, &D_CMDORA::refreshPortToolTips);
    m_ComList->installEventFilter(this); // its enabled state carries over to m_ComDevices
    connect(m_XAscii, &QCheckBox::clicked, this, &D_CMDORA::OnBnClickedXAscii);
    connect(m_SaveBin, &QPushButton::clicked, this, &D_CMDORA::OnBnClickedSaveBin);
    connect(m_LoadBin, &QPushButton::clicked, this, &D_CMDORA::OnBnClickedLoadBin);
    connect(m_SaveTxtSpace, &QPushButton::clicked, this, [this] { OnBnClickedSaveTxt(0); });
    connect(m_SaveTxt0x, &QPushButton::clicked, this, [this] { OnBnClickedSaveTxt(1); });
    connect(m_SaveTxtDollar, &QPushButton::clicked, this, [this] { OnBnClickedSaveTxt(2); });
    connect(m_UdpClearSocket, &QPushButton::clicked, this, &D_CMDORA::OnBnClickedUdpClearSocket);
    connect(m_SessionLogButton, &QPushButton::clicked, this, &D_CMDORA::OnSessionLog);
}

QWidget* D_CMDORA::control(int id) const {
    return findChild<QWidget*>(QString::number(id), Qt::FindDirectChildrenOnly);
}

void D_CMDORA::UpdateData() {
    m_strCommand = m_Command->text();
}

void D_CMDORA::OnInitDialog() {
    m_nSel = 0; // m_Link starts with no link in use
    m_BaudList->clear();
    for (int rate : kBaudRates)
        m_BaudList->addItem(QString::number(rate));
    m_BaudList->setCurrentIndex(0);
    m_ComList->setCurrentIndex(0);
    m_Send->setEnabled(false);

    m_Ip->setParts(ReadStoredAddress());
    QString value;
    if (ReadSetting(QStringLiteral("nSel"), value) > 0)
        m_nSel = static_cast<uint8_t>(SettingToLong(value) & 0xFF);
    // A stored position outside its list leaves that list without a selection.
    auto selectStored = [&value](const char* key, QComboBox* list) {
        if (ReadSetting(QString::fromLatin1(key), value) <= 0)
            return;
        const long position = SettingToLong(value);
        list->setCurrentIndex(position >= 0 && position < list->count() ? static_cast<int>(position) : -1);
    };
    selectStored("COM", m_ComList);
    selectStored("BAUDRATE", m_BaudList);

    checkInGroup(m_LinkKindGroup, m_nSel == 0 ? m_RadioCom : (m_nSel == 1 ? m_RadioIp : nullptr));
    if (m_nSel == 0) {
        m_Ip->setEnabled(false);
    } else {
        m_ComList->setEnabled(false);
        m_BaudList->setEnabled(false);
    }
    m_NotationDollar->setChecked(true);
    loadPortMap();
}

void D_CMDORA::OnRadioCom() {
    m_nSel = 0;
    m_RadioCom->setChecked(true);
    m_ComList->setEnabled(true);
    m_BaudList->setEnabled(true);
    m_Ip->setEnabled(false);
    WriteSetting(QStringLiteral("nSel"), 0);
}

void D_CMDORA::OnRadioIp() {
    m_nSel = 1;
    m_RadioIp->setChecked(true);
    m_Ip->setEnabled(true);
    m_ComList->setEnabled(false);
    m_BaudList->setEnabled(false);
    WriteSetting(QStringLiteral("nSel"), 1);
}

void D_CMDORA::OnIpnFieldChangedIp() {
    WriteStoredAddress(m_Ip->parts());
}

void D_CMDORA::OnCbnSelchangeCom() {
    if (m_ComList->currentIndex() >= 0)
        WriteSetting(QStringLiteral("COM"), m_ComList->currentIndex());
}

void D_CMDORA::OnCbnSelchangeBaud() {
    if (m_BaudList->currentIndex() >= 0)
        WriteSetting(QStringLiteral("BAUDRATE"), m_BaudList->currentIndex());
}

void D_CMDORA::OnBnClickedXAscii() {
    const bool x = m_XAscii->isChecked();
    const QString kind = x ? QStringLiteral("X") : QStringLiteral("Z");
    m_SaveBin->setText(QStringLiteral("Save %1 Command (.Bin)").arg(kind));
    m_LoadBin->setText(QStringLiteral("Load %1 Command (.Bin)").arg(kind));
    m_SaveTxtSpace->setText(QStringLiteral("Save %1 Command (.Txt) (55 AA)").arg(kind));
    m_SaveTxt0x->setText(QStringLiteral("Save %1 Command (.Txt) (0x55 0xAA)").arg(kind));
    m_SaveTxtDollar->setText(QStringLiteral("Save %1 Command (.Txt) ($55 $AA)").arg(kind));
}

// ---- connect and disconnect ----

void D_CMDORA::OnBnClickedConnect() {
    m_TestTimer.stop();
    // The close box still reaches the dialog during the connect's pauses;
    // reject() holds it back until this handler has finished.
    const QScopedValueRollback<bool> connecting(m_bInConnect, true);
    if (m_Link.m_bLinkOpen != 0) {
        disconnectLink();
        return;
    }
    if (m_nSel == 0 && (m_ComList->currentIndex() < 0 || m_BaudList->currentIndex() < 0)) {
        // Only a stored position outside a list gets here; there is no port 0.
        ShowConsoleBox(m_Link.recorder(), this, kChooseListsFirst, kError, ConsoleUi::Icon::Error);
        return;
    }
    m_BaudList->setEnabled(false);
    m_Send->setEnabled(true);
    m_ComList->setEnabled(false);
    if (m_nSel == 0)
        serialConnect();
    else
        ipConnect();
}

// What the dialog shows while a connect runs: the caption once the serial
// port is open, and Send off (before the box) when a style-17 module refuses.
void D_CMDORA::onConnectStep(session::ConnectStep step, const session::ConnectOutcome& outcome) {
    if (step == session::ConnectStep::PortOpened)
        m_Connect->setText(QStringLiteral("Disconnect"));
    else if (outcome.status == session::ConnectStatus::Style17Refused)
        m_Send->setEnabled(false);
}

void D_CMDORA::connectFailedRestoreLists() {
    m_BaudList->setEnabled(true);
    m_Send->setEnabled(false);
    m_ComList->setEnabled(true);
}

void D_CMDORA::serialConnect() {
    DialogFrontEnd front(*this, [this](auto step, const auto& outcome) { onConnectStep(step, outcome); });
    const session::ConnectOutcome outcome =
        m_Link.connectSerial(front, m_ComList->currentIndex() + 1, kBaudRates[m_BaudList->currentIndex()]);
    if (!outcome.ok()) {
        connectFailedRestoreLists();
        return;
    }
    m_RadioCom->setEnabled(false);
    m_RadioIp->setEnabled(false);
}

std::u16string D_CMDORA::ipAddressText() const {
    const auto parts = m_Ip->parts();
    return QStringLiteral("%1.%2.%3.%4")
        .arg(parts[0])
        .arg(parts[1])
        .arg(parts[2])
        .arg(parts[3])
        .toStdU16String();
}

void D_CMDORA::ipConnect() {
    const bool udp = m_Udp->isChecked();
    DialogFrontEnd front(*this, [this](auto step, const auto& outcome) { onConnectStep(step, outcome); });
    const session::ConnectOutcome outcome =
        udp ? m_Link.connectUdp(front, ipAddressText())
            : m_Link.connectTcp(front, ipAddressText(), m_XAscii->isChecked());
    if (!outcome.ok()) {
        if (outcome.status != session::ConnectStatus::Style17Refused)
            connectFailedRestoreLists(); // after a style-17 refusal the lists stay disabled
        return;
    }
    m_Connect->setText(QStringLiteral("Disconnect"));
    m_RadioCom->setEnabled(false);
    m_RadioIp->setEnabled(false);
    m_Udp->setEnabled(false);
    m_XAscii->setEnabled(false);
    if (!udp)
        m_Ip->setEnabled(false); // a UDP link leaves the address editable
}

void D_CMDORA::disconnectLink() {
    m_Send->setEnabled(false);
    m_Connect->setText(QStringLiteral("Connect"));
    m_BaudList->setEnabled(true);
    m_ComList->setEnabled(true);
    if (m_nSel != 0) {
        m_Ip->setEnabled(true);
        m_Udp->setEnabled(true);
        m_XAscii->setEnabled(true);
    }
    m_Link.disconnect();
    m_RadioCom->setEnabled(true);
    m_RadioIp->setEnabled(true);
}

// ---- Send, closing, Enter and Esc ----

void D_CMDORA::OnBnClickedSend() {
    UpdateData();
    // keep a copy: a box's event loop may let the command box change
    const QString command = m_strCommand;
    DialogFrontEnd front(*this);
    m_Link.send(front, commandUnits(command));
}

void D_CMDORA::OnCancel() {
    m_TestTimer.stop(); // no tick may arrive after the link is gone
    m_Link.close();
    QDialog::reject();
}

void D_CMDORA::OnOK() {
    OnBnClickedSend();
}

void D_CMDORA::accept() {
    OnOK();
}

void D_CMDORA::reject() {
    if (m_bInConnect || m_Link.m_bInSend) {
        // A handler is waiting with the link in use: close once it has returned.
        QTimer::singleShot(50, this, [this] { reject(); });
        return;
    }
    OnCancel();
}

void D_CMDORA::keyPressEvent(QKeyEvent* event) {
    // Enter clicks the push button with the focus; there is no default push
    // button, so on any other control it is the OK command.
    if (ClickFocusedButtonOnEnter(this, event))
        return;
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        !qobject_cast<QPushButton*>(focusWidget())) {
        event->accept();
        accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool D_CMDORA::focusNextPrevChild(bool next) {
    return (m_TabStops && m_TabStops->focusNext(next)) || QDialog::focusNextPrevChild(next);
}

bool D_CMDORA::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_ComList && event->type() == QEvent::EnabledChange)
        m_ComDevices->setEnabled(m_ComList->isEnabled());
    if (watched == m_Result && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
            !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
            accept();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void D_CMDORA::OnSessionLog() {
    m_SessionLog->showWindow();
}

// ---- test timer ----

void D_CMDORA::OnBnClickedUdpClearSocket() {
    m_TestTimer.start();
}

void D_CMDORA::OnTimer(int) {
    m_TestTimer.tick();
}
