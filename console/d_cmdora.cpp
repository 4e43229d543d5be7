#include "d_cmdora.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QTimer>

#include <cstring>
#include <string>

#include "connect_prompt.h"
#include "console_ui.h"
#include "dialog_keys.h"
#include "ip_address_edit.h"
#include "settings.h"

namespace {

const QString kError = QStringLiteral("Error");
const QString kWarning = QStringLiteral("WARNING");
const QString kConnectError = QStringLiteral("Connect Error!!");
const QString kConnectFailure = QStringLiteral("Connect failure!!");
const QString kChooseListsFirst = QStringLiteral("Choose a serial port and a baud rate first.");
// Shown when a module of style 17 refuses the link.
const QString kStyle17Warning = QStringLiteral(
    "Currently unable to connect. Press \"Ctrl\" + \"Esc\" keys on the USB keyboard connected to your Fenwyr "
    "and then try to reconnect. \r\nThis message is only applicable when using the Fenwyr series.");

constexpr int kStyleNeedsKeyboardReset = 17;
constexpr int kPromptAttempts = 15;
constexpr int kPromptArea = 4096;
constexpr int kPromptReadLimit = 1024;

// The module's serial console strings.
constexpr char kEchoOff[] = "ze 0000 0\r";
constexpr char kEchoOn[] = "ze 0000 1\r";
constexpr char kLeaveMenu[] = "*0\r";
constexpr char kExit[] = "exit\r";

// Sends a literal without its terminating zero.
template <size_t N> void sendLiteral(CLumo_Net& net, const char (&text)[N]) {
    net.Senddata(reinterpret_cast<const unsigned char*>(text), static_cast<int>(N - 1));
}

// Converts dialog units of the template to pixels for the dialog's font.
class DialogUnits {
public:
    explicit DialogUnits(const QFont& font) {
        const QFontMetrics fm(font);
        m_BaseX =
            fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
            52.0;
        m_BaseY = fm.height();
    }
    int x(int du) const { return qRound(du * m_BaseX / 4.0); }
    int y(int du) const { return qRound(du * m_BaseY / 8.0); }
    QRect rect(int x0, int y0, int w, int h) const { return {x(x0), y(y0), x(w), y(h)}; }

private:
    double m_BaseX = 1;
    double m_BaseY = 1;
};

// The arrow-with-hourglass cursor of the resources, or the platform's busy cursor.
QCursor busyCursor() {
    const QPixmap image(QStringLiteral(":/busy.png"));
    if (image.isNull())
        return QCursor(Qt::BusyCursor);
    return QCursor(image, 0, 0);
}

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
    buildControls();
    connectSignals();
    // Ctrl+Shift+Alt+F10 opens the automatic command test (command 1425).
    auto* autoTest = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::ALT | Qt::Key_F10), this);
    autoTest->setContext(Qt::WindowShortcut);
    connect(autoTest, &QShortcut::activated, this, &D_CMDORA::OnAutoTest);
    OnInitDialog();
}

D_CMDORA::~D_CMDORA() {
    // The base class hides a window still shown, and the address field with the
    // focus then reports a change: it must not reach this half-destroyed dialog.
    disconnect(m_Ip, nullptr, this, nullptr);
    // Closing happens in OnCancel; a socket still open here (the dialog was
    // destroyed without closing) is released by its owner all the same.
    if (m_UdpSocket >= 0) {
        UdpClose(m_UdpSocket);
        m_UdpSocket = -1;
    }
}

