#include "d_serialports.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

QString FromPath(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

D_SERIALPORTS::D_SERIALPORTS(const session::PortMap& map, session::SerialScanRoots roots, QWidget* parent)
    : QDialog(parent), m_Roots(std::move(roots)) {
    setWindowTitle(QStringLiteral("Serial ports"));
    auto* layout = new QVBoxLayout(this);

    auto* listLabel = new QLabel(QStringLiteral("&Serial devices on this computer:"), this);
    layout->addWidget(listLabel);
    auto* listRow = new QHBoxLayout;
    m_Devices = new QTreeWidget(this);
    m_Devices->setHeaderLabels({QStringLiteral("Device"), QStringLiteral("Description")});
    m_Devices->setRootIsDecorated(false);
    m_Devices->setSelectionMode(QAbstractItemView::NoSelection);
    m_Devices->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_Devices->setMinimumWidth(560);
    listLabel->setBuddy(m_Devices);
    listRow->addWidget(m_Devices, 1);
    m_Refresh = new QPushButton(QStringLiteral("&Refresh"), this);
    m_Refresh->setAutoDefault(false);
    auto* side = new QVBoxLayout;
    side->addWidget(m_Refresh);
    side->addStretch(1);
    listRow->addLayout(side);
    layout->addLayout(listRow, 1);

    layout->addWidget(
        new QLabel(QStringLiteral("The device each port number opens (empty: its default):"), this));
    auto* grid = new QGridLayout;
    for (int i = 0; i < session::kPortNumbers; ++i) {
        const int port = i + 1;
        auto* label = new QLabel(QStringLiteral("Port &%1").arg(port), this);
        auto* row = new QComboBox(this);
        row->setObjectName(QStringLiteral("port%1").arg(port));
        row->setEditable(true);
        row->setInsertPolicy(QComboBox::NoInsert);
        row->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        row->setMinimumContentsLength(40);
        row->lineEdit()->setPlaceholderText(QStringLiteral("/dev/ttyS%1 (default)").arg(i));
        row->lineEdit()->setClearButtonEnabled(true);
        label->setBuddy(row);
        const auto it = map.find(port);
        row->setEditText(it == map.end() ? QString() : FromPath(it->second));
        m_Ports[i] = row;

        auto* note = new QLabel(this);
        const QByteArray env = qgetenv(session::PortEnvironmentName(port).c_str());
        if (!env.isEmpty())
            note->setText(
                QStringLiteral("%1 wins: %2")
                    .arg(QString::fromStdString(session::PortEnvironmentName(port)), QFile::decodeName(env)));
        m_Overrides[i] = note;
        grid->addWidget(label, i, 0);
        grid->addWidget(row, i, 1);
        grid->addWidget(note, i, 2);
    }
    grid->setColumnStretch(1, 1);
    layout->addLayout(grid);

    m_Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(m_Buttons);
    connect(m_Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_Refresh, &QPushButton::clicked, this, &D_SERIALPORTS::rescan);
    rescan();
    m_Ports[0]->setFocus();
}

void D_SERIALPORTS::rescan() {
    const std::vector<session::SerialDevice> devices = session::ListSerialDevices(m_Roots);
    m_Devices->clear();
    for (const session::SerialDevice& d : devices) {
        auto* item = new QTreeWidgetItem(m_Devices);
        item->setText(0, FromPath(d.path));
        const QString kernel = QString::fromStdString(d.kernelName);
        const QString description = QString::fromStdString(d.description);
        item->setText(1, description.isEmpty() ? kernel : description + QStringLiteral(" (") + kernel + u')');
    }
    if (devices.empty())
        new QTreeWidgetItem(m_Devices, {QStringLiteral("(no serial devices found)")});

    // Each row offers "" (its default) and every device, and keeps its text.
    for (QComboBox* row : m_Ports) {
        const QString text = row->currentText();
        row->clear();
        row->addItem(QString());
        for (size_t k = 0; k < devices.size(); ++k) {
            row->addItem(FromPath(devices[k].path));
            row->setItemData(row->count() - 1, m_Devices->topLevelItem(int(k))->text(1), Qt::ToolTipRole);
        }
        row->setEditText(text);
    }
}

session::PortMap D_SERIALPORTS::chosen() const {
    session::PortMap map;
    for (int i = 0; i < session::kPortNumbers; ++i) {
        const QString text = m_Ports[i]->currentText().trimmed();
        if (!text.isEmpty())
            map[i + 1] = QFile::encodeName(text).toStdString();
    }
    return map;
}
