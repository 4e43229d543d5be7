// Which device each port number opens: the serial devices dialog driven with
// the mouse and keys, the port list's tool tips, the file that keeps the
// choice across runs, and LUMO_COM<N> winning over it.
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QToolTip>
#include <QTreeWidget>
#include <QtTest>

#include <filesystem>
#include <fstream>
#include <functional>

#include "d_cmdora.h"
#include "d_serialports.h"
#include "posix_serial.h"
#include "pty_pair.h"
#include "recording_ui.h"
#include "ui_waits.h"

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

// A device tree whose one adapter, ttyUSB0 with a by-id link, is the slave
// of a pseudo-terminal pair.
struct FakeDevices {
    explicit FakeDevices(const std::string& slave) {
        fs::create_directories(dev / "serial/by-id");
        fs::create_symlink(slave, dev / "ttyUSB0");
        fs::create_symlink("../../ttyUSB0", dev / "serial/by-id/usb-Acme_Bridge_42-if00-port0");
        fs::create_directories(sys / "devices/usb1/1-1");
        fs::create_directories(sys / "class/tty/ttyUSB0");
        std::ofstream(sys / "devices/usb1/1-1/product") << "Acme Bridge\n";
        fs::create_symlink("../../../devices/usb1/1-1", sys / "class/tty/ttyUSB0/device");
    }
    QTemporaryDir dir;
    fs::path dev = fs::path(dir.path().toStdString()) / "dev";
    fs::path sys = fs::path(dir.path().toStdString()) / "sys";
    QString byId = QString::fromStdString((dev / "serial/by-id/usb-Acme_Bridge_42-if00-port0").string());
    session::SerialScanRoots roots() const { return {dev.string(), sys.string(), dir.path().toStdString()}; }
};

// Clicks "Devices..." and runs `drive` on the dialog it opens; `drive` ends it.
bool withDevicesDialog(D_CMDORA& dlg, const std::function<void(D_SERIALPORTS&)>& drive) {
    bool ran = false;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* ports = dynamic_cast<D_SERIALPORTS*>(QApplication::activeModalWidget())) {
            poll.stop();
            ran = QTest::qWaitForWindowActive(ports); // the clicks inside need its focus
            drive(*ports);
            if (ports->isVisible()) // a failed check inside drive left it open
                ports->reject();
        }
    });
    poll.start();
    QTimer::singleShot(5000, &poll, &QTimer::stop);
    QTest::mouseClick(dlg.m_ComDevices, Qt::LeftButton);
    return ran;
}

void clickOk(D_SERIALPORTS& ports) {
    QTest::mouseClick(ports.m_Buttons->button(QDialogButtonBox::Ok), Qt::LeftButton);
}

QString tipOf(const D_CMDORA& dlg, int port) {
    return dlg.m_ComList->itemData(port - 1, Qt::ToolTipRole).toString();
}

} // namespace

class TestPortDevices : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { session::ApplyPortMap({}); }
    void chooseKeepAndOverride();
};