void D_CMDORA::buildControls() {
    setWindowTitle(QStringLiteral("Cmdora"));
    QFont font = QApplication::font();
    font.setPointSize(8);
    setFont(font);
    const DialogUnits du(font);

    // Created in the template's order, which is also the tab order.
    auto place = [&](QWidget* w, int id, int x, int y, int width, int height) {
        w->setObjectName(QString::number(id));
        w->setGeometry(du.rect(x, y, width, height));
    };
    auto button = [&](int id, const char* caption, int x, int y, int width, int height) {
        auto* b = new QPushButton(QString::fromLatin1(caption), this);
        b->setAutoDefault(false); // no default push button in the template
        place(b, id, x, y, width, height);
        return b;
    };
    // A drop-down list's height in the template includes its open list.
    auto dropDown = [&](int id, int x, int y, int width) {
        auto* c = new QComboBox(this);
        place(c, id, x, y, width, 12);
        c->resize(c->width(), qMax(du.y(12), c->sizeHint().height()));
        return c;
    };
    auto label = [&](const char* caption, Qt::Alignment align, int x, int y, int width, int height) {
        auto* l = new QLabel(QString::fromLatin1(caption), this);
        l->setAlignment(align);
        l->setGeometry(du.rect(x, y, width, height));
        return l;
    };
    auto radio = [&](int id, const char* caption, int x, int y, int width, int height) {
        auto* r = new QRadioButton(QString::fromLatin1(caption), this);
        r->setAutoExclusive(false); // the two groups below keep each pair exclusive
        place(r, id, x, y, width, height);
        return r;
    };
    auto check = [&](int id, const char* caption, int x, int y, int width, int height) {
        auto* c = new QCheckBox(QString::fromLatin1(caption), this);
        place(c, id, x, y, width, height);
        return c;
    };

    m_Send = button(IDC_SEND, "Send", 226, 77, 29, 16);
    m_Connect = button(IDC_CONNECT, "Connect", 192, 45, 50, 12);
    m_ComList = dropDown(IDC_COM, 62, 9, 30);
    for (int port = 1; port <= 8; ++port)
        m_ComList->addItem(QString::number(port));
    label("Baudrate", Qt::AlignHCenter | Qt::AlignTop, 97, 11, 36, 10);
    m_BaudList = dropDown(IDC_BAUD, 137, 9, 45);
    m_Command = new QLineEdit(this);
    place(m_Command, IDC_COMMAND, 49, 77, 171, 16);
    m_Ip = new IpAddressEdit(this);
    place(m_Ip, IDC_IP, 62, 44, 120, 14);
    label("Command", Qt::AlignHCenter | Qt::AlignTop, 7, 79, 37, 12);
    m_RadioCom = radio(IDC_RADIO_COM, "COM", 22, 9, 33, 12);
    m_RadioIp = radio(IDC_RADIO_IP, "IP", 22, 46, 33, 12);
    auto* frame = new QGroupBox(this);
    frame->setGeometry(du.rect(7, 1, 248, 67));
    frame->lower(); // drawn behind the link controls, never taking their clicks
    m_SaveBin = button(IDC_SAVE_BIN, "Save Z Command (.Bin)", 7, 182, 96, 17);
    m_LoadBin = button(IDC_LOAD_BIN, "Load Z Command (.Bin)", 117, 182, 84, 17);
    m_SaveTxtSpace = button(IDC_SAVE_TXT_SPACE, "Save Z Command (.Txt) (55 AA)", 32, 203, 125, 17);
    m_SaveTxt0x = button(IDC_SAVE_TXT_0X, "Save Z Command (.Txt) (0x55 0xAA)", 32, 227, 125, 17);
    m_XAscii = check(IDC_XASCII, "X ASCII", 201, 29, 48, 10);
    m_Udp = check(IDC_UDP, "UDP", 158, 29, 33, 10);
    m_Status = new QLabel(this);
    m_Status->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_Status->setWordWrap(true);
    place(m_Status, IDC_STATUS, 11, 148, 244, 22);
    m_SaveTxtDollar = button(IDC_SAVE_TXT_DOLLAR, "Save Z Command (.Txt) ($55$AA)", 32, 252, 125, 17);
    m_Result = new QPlainTextEdit(this);
    place(m_Result, IDC_RESULT, 7, 99, 248, 47);
    m_Result->installEventFilter(this); // Enter there runs Send, as in the command box
    m_Result->setTabChangesFocus(true);
    m_NotationSpace = radio(IDC_NOTATION_SPACE, "", 17, 207, 8, 9);
    m_Notation0x = radio(IDC_NOTATION_0X, "", 17, 231, 8, 9);
    m_NotationDollar = radio(IDC_NOTATION_DOLLAR, "", 17, 256, 8, 9);
    m_UdpClearSocket = button(IDC_UDP_CLEAR_SOCKET, "UDP Clear Socket", 179, 204, 69, 23);

    // Radio buttons sized for their indicator only.
    for (QRadioButton* r : {m_NotationSpace, m_Notation0x, m_NotationDollar})
        r->resize(qMax(r->width(), r->sizeHint().width()), qMax(r->height(), r->sizeHint().height()));

    m_LinkKindGroup = new QButtonGroup(this);
    m_LinkKindGroup->addButton(m_RadioCom);
    m_LinkKindGroup->addButton(m_RadioIp);
    m_NotationGroup = new QButtonGroup(this);
    m_NotationGroup->addButton(m_NotationSpace);
    m_NotationGroup->addButton(m_Notation0x);
    m_NotationGroup->addButton(m_NotationDollar);

    // Tab order: the template's order; the labels, the frame and the status line take no focus.
    m_TabStops = new TabStops(this);
    for (QWidget* w :
         std::initializer_list<QWidget*>{m_Send, m_Connect, m_ComList, m_BaudList, m_Command, m_Ip})
        m_TabStops->addStop(w);
    m_TabStops->addGroup({m_RadioCom, m_RadioIp});
    for (QWidget* w : std::initializer_list<QWidget*>{m_SaveBin, m_LoadBin, m_SaveTxtSpace, m_SaveTxt0x,
                                                      m_XAscii, m_Udp, m_SaveTxtDollar, m_Result})
        m_TabStops->addStop(w);
    m_TabStops->addGroup({m_NotationSpace, m_Notation0x, m_NotationDollar});
    m_TabStops->addStop(m_UdpClearSocket);

    setFixedSize(du.x(262), du.y(275));
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
    connect(m_XAscii, &QCheckBox::clicked, this, &D_CMDORA::OnBnClickedXAscii);
    connect(m_SaveBin, &QPushButton::clicked, this, &D_CMDORA::OnBnClickedSaveBin);
    connect(m_LoadBin, &QPushButton::clicked, this, &D_CMDORA::OnBnClickedLoadBin);
    connect(m_SaveTxtSpace, &QPushButton::clicked, this, [this] { OnBnClickedSaveTxt(0); });
    connect(m_SaveTxt0x, &QPushButton::clicked, this, [this] { OnBnClickedSaveTxt(1); });
    connect(m_SaveTxtDollar, &QPushButton::clicked, this, [this] { OnBnClickedSaveTxt(2); });
    connect(m_UdpClearSocket, &QPushButton::clicked, this, &D_CMDORA::OnBnClickedUdpClearSocket);
}

