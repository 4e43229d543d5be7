#include "session_log_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

#include "console_ui.h"
#include "session_log.h"

namespace {

QString moduleText(const session::LinkState& s) {
    if (s.moduleId < 0)
        return {};
    QString t = QStringLiteral("module ID %1 style %2").arg(s.moduleId).arg(s.style);
    if (s.modeChar > 0x20 && s.modeChar < 0x7F)
        t += QStringLiteral(" mode %1").arg(QChar(static_cast<char16_t>(s.modeChar)));
    return t;
}

} // namespace

SessionLogWindow::SessionLogWindow(SessionLog& log, QWidget* parent)
    : QWidget(parent, Qt::Window), m_Log(log) {
    setWindowTitle(QStringLiteral("Session Log"));
    setObjectName(QStringLiteral("SessionLogWindow"));
    buildControls(); // created in their Tab order
    buildTable();
    layOut();
    connectControls();
    addShortcuts();
    followModel();
    showLinkState(m_Log.recorder().State());
    showStatus();
    m_View->scrollToBottom();
}

void SessionLogWindow::buildControls() {
    m_LinkLabel = new QLabel(this);
    m_LinkLabel->setTextFormat(Qt::PlainText);
    QFont bold = m_LinkLabel->font();
    bold.setBold(true);
    m_LinkLabel->setFont(bold);
    m_LostLabel = new QLabel(QStringLiteral("link lost"), this);
    m_LostLabel->setStyleSheet(QStringLiteral(
        "QLabel { color: white; background-color: #c00000; font-weight: bold; padding: 1px 8px; }"));
    m_LostLabel->hide();

    m_Bytes = new QCheckBox(QStringLiteral("Bytes"), this);
    m_Events = new QCheckBox(QStringLiteral("Events"), this);
    m_Transactions = new QCheckBox(QStringLiteral("Transactions"), this);
    for (QCheckBox* c : {m_Bytes, m_Events, m_Transactions})
        c->setChecked(true);
    m_Direction = new QComboBox(this);
    m_Direction->addItems(
        {QStringLiteral("Both directions"), QStringLiteral("Sent only"), QStringLiteral("Received only")});
    m_Search = new QLineEdit(this);
    m_Search->setPlaceholderText(QStringLiteral("Search (Enter: next, Shift+Enter: previous)"));
    m_Search->setClearButtonEnabled(true);
    m_Copy = new QPushButton(QStringLiteral("Copy"), this);
    m_Clear = new QPushButton(QStringLiteral("Clear"), this);
    m_Save = new QPushButton(QStringLiteral("Save..."), this);
    m_WriteFile = new QCheckBox(QStringLiteral("Write log file"), this);
    m_WriteFile->setChecked(m_Log.fileEnabled());
    for (QPushButton* b : {m_Copy, m_Clear, m_Save})
        b->setAutoDefault(false);
}

void SessionLogWindow::buildTable() {
    m_View = new QTableView(this);
    m_View->setModel(&m_Log.model());
    m_View->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_View->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_View->setWordWrap(false);
    m_View->setShowGrid(false);
    m_View->setAlternatingRowColors(true);
    m_View->setTextElideMode(Qt::ElideRight);
    // Fixed row heights keep scrolling over many rows cheap.
    QHeaderView* rows = m_View->verticalHeader();
    rows->hide();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(m_View->fontMetrics().height() + 4);
    QHeaderView* columns = m_View->horizontalHeader();
    columns->setStretchLastSection(true);
    const int ch = m_View->fontMetrics().averageCharWidth();
    m_View->setColumnWidth(SessionLogModel::ColTime, ch * 24);
    m_View->setColumnWidth(SessionLogModel::ColLink, ch * 26);
    m_View->setColumnWidth(SessionLogModel::ColKind, ch * 12);
    m_View->setColumnWidth(SessionLogModel::ColHex, ch * 48);

    m_Status = new QLabel(this);
    m_Status->setTextFormat(Qt::PlainText);
    m_Status->setTextInteractionFlags(Qt::TextSelectableByMouse);
}

