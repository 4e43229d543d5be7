#include "ip_address_edit.h"

#include <QEvent>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

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
        edit->setMaxLength(3);
        edit->setValidator(new QIntValidator(0, 255, edit));
        edit->installEventFilter(this);
        m_Fields[i] = edit;
        row->addWidget(edit, 1);
        connect(edit, &QLineEdit::textEdited, this, [this, i, edit](const QString& typed) {
            // Like the platform control: a value above 255 becomes 255.
            if (typed.toInt() > 255)
                edit->setText(QStringLiteral("255"));
            const QString text = edit->text();
            emit fieldChanged(i);
            // Like the platform control: three digits move on to the next field.
            if (text.size() == 3 && i < 3 && edit->cursorPosition() == 3) {
                m_Fields[i + 1]->setFocus(Qt::TabFocusReason);
                m_Fields[i + 1]->selectAll();
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
    if (event->type() == QEvent::FocusOut) {
        emit fieldChanged(i);
    } else if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Period && i < 3) {
            if (!m_Fields[i]->text().isEmpty()) {
                m_Fields[i + 1]->setFocus(Qt::TabFocusReason);
                m_Fields[i + 1]->selectAll();
            }
            return true;
        }
        if (key->key() == Qt::Key_Backspace && i > 0 && m_Fields[i]->cursorPosition() == 0 &&
            !m_Fields[i]->hasSelectedText()) {
            m_Fields[i - 1]->setFocus(Qt::BacktabFocusReason);
            m_Fields[i - 1]->end(false);
            return true;
        }
    }
    return QFrame::eventFilter(watched, event);
}
