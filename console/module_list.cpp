#include "module_list.h"

#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <string>
#include <vector>

#include "console_state.h"
#include "console_ui.h"
#include "runner.h"
#include "log/session_record.h"
#include "targets.h"

namespace {

constexpr int kScanJobs = 32;

QString dotted(uint32_t address) {
    return QString::fromStdString(session::DottedAddress(address));
}

// Addresses, A-B ranges and A/N blocks only: a host name would hold the
// window while it is looked up.
std::optional<uint32_t> noNames(const std::string& name, std::string* why) {
    *why = "not an address, range or block: " + name;
    return std::nullopt;
}

} // namespace

ModuleListWindow::ModuleListWindow(QWidget* parent, std::function<void(const QString&)> useAddress)
    : QDialog(parent), m_UseAddress(std::move(useAddress)) {
    setObjectName(QStringLiteral("Modules"));
    setWindowTitle(QStringLiteral("Modules"));
    m_Range = new QLineEdit(ReadScanRange(), this);
    m_Range->setPlaceholderText(QStringLiteral("10.0.0.1-10.0.0.50, 192.168.1.0/24, 10.0.0.7"));
    m_Range->setToolTip(QStringLiteral("Addresses, ranges A-B and blocks A/N, separated by spaces or commas"));
    m_Scan = new QPushButton(QStringLiteral("Scan"), this);
    m_Stop = new QPushButton(QStringLiteral("Stop"), this);
    m_Stop->setEnabled(false);
    m_Save = new QPushButton(QStringLiteral("Save CSV..."), this);
    m_Save->setObjectName(QStringLiteral("SaveCsv"));
    for (QPushButton* b : {m_Scan, m_Stop, m_Save})
        b->setAutoDefault(false);
    m_Progress = new QProgressBar(this);
    m_Progress->setRange(0, 1);
    m_Progress->setValue(0);
    m_List = new QTreeWidget(this);
    m_List->setColumnCount(ColumnCount);
    m_List->setHeaderLabels({QStringLiteral("Address"), QStringLiteral("ID"), QStringLiteral("Style"),
                             QStringLiteral("Mode"), QStringLiteral("Information"),
                             QStringLiteral("Connect (ms)")});
    m_List->setRootIsDecorated(false);
    m_List->setSortingEnabled(false);
    m_List->setToolTip(QStringLiteral("Double-click a module (or press Enter) to put its address into the IP box"));
    m_Status = new QLabel(this);

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("Range"), this));
    top->addWidget(m_Range, 1);
    top->addWidget(m_Scan);
    top->addWidget(m_Stop);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_Status, 1);
    bottom->addWidget(m_Save);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_Progress);
    layout->addWidget(m_List, 1);
    layout->addLayout(bottom);
    resize(640, 360);

    connect(m_Scan, &QPushButton::clicked, this, &ModuleListWindow::startScan);
    connect(m_Range, &QLineEdit::returnPressed, this, &ModuleListWindow::startScan);
    connect(m_Stop, &QPushButton::clicked, this, &ModuleListWindow::stopScan);
    connect(m_Save, &QPushButton::clicked, this, &ModuleListWindow::saveAs);
    connect(m_List, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) { takeRow(item); });
}

ModuleListWindow::~ModuleListWindow() {
    stopScan();
    join();
}

void ModuleListWindow::join() {
    if (m_Thread.joinable())
        m_Thread.join();
}