QWidget* D_CMDORA::control(int id) const {
    return findChild<QWidget*>(QString::number(id), Qt::FindDirectChildrenOnly);
}

void D_CMDORA::UpdateData() {
    m_strCommand = m_Command->text();
}

void D_CMDORA::OnInitDialog() {
    m_bLinkOpen = 0;
    m_nSel = 0;
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
    StopTestTimer();
    // The close box still reaches the dialog during the connect's pauses;
    // reject() holds it back until this handler has finished.
    m_bInConnect = true;
    struct Leave {
        bool& flag;
        ~Leave() { flag = false; }
    } leave{m_bInConnect};
    if (m_bLinkOpen != 0) {
        disconnectLink();
        return;
    }
    if (m_nSel == 0 && (m_ComList->currentIndex() < 0 || m_BaudList->currentIndex() < 0)) {
        // Only a stored position outside a list gets here; there is no port 0.
        consoleUi().messageBox(this, kChooseListsFirst, kError, ConsoleUi::Icon::Error);
        return;
    }
    m_BaudList->setEnabled(false);
    m_Send->setEnabled(true);
    m_ComList->setEnabled(false);
    m_bLinkOpen = 1;
    setBusyCursor();
    if (m_nSel == 0)
        serialConnect();
    else
        ipConnect();
}

