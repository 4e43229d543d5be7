#include "ip_address_edit.h"

#include <QClipboard>
#include <QEvent>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QValidator>
#include <optional>

namespace {

// The four numbers of a dotted address such as "192.168.1.20" (white space
// around it allowed), each clamped to 255; nothing for any other text.
std::optional<std::array<uint8_t, 4>> dottedAddress(const QString& text) {
    static const QRegularExpression address(
        QStringLiteral(R"(^\s*([0-9]{1,3})\.([0-9]{1,3})\.([0-9]{1,3})\.([0-9]{1,3})\s*$)"));
    const QRegularExpressionMatch m = address.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    std::array<uint8_t, 4> parts{};
    for (int f = 0; f < 4; ++f)
        parts[f] = static_cast<uint8_t>(qMin(m.captured(f + 1).toInt(), 255));
    return parts;
}

// A field takes up to three digits (above 255 is clamped once typed). A whole
// dotted address is let in too, so that pasting one by any route (keys, menu,
// middle button, drop) reaches the control, which spreads it over the fields.
class FieldValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        static const QRegularExpression digits(QStringLiteral("^[0-9]{0,3}$"));
        return digits.match(input).hasMatch() || dottedAddress(input) ? Acceptable : Invalid;
    }
};

} // namespace

IpAddressEdit::IpAddressEdit(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(2, 1, 2, 1);
    row->setSpacing(0);
    for (int i = 0; i < 4; ++i) {
        auto* edit = new QLineEdit(this);
        edit->setFrame(false);
        edit->setAlignment(Qt::AlignCenter);
        edit->setValidator(new FieldValidator(edit));
        edit->installEventFilter(this);
        m_Fields[i] = edit;
        row->addWidget(edit, 1);
        connect(edit, &QLineEdit::textEdited, this, [this, i, edit](const QString& typed) {
            if (const auto address = dottedAddress(typed)) {
                takePastedAddress(*address);
                return;
            }
            // Like the platform control: a value above 255 becomes 255.
            if (typed.toInt() > 255)
                edit->setText(QStringLiteral("255"));
            const QString text = edit->text();
            emit fieldChanged(i);
            // Like the platform control: three digits move on to the next field.
            if (text.size() == 3 && i < 3 && edit->cursorPosition() == 3) {
                m_Fields[i + 1]->setFocus(Qt::TabFocusReason);
                m_Fields[i + 1]->selectAll();
                m_JumpedTo = i + 1; // after the focus change, which clears it
            }
        });
        if (i < 3) {
            auto* dot = new QLabel(QStringLiteral("."), this);
            dot->setAlignment(Qt::AlignCenter);
            row->addWidget(dot, 0);
        }
    }
    setFocusProxy(m_Fields[0]);
}

void IpAddressEdit::setParts(const std::array<uint8_t, 4>& parts) {
    for (int i = 0; i < 4; ++i)
        m_Fields[i]->setText(QString::number(parts[i]));
}

std::array<uint8_t, 4> IpAddressEdit::parts() const {
    std::array<uint8_t, 4> out{};
    for (int i = 0; i < 4; ++i) {
        const int v = m_Fields[i]->text().toInt(); // empty or junk gives 0
        out[i] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
    }
    return out;
}

int IpAddressEdit::indexOf(QObject* watched) const {
    for (int i = 0; i < 4; ++i)
        if (m_Fields[i] == watched)
            return i;
    return -1;
}

bool IpAddressEdit::eventFilter(QObject* watched, QEvent* event) {
    const int i = indexOf(watched);
    if (i < 0)
        return QFrame::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::FocusIn:
        if (static_cast<QFocusEvent*>(event)->reason() == Qt::MouseFocusReason)
            m_SelectOnRelease = i;
        break;
    case QEvent::FocusOut:
        m_JumpedTo = -1;
        m_SelectOnRelease = -1;
        emit fieldChanged(i);
        break;
    case QEvent::MouseButtonPress:
        m_JumpedTo = -1;
        // A right click into a field selects it before its menu opens, so
        // that the menu's Paste replaces it.
        if (m_SelectOnRelease == i && static_cast<QMouseEvent*>(event)->button() == Qt::RightButton) {
            m_Fields[i]->selectAll();
            m_SelectOnRelease = -1;
        }
        break;
    case QEvent::MouseButtonRelease:
        // A click into a field selects its text, unless the press dragged a selection.
        if (m_SelectOnRelease == i && !m_Fields[i]->hasSelectedText())
            m_Fields[i]->selectAll();
        m_SelectOnRelease = -1;
        break;
    case QEvent::KeyPress:
        return handleKey(i, static_cast<QKeyEvent*>(event));
    default:
        break;
    }
    return QFrame::eventFilter(watched, event);
}

bool IpAddressEdit::handleKey(int i, QKeyEvent* key) {
    const bool afterJump = m_JumpedTo == i;
    m_JumpedTo = -1;
    QLineEdit* field = m_Fields[i];
    if (key->matches(QKeySequence::Paste)) {
        // An address replaces all four fields wherever the caret is.
        if (const auto address = dottedAddress(QGuiApplication::clipboard()->text())) {
            takePastedAddress(*address);
            return true;
        }
        return false; // a number goes into this field, checked as typing is
    }
    const bool plain = !(key->modifiers() & ~Qt::KeypadModifier);
    if (key->key() == Qt::Key_Period && plain) {
        if (!afterJump && i < 3 && !field->text().isEmpty()) {
            m_Fields[i + 1]->setFocus(Qt::TabFocusReason);
            m_Fields[i + 1]->selectAll();
        }
        return true;
    }
    const bool atStart = field->cursorPosition() == 0 && !field->hasSelectedText();
    const bool atEnd = field->cursorPosition() == field->text().size() && !field->hasSelectedText();
    if ((key->key() == Qt::Key_Backspace || (key->key() == Qt::Key_Left && plain)) && i > 0 && atStart) {
        m_Fields[i - 1]->setFocus(Qt::OtherFocusReason);
        m_Fields[i - 1]->end(false);
        return true;
    }
    if (key->key() == Qt::Key_Right && plain && i < 3 && atEnd) {
        m_Fields[i + 1]->setFocus(Qt::OtherFocusReason);
        m_Fields[i + 1]->home(false);
        return true;
    }
    return false;
}

void IpAddressEdit::takePastedAddress(const std::array<uint8_t, 4>& parts) {
    for (int f = 0; f < 4; ++f) {
        const QString value = QString::number(parts[f]);
        if (m_Fields[f]->text() != value) {
            m_Fields[f]->setText(value);
            emit fieldChanged(f);
        }
    }
}
