// The main dialog's serial port choice: which device each entry of the port
// list opens (its tool tip), the serial devices dialog beside the list, and
// the file beside the settings that keeps the choice across runs.
#include <QComboBox>
#include <QFile>
#include <QFileInfo>

#include "console_ui.h"
#include "d_cmdora.h"
#include "d_serialports.h"
#include "link_tap.h"
#include "posix_serial.h"
#include "settings.h"

namespace {

// "Port 3 opens /dev/ttyUSB0, chosen with "Devices...". It is not present now."
QString PortToolTip(int port, const session::PortMap& map) {
    const QString device = FromPath(lumo_serial::PortDevice(port));
    QString text = QStringLiteral("Port %1 opens %2").arg(port).arg(device);
    const auto chosen = map.find(port);
    switch (session::PortDeviceOrigin(port)) {
    case session::PortOrigin::Environment:
        text += QStringLiteral(", set by %1").arg(QString::fromStdString(session::PortEnvironmentName(port)));
        if (chosen != map.end())
            text +=
                QStringLiteral(", which wins over the device chosen here (%1)").arg(FromPath(chosen->second));
        break;
    case session::PortOrigin::Chosen:
        text += QStringLiteral(", chosen with \"Devices...\"");
        break;
    case session::PortOrigin::Default:
        break;
    }
    text += u'.';
    if (!QFileInfo::exists(device))
        text += QStringLiteral(" It is not present now.");
    return text;
}

} // namespace

void D_CMDORA::loadPortMap() {
    const QString path = PortMapPath();
    m_PortMap =
        path.isEmpty() ? session::PortMap{} : session::ReadPortMap(QFile::encodeName(path).toStdString());
    session::ApplyPortMap(m_PortMap);
    refreshPortToolTips();
}

void D_CMDORA::refreshPortToolTips() {
    for (int i = 0; i < m_ComList->count(); ++i)
        m_ComList->setItemData(i, PortToolTip(i + 1, m_PortMap), Qt::ToolTipRole);
    const int current = m_ComList->currentIndex();
    m_ComList->setToolTip(current >= 0 ? m_ComList->itemData(current, Qt::ToolTipRole).toString()
                                       : QString());
}

void D_CMDORA::OnBnClickedComDevices() {
    D_SERIALPORTS chooser(m_PortMap, m_SerialScanRoots, this);
    if (chooser.exec() != QDialog::Accepted)
        return;
    const session::PortMap chosen = chooser.chosen();
    if (chosen == m_PortMap)
        return; // nothing changed: the file is left as it is
    m_PortMap = chosen;
    session::ApplyPortMap(m_PortMap);
    refreshPortToolTips();
    const QString path = PortMapPath();
    if (path.isEmpty())
        return;
    if (const int error = session::WritePortMap(QFile::encodeName(path).toStdString(), m_PortMap))
        consoleUi().messageBox(
            this,
            QStringLiteral("The devices chosen are used until Cmdora closes, but could not "
                           "be kept in %1: %2.")
                .arg(path, QString::fromStdU16String(session::ReasonWords(error))),
            QStringLiteral("Error"), ConsoleUi::Icon::Error);
}