void SessionLogWindow::layOut() {
    auto* header = new QHBoxLayout;
    header->addWidget(m_LinkLabel);
    header->addWidget(m_LostLabel);
    header->addStretch(1);
    auto* tools = new QHBoxLayout;
    for (QWidget* w : std::initializer_list<QWidget*>{m_Bytes, m_Events, m_Transactions, m_Direction})
        tools->addWidget(w);
    tools->addWidget(m_Search, 1);
    for (QWidget* w : std::initializer_list<QWidget*>{m_Copy, m_Clear, m_Save, m_WriteFile})
        tools->addWidget(w);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(header);
    layout->addLayout(tools);
    layout->addWidget(m_View, 1);
    layout->addWidget(m_Status);
    resize(m_View->fontMetrics().averageCharWidth() * 150, 480);
}

void SessionLogWindow::connectControls() {
    for (QCheckBox* c : {m_Bytes, m_Events, m_Transactions})
        connect(c, &QCheckBox::toggled, this, &SessionLogWindow::applyFilter);
    connect(m_Direction, &QComboBox::currentIndexChanged, this, &SessionLogWindow::applyFilter);
    connect(m_Search, &QLineEdit::returnPressed, this,
            [this] { findNext(!(QApplication::keyboardModifiers() & Qt::ShiftModifier)); });
    connect(m_Copy, &QPushButton::clicked, this, &SessionLogWindow::copySelectedRows);
    connect(m_Clear, &QPushButton::clicked, this, [this] {
        m_Log.model().clear();
        showStatus();
    });
    connect(m_Save, &QPushButton::clicked, this, &SessionLogWindow::saveRows);
    connect(m_WriteFile, &QCheckBox::toggled, this, [this](bool on) {
        m_Log.setFileEnabled(on);
        showStatus();
    });
}

void SessionLogWindow::addShortcuts() {
    auto shortcut = [this](const QKeySequence& keys, auto slot) {
        auto* s = new QShortcut(keys, this);
        s->setContext(Qt::WidgetWithChildrenShortcut);
        connect(s, &QShortcut::activated, this, slot);
    };
    shortcut(QKeySequence::Copy, [this] {
        if (!m_Search->hasFocus() || !m_Search->hasSelectedText())
            copySelectedRows();
        else
            m_Search->copy();
    });
    shortcut(QKeySequence::Find, [this] {
        m_Search->setFocus();
        m_Search->selectAll();
    });
    shortcut(QKeySequence::FindNext, [this] { findNext(true); });
    shortcut(QKeySequence::FindPrevious, [this] { findNext(false); });
}

void SessionLogWindow::followModel() {
    // Follow new rows while the view shows the last one; keep the rows in
    // view where they are when the oldest drop while the operator looks up.
    SessionLogModel* model = &m_Log.model();
    connect(model, &QAbstractItemModel::rowsAboutToBeInserted, this, [this] { m_Follow = atBottom(); });
    connect(model, &QAbstractItemModel::rowsInserted, this, [this] {
        if (m_Follow)
            m_View->scrollToBottom();
    });
    connect(model, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex&, int first, int last) {
                m_FrontDropped = first == 0 && !atBottom() ? last + 1 : 0;
            });
    connect(model, &QAbstractItemModel::rowsRemoved, this, [this] {
        if (m_FrontDropped > 0) {
            QScrollBar* bar = m_View->verticalScrollBar();
            bar->setValue(std::max(0, bar->value() - m_FrontDropped));
            m_FrontDropped = 0;
        }
    });
    connect(model, &QAbstractItemModel::modelReset, this, [this] { m_Follow = true; });
}

bool SessionLogWindow::atBottom() const {
    const QScrollBar* bar = m_View->verticalScrollBar();
    return bar->value() >= bar->maximum();
}

