// Four-field IPv4 address control: four 0..255 fields separated by dots.
// Typing: three digits move the caret to the next field, and a '.' typed
// right then is absorbed; a '.' moves on only from a field holding digits;
// the arrow keys and Backspace cross between fields; a field entered by a
// click or by Tab has its text selected, so typing replaces it; pasting a
// dotted address fills all four fields. Tab leaves the control from any
// field. UI thread only.
#pragma once

#include <QFrame>
#include <array>
#include <cstdint>

class QKeyEvent;
class QLineEdit;

class IpAddressEdit : public QFrame {
    Q_OBJECT
public:
    explicit IpAddressEdit(QWidget* parent = nullptr);

    // Part 0 is the leftmost field. Setting emits nothing.
    void setParts(const std::array<uint8_t, 4>& parts);
    // Empty fields read as 0; values above 255 as 255.
    std::array<uint8_t, 4> parts() const;
    // The field's line edit (0..3), for tests and focus handling.
    QLineEdit* field(int index) const { return m_Fields[index]; }

signals:
    // The operator edited field `index` or left it.
    void fieldChanged(int index);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int indexOf(QObject* watched) const;
    bool handleKey(int i, QKeyEvent* key);
    // Puts a pasted address into the four fields and reports each change.
    void takePastedAddress(const std::array<uint8_t, 4>& parts);

    std::array<QLineEdit*, 4> m_Fields{};
    int m_JumpedTo = -1;        // field just reached by three digits: a '.' typed now is absorbed
    int m_SelectOnRelease = -1; // field focused by a mouse press: selected when the button is let go
};