void D_CMDORA::setBusyCursor() {
    if (m_BusyCursorUp)
        return;
    m_BusyCursorUp = true;
    QApplication::setOverrideCursor(busyCursor());
    // Put back once the running handler has returned to the event loop.
    QMetaObject::invokeMethod(
        this,
        [this] {
            QApplication::restoreOverrideCursor();
            m_BusyCursorUp = false;
        },
        Qt::QueuedConnection);
}

void D_CMDORA::connectFailedRestoreLists() {
    m_BaudList->setEnabled(true);
    m_Send->setEnabled(false);
    m_ComList->setEnabled(true);
}

void D_CMDORA::serialConnect() {
    const int port = m_ComList->currentIndex() + 1;
    const int rate = kBaudRates[m_BaudList->currentIndex()];
    if (m_Net.OpenCOM_IPConverter(port, rate) == 0) {
        m_bLinkOpen = 0;
        consoleUi().messageBox(this, kConnectError, kError, ConsoleUi::Icon::Error);
        connectFailedRestoreLists();
        return;
    }
    m_Connect->setText(QStringLiteral("Disconnect"));
    const unsigned char cr = 0x0D;
    m_Net.Senddata(&cr, 1);

    // Prompt wait: "O.K" in the first line, or '>' / '$' after a line feed.
    // Room for two reads of 1024 plus a zero that always ends the text.
    unsigned char area[kPromptArea] = {};
    for (int attempt = 0; attempt < kPromptAttempts; ++attempt) {
        int n = m_Net.ReadComData(area, kPromptReadLimit);
        if (n > 0) {
            consoleUi().sleepMs(1000);
            const int more = m_Net.ReadComData(area + n, kPromptReadLimit);
            if (more > 0)
                n += more;
            if (ScanForPrompt(area, n, kPromptArea))
                break;
        }
        consoleUi().sleepMs(500);
    }
    sendLiteral(m_Net, kEchoOff);
    consoleUi().sleepMs(500);
    m_RadioCom->setEnabled(false);
    m_RadioIp->setEnabled(false);
}

void D_CMDORA::ipConnect() {
    const auto parts = m_Ip->parts();
    const QString address =
        QStringLiteral("%1.%2.%3.%4").arg(parts[0]).arg(parts[1]).arg(parts[2]).arg(parts[3]);
    if (m_Udp->isChecked())
        udpConnectSteps(address);
    else
        tcpConnectSteps(address);
}

void D_CMDORA::udpConnectSteps(const QString& address) {
    char address8[20] = {};
    const QByteArray latin = address.toLatin1();
    std::memcpy(address8, latin.constData(),
                static_cast<size_t>(qMin<qsizetype>(latin.size(), sizeof address8 - 1)));

    // A TCP connect first makes the module report its identifier and style.
    std::wstring wide = address.toStdWString();
    unsigned char reply[16] = {};
    const int r = m_Net.NetConnect_IPEPC(wide.data(), reply, 0);
    if (r == 1) {
        m_Net.CloseNet();
    } else if (m_Net.m_ToPCStyle == kStyleNeedsKeyboardReset) {
        m_Send->setEnabled(false);
        m_bLinkOpen = 0;
        m_Net.CloseNet();
        consoleUi().messageBox(this, kStyle17Warning, kWarning, ConsoleUi::Icon::Error);
        return;
    }

    m_UdpSocket = UdpOpen();
    if (!UdpConnect(m_UdpSocket, address8, LUMO_UDP_MODULE_PORT)) {
        if (m_UdpSocket >= 0)
            UdpClose(m_UdpSocket); // not kept: nothing else would close it
        m_UdpSocket = -1;
        m_bLinkOpen = 0;
        consoleUi().messageBox(this, kConnectError, kError, ConsoleUi::Icon::Error);
        connectFailedRestoreLists();
        return;
    }
    if (!UdpSetRecvTimeout(m_UdpSocket, 2000)) {
        // Closed once here; back to the no-link state so nothing closes it again.
        UdpClose(m_UdpSocket);
        m_UdpSocket = -1;
        m_bLinkOpen = 0;
        connectFailedRestoreLists();
        return;
    }
    m_Connect->setText(QStringLiteral("Disconnect"));
    m_RadioCom->setEnabled(false);
    m_RadioIp->setEnabled(false);
    m_Udp->setEnabled(false);
    m_XAscii->setEnabled(false);
}

