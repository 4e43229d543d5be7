// Four-field IPv4 address control: four 0..255 fields separated by dots.
// UI thread only.
#pragma once

#include <QFrame>
#include <array>
#include <cstdint>

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

    std::array<QLineEdit*, 4> m_Fields{};
};
