// The command preview: the frame the typed command would travel in, as
// hexadecimal text in the result box.
//
// The preview shows exactly the frame Send would send over TCP: an X frame
// of up to 2033 text bytes (2048-byte area), a Z frame of up to 253 (its
// length byte counts n + 2). A longer command gets a one-line note instead
// of a frame, so the box never shows bytes that would not go out.
#include "d_cmdora.h"

#include "answer_reading.h"
#include "command_text.h"
#include "frames.h"
#include "hex_notation.h"

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QRadioButton>

namespace {
constexpr size_t kPreviewXArea = 2048;
constexpr size_t kPreviewZArea = 1024;
} // namespace

void D_CMDORA::OnEnChangeCommand() {
    UpdateData();
    int notation = 0;
    if (m_Notation0x && m_Notation0x->isChecked())
        notation = 1;
    if (m_NotationDollar && m_NotationDollar->isChecked())
        notation = 2;

    const bool xFrame = m_XAscii && m_XAscii->isChecked();
    const auto text = commandUnits(m_strCommand);
    const answer::SendPath path = xFrame ? answer::SendPath::XFrame : answer::SendPath::ZFrame;

    QString rendering;
    if (text.size() > static_cast<size_t>(answer::MaxCommandChars(path))) {
        rendering = QString::fromStdU16String(answer::CommandTooLongText(path));
    } else {
        unsigned char area[kPreviewXArea > kPreviewZArea ? kPreviewXArea : kPreviewZArea] = {};
        const size_t total = xFrame ? lumo::XCommandFrame(area, kPreviewXArea, text)
                                    : lumo::ZCommandFrame(area, kPreviewZArea, m_Net.m_ConnectToPcID, text);
        rendering = QString::fromLatin1(RenderHex(area, total, notation));
    }
    if (m_Result)
        m_Result->setPlainText(rendering);
}