void D_CMDORA::tcpConnectSteps(const QString& address) {
    m_Net.m_bXMode = m_XAscii->isChecked() ? 1 : 0;
    std::wstring wide = address.toStdWString();
    unsigned char reply[16] = {};
    const int r = m_Net.NetConnect_IPEPC(wide.data(), reply, 0);
    if (r == 1) {
        m_Connect->setText(QStringLiteral("Disconnect"));
        m_RadioCom->setEnabled(false);
        m_RadioIp->setEnabled(false);
        m_Udp->setEnabled(false);
        m_XAscii->setEnabled(false);
        m_Ip->setEnabled(false);
        return;
    }
    if (m_Net.m_ToPCStyle == kStyleNeedsKeyboardReset) {
        m_Net.CloseNet();
        m_bLinkOpen = 0;
        m_Send->setEnabled(false);
        consoleUi().messageBox(this, kStyle17Warning, kWarning, ConsoleUi::Icon::Error);
        return; // the lists stay disabled
    }
    m_bLinkOpen = 0;
    if (r != 2) // 2: the device link has told the operator already
        consoleUi().messageBox(this, kConnectFailure, kError, ConsoleUi::Icon::Error);
    connectFailedRestoreLists();
}

void D_CMDORA::closeIpLink() {
    if (m_Udp->isChecked()) {
        if (m_UdpSocket >= 0)
            UdpClose(m_UdpSocket);
        m_UdpSocket = -1;
    } else {
        m_Net.CloseNet();
    }
}

void D_CMDORA::disconnectLink() {
    m_Send->setEnabled(false);
    m_Connect->setText(QStringLiteral("Connect"));
    m_BaudList->setEnabled(true);
    m_ComList->setEnabled(true);
    if (m_nSel == 0) {
        sendLiteral(m_Net, kEchoOn);
        sendLiteral(m_Net, kLeaveMenu);
        sendLiteral(m_Net, kExit);
        m_Net.CloseCOM();
    } else {
        m_Ip->setEnabled(true);
        m_Udp->setEnabled(true);
        m_XAscii->setEnabled(true);
        closeIpLink();
    }
    m_RadioCom->setEnabled(true);
    m_RadioIp->setEnabled(true);
    m_bLinkOpen = 0;
}

// ---- closing, Enter and Esc ----

void D_CMDORA::OnCancel() {
    StopTestTimer(); // no tick may arrive after the link is gone
    if (m_bLinkOpen == 1) {
        m_bLinkOpen = 0;
        if (m_nSel == 0) {
            sendLiteral(m_Net, kLeaveMenu);
            sendLiteral(m_Net, kExit);
            m_Net.CloseCOM();
        } else {
            closeIpLink();
        }
    }
    QDialog::reject();
}

void D_CMDORA::OnOK() {
    OnBnClickedSend();
}

void D_CMDORA::accept() {
    OnOK();
}

void D_CMDORA::reject() {
    if (m_bInConnect || m_bInSend) {
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
