// Waiting for the state a test then acts on: a window active, the focus
// where a click or setFocus puts it, a modal dialog open. On a loaded machine
// each comes some time after the call that asks for it, so a test waits for
// it (bounded) instead of assuming it. Header-only; UI thread.
#pragma once

#include <QApplication>
#include <QTest>
#include <QWidget>

namespace uiwait {

inline constexpr int kWaitMs = 10000;

// Whether window is shown and active (at once when it already is).
[[nodiscard]] inline bool active(QWidget* window) {
    return QTest::qWaitForWindowActive(window, kWaitMs);
}

// Gives w the focus once its window is active; whether w then holds it.
[[nodiscard]] inline bool focus(QWidget* w) {
    if (!active(w->window()))
        return false;
    w->setFocus(Qt::OtherFocusReason);
    return QTest::qWaitFor([w] { return w->hasFocus(); }, kWaitMs);
}

// Clicks w once its window is active; whether w then holds the focus.
[[nodiscard]] inline bool clickFocus(QWidget* w) {
    if (!active(w->window()))
        return false;
    QTest::mouseClick(w, Qt::LeftButton);
    return QTest::qWaitFor([w] { return w->hasFocus(); }, kWaitMs);
}

// The widget holding the keyboard focus once one does, else nullptr.
[[nodiscard]] inline QWidget* focused() {
    return QTest::qWaitFor([] { return QApplication::focusWidget() != nullptr; }, kWaitMs)
               ? QApplication::focusWidget()
               : nullptr;
}

} // namespace uiwait
