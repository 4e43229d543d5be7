// Command files: the command box saved as one ready-made frame (binary, or
// hex text in one of three notations) and a binary frame file's text loaded
// back into the command box. None of it needs an open link.
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QSaveFile>

#include "command_text.h"
#include "console_ui.h"
#include "d_cmdora.h"
#include "frames.h"
#include "hex_notation.h"
#include "session_log.h"

namespace {

const QString kBinFilter = QStringLiteral("Firmware File(*.bin)");
const QString kTxtFilter = QStringLiteral("Firmware File(*.Txt)");
const QString kBinSuffix = QStringLiteral("bin");
const QString kTxtSuffix = QStringLiteral("Txt");

constexpr int kLongCommandWarning = 100; // characters; the save still goes on
constexpr int kDefaultNameZ = 9;         // characters of the command offered as file name
constexpr int kDefaultNameX = 12;
// Saved Z frames are addressed with ID 15: no module ID applies to a file.
constexpr int kFileModuleId = 15;
// Frame areas of a saved command: a Z frame's one-byte length bounds its text,
// an X frame is built in 2048 bytes.
constexpr size_t kZSaveArea = lumo::Z_FRAME_MAX_TEXT + lumo::Z_FRAME_OVERHEAD;
constexpr size_t kXSaveArea = 2048;
constexpr int kXSaveMaxText = static_cast<int>(kXSaveArea) - lumo::X_FRAME_OVERHEAD;

constexpr qint64 kLoadMaxBytes = 128; // a loaded file is read this far only
constexpr int kZTextOffset = 7;       // text of a Z frame
constexpr int kXTextOffset = 14;      // text of an X frame, before its checksum byte

void fileError(D_CMDORA* dlg, const QString& what, const QString& path, const QString& reason) {
    ShowConsoleBox(dlg->m_Link.recorder(), dlg, QStringLiteral("%1 %2: %3").arg(what, path, reason),
                   QStringLiteral("Error"), ConsoleUi::Icon::Error);
}

// The bytes as text, one UTF-16 unit of the same value per byte, up to the first zero.
QString bytesAsText(const char *p, qsizetype n) {
    QString text;
    for (qsizetype i = 0; i < n && p[i] != 0; ++i)
        text.append(QChar(static_cast<char16_t>(static_cast<unsigned char>(p[i]))));
    return text;
}

} // namespace

// Builds the frame of the command box (Z with ID 15, or X with its checksum),
// asks for a file name and writes the frame there. notation < 0: binary file;
// 0..2: hex text in that notation. UI thread; blocks in the chooser.
static void saveCommandFrame(D_CMDORA *dlg, int notation) {
    dlg->UpdateData();
    const QString &command = dlg->m_strCommand;
    if (command.size() > kLongCommandWarning)
        ShowConsoleBox(dlg->m_Link.recorder(), dlg, QStringLiteral("Error"), QStringLiteral("Morrack"),
                       ConsoleUi::Icon::None);

    const bool xFrame = dlg->m_XAscii && dlg->m_XAscii->isChecked();
    const int maxText = xFrame ? kXSaveMaxText : lumo::Z_FRAME_MAX_TEXT;
    if (command.size() > maxText) {
        ShowConsoleBox(dlg->m_Link.recorder(), dlg,
                       QStringLiteral("The command is %1 characters long; %2 holds at most %3. "
                                      "Nothing was saved.")
                           .arg(command.size())
                           .arg(xFrame ? QStringLiteral("an X frame") : QStringLiteral("a Z frame"))
                           .arg(maxText),
                       QStringLiteral("Error"), ConsoleUi::Icon::Error);
        return;
    }

    unsigned char area[kXSaveArea] = {};
    const size_t length = xFrame
                              ? lumo::XCommandFrame(area, kXSaveArea, commandUnits(command))
                              : lumo::ZCommandFrame(area, kZSaveArea, kFileModuleId, commandUnits(command));

    const QString defaultName = command.left(xFrame ? kDefaultNameX : kDefaultNameZ);
    const bool binary = notation < 0;
    const QString path = consoleUi().saveFileName(dlg, defaultName, binary ? kBinFilter : kTxtFilter,
                                                  binary ? kBinSuffix : kTxtSuffix);
    if (path.isEmpty())
        return;

    const QByteArray content =
        binary ? QByteArray(reinterpret_cast<const char *>(area), static_cast<qsizetype>(length))
               : RenderHex(area, length, notation);
    // A temporary file beside the target, renamed over it at commit: an
    // existing file is replaced whole, and a failed write leaves nothing behind.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        fileError(dlg, QStringLiteral("Cannot write"), path, file.errorString());
        return;
    }
    if (file.write(content) != content.size()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        fileError(dlg, QStringLiteral("Cannot write"), path, reason);
        return;
    }
    if (!file.commit())
        fileError(dlg, QStringLiteral("Cannot write"), path, file.errorString());
}

void D_CMDORA::OnBnClickedSaveBin() {
    saveCommandFrame(this, -1);
}

void D_CMDORA::OnBnClickedSaveTxt(int notation) {
    saveCommandFrame(this, notation);
}

void D_CMDORA::OnBnClickedLoadBin() {
    const QString path = consoleUi().openFileName(this, kBinFilter, kBinSuffix);
    if (path.isEmpty())
        return;

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        fileError(this, QStringLiteral("Cannot open"), path, file.errorString());
        return;
    }
    char area[kLoadMaxBytes] = {};
    const qint64 k = file.read(area, kLoadMaxBytes);
    if (k < 0) {
        fileError(this, QStringLiteral("Cannot read"), path, file.errorString());
        return;
    }
    file.close();

    // Nothing in the file is checked: the "X ASCII" box alone decides the layout.
    QString text;
    if (m_XAscii && m_XAscii->isChecked()) {
        if (k > lumo::X_FRAME_OVERHEAD)
            text = bytesAsText(area + kXTextOffset, k - lumo::X_FRAME_OVERHEAD);
    } else if (k > kZTextOffset) {
        text = bytesAsText(area + kZTextOffset, k - kZTextOffset);
    }
    if (m_Command)
        m_Command->setText(text); // runs the preview like typing does
}
