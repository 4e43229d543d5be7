// Keyboard conventions shared by the console's dialogs: Enter on a focused
// push button clicks it; Tab and Shift+Tab walk the template's controls and
// come round, a group of radio buttons being one stop at its checked button;
// the arrow keys move within a radio group and click the button moved to.
// UI thread only.
#pragma once

#include <QList>
#include <QObject>

class QAbstractButton;
class QKeyEvent;
class QWidget;

// Return or keypad Enter without Ctrl or Alt.
bool IsEnterKey(const QKeyEvent* key);

// Clicks the enabled push button that has the focus in dialog when key is
// Enter; returns whether it did (the key is then accepted).
bool ClickFocusedButtonOnEnter(QWidget* dialog, QKeyEvent* key);

// The tab stops of one dialog, in template order. The dialog's
// focusNextPrevChild hands Tab and Shift+Tab to focusNext.
class TabStops : public QObject {
public:
    explicit TabStops(QWidget* dialog);

    // One control; a control made of parts (the IP address control) is
    // entered through its focus proxy and left from any of its parts.
    void addStop(QWidget* control);
    // Exclusive radio buttons, in template order: one stop. The arrow keys
    // move round the group's enabled buttons and click the one moved to.
    void addGroup(const QList<QAbstractButton*>& radios);

    // Moves the focus to the next (forward) or previous enabled stop after
    // the one holding the focus, coming round. False when no stop is enabled.
    bool focusNext(bool forward);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Stop {
        QWidget* control = nullptr;     // single control, or nullptr for a group
        QList<QAbstractButton*> radios; // the group's buttons
    };
    int stopHolding(const QWidget* focus) const;
    // The widget that takes the focus for the stop, or nullptr when it cannot.
    QWidget* entryOf(const Stop& stop) const;
    bool moveInGroup(const Stop& stop, QAbstractButton* from, int step);

    QWidget* m_Dialog;
    QList<Stop> m_Stops;
};