void TestPortDevices::chooseKeepAndOverride() {
    SettingsSandbox sandbox;
    const QString mapFile = sandbox.root() + QStringLiteral("/Norvane_Lumo/serial_ports.conf");
    lumo_test::PtyPair pty(9); // LUMO_COM9: outside the port list
    QVERIFY(pty.ok());
    FakeDevices devices(pty.SlavePath());
    RecordingUi ui(0);
    ui.onSleep = [&](int) { pty.Write("O.K\r\n"); };
    auto dlg = std::make_unique<D_CMDORA>();
    dlg->m_SerialScanRoots = devices.roots();
    dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(dlg.get()));
    QVERIFY(tipOf(*dlg, 2).startsWith(QStringLiteral("Port 2 opens /dev/ttyS1.")));
    QVERIFY(withDevicesDialog(*dlg, [](D_SERIALPORTS& ports) {
        clickOk(ports); // nothing changed: nothing written
    }));
    QVERIFY(withDevicesDialog(*dlg, [](D_SERIALPORTS& ports) {
        QVERIFY(uiwait::clickFocus(ports.m_Ports[0]->lineEdit()));
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("/dev/ttyACM0"));
        QTest::keyClick(&ports, Qt::Key_Escape);
    }));
    QVERIFY(QDir(sandbox.root() + QStringLiteral("/Norvane_Lumo")).isEmpty());

    // Port 2: the adapter, picked with the Down key; port 3: a path typed in.
    QVERIFY(withDevicesDialog(*dlg, [&](D_SERIALPORTS& ports) {
        QCOMPARE(ports.m_Devices->topLevelItem(0)->text(0), devices.byId);
        QCOMPARE(ports.m_Devices->topLevelItem(0)->text(1), QStringLiteral("Acme Bridge (ttyUSB0)"));
        QVERIFY(uiwait::clickFocus(ports.m_Ports[1]->lineEdit()));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
        QVERIFY(uiwait::clickFocus(ports.m_Ports[2]->lineEdit()));
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("/dev/lumo-module0"));
        clickOk(ports);
    }));
    auto kept = [&mapFile] {
        QFile file(mapFile);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    QVERIFY(kept().endsWith("\n2=" + devices.byId.toUtf8() + "\n3=/dev/lumo-module0\n"));
    QVERIFY(!sandbox.exists()); // none of the [CMDORA] keys changed
    const QString chosen = QStringLiteral("Port 2 opens %1, chosen with \"Devices...\".").arg(devices.byId);
    QCOMPARE(tipOf(*dlg, 2), chosen);
    QCOMPARE(tipOf(*dlg, 3), QStringLiteral("Port 3 opens /dev/lumo-module0, chosen with \"Devices...\". "
                                            "It is not present now."));

    // The entry's tool tip as the pointer shows it; the connect reaches the adapter.
    dlg->m_ComList->setCurrentIndex(1);
    QHelpEvent help(QEvent::ToolTip, QPoint(4, 4), dlg->m_ComList->mapToGlobal(QPoint(4, 4)));
    QApplication::sendEvent(dlg->m_ComList, &help);
    QTRY_COMPARE(QToolTip::text(), chosen);
    QTest::mouseClick(dlg->m_Connect, Qt::LeftButton);
    const lumo_test::Bytes sent = pty.ReadUntilIdle(150ms);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(sent.data()), qsizetype(sent.size())), "\rze 0000 0\r");
    QVERIFY(!dlg->m_ComDevices->isEnabled()); // with the port list, while the link is open
    QTest::mouseClick(dlg->m_Connect, Qt::LeftButton);
    QVERIFY(dlg->m_ComDevices->isEnabled());

    // The next start reads the choice back; LUMO_COM2 wins over it.
    dlg.reset();
    session::ApplyPortMap({});
    qputenv("LUMO_COM2", "/dev/null");
    dlg = std::make_unique<D_CMDORA>();
    QCOMPARE(tipOf(*dlg, 2), QStringLiteral("Port 2 opens /dev/null, set by LUMO_COM2, which wins over the "
                                            "device chosen here (%1).")
                                 .arg(devices.byId));
    QCOMPARE(lumo_serial::PortDevice(2), "/dev/null");
    QCOMPARE(lumo_serial::PortDevice(3), "/dev/lumo-module0"); // applied at start

    // Emptying a row takes the choice away.
    QVERIFY(withDevicesDialog(*dlg, [&](D_SERIALPORTS& ports) {
        QCOMPARE(ports.m_Overrides[1]->text(), QStringLiteral("LUMO_COM2 wins: /dev/null"));
        QVERIFY(uiwait::clickFocus(ports.m_Ports[2]->lineEdit()));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Delete);
        clickOk(ports);
    }));
    qunsetenv("LUMO_COM2");
    QVERIFY(tipOf(*dlg, 3).startsWith(QStringLiteral("Port 3 opens /dev/ttyS2.")));
    QVERIFY(kept().endsWith("\n2=" + devices.byId.toUtf8() + "\n"));
    QTest::mouseClick(dlg->m_RadioIp, Qt::LeftButton);
    QVERIFY(!dlg->m_ComDevices->isEnabled()); // IP: the port list and its button are off
}

QTEST_MAIN(TestPortDevices)
#include "test_port_devices.moc"