void ModuleListWindow::startScan() {
    if (scanning())
        return;
    join();
    std::vector<std::string> texts;
    for (const QString& t :
         m_Range->text().split(QRegularExpression(QStringLiteral("[\\s,;]+")), Qt::SkipEmptyParts))
        texts.push_back(t.toStdString());
    session::TargetList targets = session::ReadTargets(texts, noNames);
    if (texts.empty() || !targets.ok()) {
        m_Status->setText(texts.empty() ? QStringLiteral("Type the addresses to scan.")
                                        : QString::fromStdString(targets.error));
        return;
    }
    WriteScanRange(m_Range->text().trimmed());
    m_List->clear();
    m_Done = 0;
    const int total = static_cast<int>(targets.addresses.size());
    m_Progress->setRange(0, total);
    m_Progress->setValue(0);
    m_Status->setText(QStringLiteral("Scanning %1 addresses...").arg(total));
    m_Scan->setEnabled(false);
    m_Stop->setEnabled(true);
    m_Finished = false;
    // A runner's stop flag stays up after a Stop: the scan after one needs a new runner.
    if (!m_Runner || m_Runner->Stopping())
        m_Runner = std::make_unique<session::Runner>(kScanJobs);
    session::ScanOptions options;
    options.info = true;
    m_Thread = std::thread([this, addresses = std::move(targets.addresses), options] {
        const size_t handed = session::Scan(
            *m_Runner, addresses, options,
            [this](const session::ScanResult& r) {
                QMetaObject::invokeMethod(this, [this, r] { addFound(r); }, Qt::QueuedConnection);
            },
            session::Delivery::AsFound);
        const size_t total = addresses.size();
        QMetaObject::invokeMethod(this, [this, handed, total] { scanEnded(handed, total); }, Qt::QueuedConnection);
    });
}

void ModuleListWindow::stopScan() {
    if (m_Runner)
        m_Runner->Stop();
}

void ModuleListWindow::addFound(const session::ScanResult& r) {
    m_Progress->setValue(++m_Done);
    if (!r.found)
        return;
    auto* item = new QTreeWidgetItem(m_List);
    item->setText(ColAddress, dotted(r.address));
    item->setText(ColId, QString::number(r.id));
    item->setText(ColStyle, QString::number(r.style));
    item->setText(ColMode, r.modeChar ? QString(QLatin1Char(static_cast<char>(r.modeChar))) : QString());
    item->setText(ColInfo, r.refused ? QStringLiteral("refuses links (style 17: reset its keyboard)")
                                     : QString::fromStdU16String(r.info).trimmed());
    item->setText(ColConnect, r.connectUs >= 0 ? QString::number(r.connectUs / 1000.0, 'f', 1) : QString());
    if (!m_List->currentItem())
        m_List->setCurrentItem(item);
}

void ModuleListWindow::scanEnded(size_t handed, size_t total) {
    join();
    m_Finished = true;
    m_Scan->setEnabled(true);
    m_Stop->setEnabled(false);
    const int found = m_List->topLevelItemCount();
    m_Status->setText(handed < total ? QStringLiteral("Stopped: %1 of %2 addresses scanned, %3 found.")
                                           .arg(handed)
                                           .arg(total)
                                           .arg(found)
                                     : QStringLiteral("%1 addresses scanned, %2 found.").arg(total).arg(found));
}

void ModuleListWindow::takeRow(QTreeWidgetItem* item) {
    if (item && m_UseAddress)
        m_UseAddress(item->text(ColAddress));
}

void ModuleListWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (m_List->hasFocus())
            takeRow(m_List->currentItem());
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool ModuleListWindow::saveCsv(const QString& path) const {
    std::string csv = "address,id,style,mode,information,connect_ms\n";
    for (int i = 0; i < m_List->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = m_List->topLevelItem(i);
        for (int c = 0; c < ColumnCount; ++c) {
            if (c > 0)
                csv += ',';
            csv += session::CsvField(item->text(c).toStdString());
        }
        csv += '\n';
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(csv.data(), static_cast<qint64>(csv.size()));
    return file.commit();
}

void ModuleListWindow::saveAs() {
    const QString path = consoleUi().saveFileName(this, QStringLiteral("modules.csv"),
                                                  QStringLiteral("CSV File (*.csv)"), QStringLiteral("csv"));
    if (path.isEmpty())
        return;
    if (!saveCsv(path))
        consoleUi().messageBox(this, QStringLiteral("The list could not be written to %1.").arg(path),
                               QStringLiteral("Modules"), ConsoleUi::Icon::Error);
    else
        m_Status->setText(QStringLiteral("Saved to %1.").arg(path));
}