void SessionLogWindow::showLinkState(const session::LinkState& state) {
    if (!state.open) {
        m_LinkLabel->setText(QStringLiteral("No link open"));
        m_LostLabel->hide();
        return;
    }
    const QString module = moduleText(state);
    QString text = QString::fromStdString(state.name);
    if (!module.isEmpty())
        text += QStringLiteral("   ") + module;
    m_LinkLabel->setText(text);
    m_LostLabel->setVisible(state.lost);
}

void SessionLogWindow::showStatus() {
    const SessionLogModel& model = m_Log.model();
    QString text = QStringLiteral("%1 records held").arg(model.held());
    if (model.dropped() > 0)
        text += QStringLiteral(", %1 oldest dropped").arg(model.dropped());
    if (!m_Log.fileEnabled())
        text += QStringLiteral("   log file off");
    else if (!m_Log.fileProblem().isEmpty())
        text += QStringLiteral("   log file %1: %2").arg(m_Log.filePath(), m_Log.fileProblem());
    else if (!m_Log.filePath().isEmpty())
        text += QStringLiteral("   log file %1").arg(m_Log.filePath());
    m_Status->setText(text);
}

void SessionLogWindow::applyFilter() {
    SessionLogModel& model = m_Log.model();
    const QModelIndex current = m_View->currentIndex();
    const bool follow = atBottom() || !current.isValid();
    const uint64_t position = current.isValid() ? model.positionOf(current.row()) : 0;
    SessionLogModel::Filter f;
    f.bytes = m_Bytes->isChecked();
    f.events = m_Events->isChecked();
    f.transactions = m_Transactions->isChecked();
    f.direction = static_cast<SessionLogModel::Direction>(std::max(0, m_Direction->currentIndex()));
    model.setFilter(f);
    const int row = follow ? -1 : model.rowAtOrAfter(position);
    if (row < 0) {
        m_View->scrollToBottom();
        return;
    }
    m_View->setCurrentIndex(model.index(row, 0));
    m_View->scrollTo(model.index(row, 0), QAbstractItemView::PositionAtCenter);
}

bool SessionLogWindow::findNext(bool forward) {
    SessionLogModel& model = m_Log.model();
    const int from = m_View->currentIndex().isValid() ? m_View->currentIndex().row() : -1;
    const int row = model.find(m_Search->text(), from, forward);
    if (row < 0) {
        m_Search->setStyleSheet(
            m_Search->text().isEmpty() ? QString() : QStringLiteral("QLineEdit { background: #ffe0e0; }"));
        return false;
    }
    m_Search->setStyleSheet(QString());
    m_View->setCurrentIndex(model.index(row, 0));
    m_View->selectRow(row);
    m_View->scrollTo(model.index(row, 0), QAbstractItemView::PositionAtCenter);
    return true;
}

void SessionLogWindow::copySelectedRows() {
    QList<int> rows;
    for (const QModelIndex& index : m_View->selectionModel()->selectedRows())
        rows << index.row();
    std::sort(rows.begin(), rows.end());
    if (rows.isEmpty())
        return;
    QApplication::clipboard()->setText(m_Log.model().rowsAsText(rows));
}

void SessionLogWindow::saveRows() {
    const QString path =
        consoleUi().saveFileName(this, QStringLiteral("session-log.txt"),
                                 QStringLiteral("Text (*.txt);;CSV (*.csv)"), QStringLiteral("txt"));
    if (path.isEmpty())
        return;
    const bool csv = path.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive);
    const QString problem = m_Log.model().save(path, csv);
    if (!problem.isEmpty())
        ShowConsoleBox(m_Log.recorder(), this, QStringLiteral("Cannot save %1: %2").arg(path, problem),
                       QStringLiteral("Error"), ConsoleUi::Icon::Error);
}

void SessionLogWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        hide();
        return;
    }
    QWidget::keyPressEvent(event);
}
