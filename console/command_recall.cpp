#include "command_recall.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QCoreApplication>
#include <QDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QStandardItemModel>
#include <QStandardPaths>
#include <QVBoxLayout>

#include "known_commands.h"

namespace {

constexpr int kInsertRole = Qt::UserRole; // what a completion puts into the box
const char kKnownCommandsName[] = "cmdora/known-commands";

bool isEnter(int key) {
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

} // namespace

CommandRecall::CommandRecall(QLineEdit* box) : QObject(box), m_Box(box), m_Path(session::HistoryPath()) {
    m_History.Load(m_Path);
    loadKnownCommands();
    m_Box->installEventFilter(this);
}

QString CommandRecall::installedKnownCommands() {
    const QString beside =
        QCoreApplication::applicationDirPath() + QStringLiteral("/../share/") + QLatin1String(kKnownCommandsName);
    if (QFileInfo::exists(beside))
        return QFileInfo(beside).canonicalFilePath();
    return QStandardPaths::locate(QStandardPaths::GenericDataLocation, QLatin1String(kKnownCommandsName));
}

void CommandRecall::loadKnownCommands() {
    std::vector<std::string> paths;
    if (const QString installed = installedKnownCommands(); !installed.isEmpty())
        paths.push_back(installed.toStdString());
    paths.push_back(session::UserKnownCommandsPath());
    m_Known = new QStandardItemModel(this);
    for (const session::KnownCommand& c : session::ReadKnownCommands(paths)) {
        const QString command = QString::fromStdString(c.command);
        const QString hint = QString::fromStdString(c.hint);
        QString shown = command;
        if (!hint.isEmpty())
            shown += QLatin1Char(' ') + hint;
        if (!c.description.empty())
            shown += QStringLiteral("  \u2014 ") + QString::fromStdString(c.description);
        auto* item = new QStandardItem(shown);
        item->setData(hint.isEmpty() ? command : command + QLatin1Char(' '), kInsertRole);
        item->setToolTip(QString::fromStdString(c.description));
        m_Known->appendRow(item);
    }
    m_Completer = new QCompleter(m_Known, this);
    m_Completer->setCompletionRole(kInsertRole);
    m_Completer->setCaseSensitivity(Qt::CaseInsensitive);
    m_Completer->setCompletionMode(QCompleter::PopupCompletion);
    m_Completer->setMaxVisibleItems(12);
    m_Box->setCompleter(m_Completer);
    m_Completer->popup()->installEventFilter(this); // after the completer's own filter: seen first
}

void CommandRecall::sent(const QString& command) {
    const std::string text = command.toStdString();
    m_History.Add(text);
    // A history that cannot be written costs the operator nothing now: the
    // command went out, and the list in memory still has it.
    session::CommandHistory::Append(m_Path, text);
}

bool CommandRecall::takeCompletion() {
    QAbstractItemView* popup = m_Completer->popup();
    if (!popup->isVisible())
        return false;
    QModelIndex index = popup->currentIndex();
    if (!index.isValid())
        index = m_Completer->completionModel()->index(0, 0);
    popup->hide();
    if (index.isValid())
        m_Box->setText(index.data(kInsertRole).toString());
    return true;
}

bool CommandRecall::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Hide && watched == m_Completer->popup() && !m_Box->window()->isActiveWindow()) {
        // Some platforms leave no window active once the list closes: typing goes on in the box.
        m_Box->window()->activateWindow();
        m_Box->setFocus(Qt::PopupFocusReason);
    }
    if (event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    const bool plain = !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier));
    if (plain && (key->key() == Qt::Key_Tab || isEnter(key->key())) && takeCompletion())
        return true;
    if (watched != m_Box || !plain || m_Completer->popup()->isVisible())
        return QObject::eventFilter(watched, event);
    std::string text;
    if (key->key() == Qt::Key_Up) {
        if (m_History.Back(m_Box->text().toStdString(), text))
            m_Box->setText(QString::fromStdString(text));
        return true;
    }
    if (key->key() == Qt::Key_Down) {
        if (m_History.Forward(text))
            m_Box->setText(QString::fromStdString(text));
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void CommandRecall::openSearch() {
    if (!m_Search) {
        m_Search = new QDialog(m_Box->window());
        m_Search->setObjectName(QStringLiteral("FindCommand"));
        m_Search->setWindowTitle(QStringLiteral("Find Command"));
        auto* part = new QLineEdit(m_Search);
        part->setPlaceholderText(QStringLiteral("Part of an earlier command"));
        auto* found = new QListWidget(m_Search);
        auto* layout = new QVBoxLayout(m_Search);
        layout->addWidget(new QLabel(QStringLiteral("Commands sent, newest first:"), m_Search));
        layout->addWidget(part);
        layout->addWidget(found);
        m_Search->resize(360, 300);
        connect(part, &QLineEdit::textChanged, this, &CommandRecall::fillSearch);
        auto take = [this, found] {
            if (QListWidgetItem* item = found->currentItem()) {
                m_History.EndWalk();
                m_Box->setText(item->text());
            }
            m_Search->accept();
        };
        connect(part, &QLineEdit::returnPressed, this, take);
        connect(found, &QListWidget::itemActivated, this, take);
        connect(m_Search, &QDialog::finished, m_Box, [this] {
            m_Box->activateWindow();
            m_Box->setFocus(Qt::OtherFocusReason);
        });
    }
    auto* part = m_Search->findChild<QLineEdit*>();
    part->setText(m_Box->text());
    fillSearch(part->text());
    m_Search->open();
    part->setFocus(Qt::OtherFocusReason);
}

void CommandRecall::fillSearch(const QString& part) {
    auto* found = m_Search->findChild<QListWidget*>();
    found->clear();
    for (const std::string& c : m_History.Find(part.toStdString()))
        found->addItem(QString::fromStdString(c));
    found->setCurrentRow(0);
}
