#include "dialog_keys.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QPushButton>
#include <QWidget>

bool IsEnterKey(const QKeyEvent* key) {
    return (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
           !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
}

bool ClickFocusedButtonOnEnter(QWidget* dialog, QKeyEvent* key) {
    auto* button = qobject_cast<QPushButton*>(dialog->focusWidget());
    if (!IsEnterKey(key) || !button || !button->isEnabled())
        return false;
    key->accept();
    button->click();
    return true;
}

TabStops::TabStops(QWidget* dialog) : QObject(dialog), m_Dialog(dialog) {}

void TabStops::addStop(QWidget* control) {
    m_Stops.append(Stop{control, {}});
}

void TabStops::addGroup(const QList<QAbstractButton*>& radios) {
    m_Stops.append(Stop{nullptr, radios});
    for (QAbstractButton* b : radios)
        b->installEventFilter(this);
}

int TabStops::stopHolding(const QWidget* focus) const {
    if (!focus)
        return -1;
    for (int i = 0; i < m_Stops.size(); ++i) {
        const Stop& s = m_Stops[i];
        if (s.control ? (s.control == focus || s.control->isAncestorOf(focus)) : s.radios.contains(focus))
            return i;
    }
    return -1;
}

QWidget* TabStops::entryOf(const Stop& stop) const {
    auto takes = [](const QWidget* w) { return w->isEnabled() && !w->isHidden(); };
    if (stop.control)
        return takes(stop.control) ? stop.control : nullptr;
    // The checked button, else (none checked, or it is disabled) the first enabled one.
    for (QAbstractButton* b : stop.radios)
        if (b->isChecked() && takes(b))
            return b;
    for (QAbstractButton* b : stop.radios)
        if (takes(b))
            return b;
    return nullptr;
}

bool TabStops::focusNext(bool forward) {
    const int n = static_cast<int>(m_Stops.size());
    int at = stopHolding(m_Dialog->focusWidget());
    if (at < 0)
        at = forward ? n - 1 : 0; // from outside the stops: the first, or the last
    for (int k = 1; k <= n; ++k) {
        const int i = ((at + (forward ? k : -k)) % n + n) % n;
        if (QWidget* target = entryOf(m_Stops[i])) {
            target->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
            return true;
        }
    }
    return false;
}

bool TabStops::moveInGroup(const Stop& stop, QAbstractButton* from, int step) {
    const int n = static_cast<int>(stop.radios.size());
    const int at = static_cast<int>(stop.radios.indexOf(from));
    for (int k = 1; k < n; ++k) {
        QAbstractButton* b = stop.radios[((at + step * k) % n + n) % n];
        if (b->isEnabled() && !b->isHidden()) {
            b->setFocus(step > 0 ? Qt::TabFocusReason : Qt::BacktabFocusReason);
            b->click(); // the same effect as a click: checks it and runs its handler
            return true;
        }
    }
    return false;
}

bool TabStops::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->modifiers() & ~Qt::KeypadModifier)
        return false;
    int step = 0;
    switch (key->key()) {
    case Qt::Key_Down:
    case Qt::Key_Right:
        step = 1;
        break;
    case Qt::Key_Up:
    case Qt::Key_Left:
        step = -1;
        break;
    default:
        return false;
    }
    auto* button = qobject_cast<QAbstractButton*>(watched);
    const int at = stopHolding(button);
    if (at < 0)
        return false;
    // Taken here in every case: the button's own arrow handling moves by
    // position on screen and does not come round.
    moveInGroup(m_Stops[at], button, step);
    return true;
}
