#include "session_log_model.h"

#include <QBrush>
#include <QColor>
#include <QDateTime>
#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <limits>

namespace {

constexpr size_t kTipBytes = 1024;
constexpr int kCellChars = 400;

QString fromUtf8(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QString hexCell(const std::vector<uint8_t>& b, size_t most) {
    QString s = QString::fromLatin1(session::HexBytes(b.data(), std::min(b.size(), most)));
    if (b.size() > most)
        s += QStringLiteral(" ...");
    return s;
}

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool containsLowered(std::string_view hay, const std::string& lowered) {
    if (lowered.empty())
        return true;
    return std::search(hay.begin(), hay.end(), lowered.begin(), lowered.end(),
                       [](char a, char b) { return lowerAscii(a) == b; }) != hay.end();
}

// Whether the bytes, as hex digits without spaces, hold the digits of `digits` at a byte boundary.
bool bytesHoldHex(const std::vector<uint8_t>& b, const std::string& digits) {
    static constexpr char kHex[] = "0123456789abcdef";
    const size_t need = digits.size();
    if (need == 0 || need > b.size() * 2)
        return false;
    for (size_t start = 0; start + need <= b.size() * 2; start += 2) {
        size_t k = 0;
        for (; k < need; ++k) {
            const uint8_t byte = b[(start + k) / 2];
            const char d = kHex[(start + k) % 2 == 0 ? byte >> 4 : byte & 0x0F];
            if (d != digits[k])
                break;
        }
        if (k == need)
            return true;
    }
    return false;
}

} // namespace

SessionLogModel::SessionLogModel(size_t cap, QObject* parent)
    : QAbstractTableModel(parent), m_Cap(std::clamp<size_t>(cap, 1, std::numeric_limits<int>::max())) {}

int SessionLogModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_Shown.size());
}

int SessionLogModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QString SessionLogModel::isoStamp(int64_t wallMs) {
    return QDateTime::fromMSecsSinceEpoch(wallMs).toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss.zzz"));
}

QVariant SessionLogModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() < 0 || index.row() >= rowCount())
        return {};
    const session::Record& r = recordAt(index.row());
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
        switch (column) {
        case ColTime: {
            QString t = QDateTime::fromMSecsSinceEpoch(r.wallMs).toString(QStringLiteral("HH:mm:ss.zzz"));
            if (r.sinceOpenMs >= 0)
                t += QStringLiteral("  +%1.%2")
                         .arg(r.sinceOpenMs / 1000)
                         .arg(r.sinceOpenMs % 1000, 3, 10, QLatin1Char('0'));
            return t;
        }
        case ColLink:
            return fromUtf8(r.link);
        case ColKind:
            return QString::fromLatin1(session::KindWord(r.kind));
        case ColHex:
            return hexCell(r.bytes, kCellBytes);
        case ColText:
            return fromUtf8(session::DisplayText(r, kCellBytes)).left(kCellChars);
        }
        return {};
    case Qt::ToolTipRole:
        if (column == ColHex || column == ColText) {
            QString tip = hexCell(r.bytes, kTipBytes) + QStringLiteral("\n") +
                          fromUtf8(session::DisplayText(r, kTipBytes)).left(4 * kCellChars);
            if (r.kind == session::RecordKind::Send)
                tip += QStringLiteral("\nanswer: ") + hexCell(r.answer, kTipBytes);
            return tip.trimmed();
        }
        return {};
    case Qt::ForegroundRole:
        if (r.flags & session::kRecordLost)
            return QBrush(QColor(0xB0, 0x00, 0x00));
        if (r.flags & session::kRecordFailure)
            return QBrush(QColor(0x99, 0x22, 0x22));
        if (r.kind == session::RecordKind::Tx)
            return QBrush(QColor(0x10, 0x40, 0xA0));
        if (r.kind == session::RecordKind::Rx)
            return QBrush(QColor(0x10, 0x70, 0x30));
        return {};
    case Qt::BackgroundRole:
        if (r.flags & session::kRecordLost)
            return QBrush(QColor(0xFF, 0xD8, 0xD8));
        return {};
    default:
        return {};
    }
}

QVariant SessionLogModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case ColTime:
        return QStringLiteral("Time");
    case ColLink:
        return QStringLiteral("Link");
    case ColKind:
        return QStringLiteral("Kind");
    case ColHex:
        return QStringLiteral("Hex");
    case ColText:
        return QStringLiteral("Text");
    }
    return {};
}

bool SessionLogModel::accepts(const session::Record& r) const {
    switch (r.kind) {
    case session::RecordKind::Tx:
        return m_Filter.bytes && m_Filter.direction != Direction::Received;
    case session::RecordKind::Rx:
        return m_Filter.bytes && m_Filter.direction != Direction::Sent;
    case session::RecordKind::Send:
        return m_Filter.transactions;
    default:
        return m_Filter.events;
    }
}

void SessionLogModel::append(std::vector<session::Record>& batch) {
    if (batch.empty())
        return;
    // A batch larger than the cap keeps only its newest records.
    const size_t skip = batch.size() > m_Cap ? batch.size() - m_Cap : 0;
    m_Dropped += skip;
    const size_t incoming = batch.size() - skip;
    const size_t overflow = m_All.size() + incoming > m_Cap ? m_All.size() + incoming - m_Cap : 0;
    dropOldest(overflow);
    std::vector<uint64_t> added;
    uint64_t position = m_Base + m_All.size();
    for (size_t i = skip; i < batch.size(); ++i, ++position) {
        if (accepts(batch[i]))
            added.push_back(position);
        m_All.push_back(std::move(batch[i]));
    }
    batch.clear();
    if (added.empty())
        return;
    const int first = static_cast<int>(m_Shown.size());
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(added.size()) - 1);
    m_Shown.insert(m_Shown.end(), added.begin(), added.end());
    endInsertRows();
}

void SessionLogModel::clear() {
    beginResetModel();
    m_Base += m_All.size();
    m_All.clear();
    m_Shown.clear();
    m_Dropped = 0;
    endResetModel();
}

void SessionLogModel::setFilter(const Filter& filter) {
    if (filter == m_Filter)
        return;
    beginResetModel();
    m_Filter = filter;
    m_Shown.clear();
    for (size_t i = 0; i < m_All.size(); ++i)
        if (accepts(m_All[i]))
            m_Shown.push_back(m_Base + i);
    endResetModel();
}

void SessionLogModel::setCap(size_t cap) {
    m_Cap = std::clamp<size_t>(cap, 1, std::numeric_limits<int>::max());
    if (m_All.size() > m_Cap)
        dropOldest(m_All.size() - m_Cap);
}

void SessionLogModel::dropOldest(size_t count) {
    if (count == 0)
        return;
    const auto end = std::lower_bound(m_Shown.begin(), m_Shown.end(), m_Base + count);
    const int gone = static_cast<int>(end - m_Shown.begin());
    if (gone > 0) {
        beginRemoveRows(QModelIndex(), 0, gone - 1);
        m_Shown.erase(m_Shown.begin(), end);
        endRemoveRows();
    }
    m_All.erase(m_All.begin(), m_All.begin() + static_cast<std::ptrdiff_t>(count));
    m_Base += count;
    m_Dropped += count;
}

int SessionLogModel::rowAtOrAfter(uint64_t position) const {
    const auto it = std::lower_bound(m_Shown.begin(), m_Shown.end(), position);
    return it == m_Shown.end() ? -1 : static_cast<int>(it - m_Shown.begin());
}

bool SessionLogModel::matches(const session::Record& r, const std::string& lowered, bool hexLike) const {
    if (containsLowered(r.link, lowered) || containsLowered(session::KindWord(r.kind), lowered) ||
        containsLowered(r.text, lowered) || containsLowered(r.note, lowered) ||
        containsLowered(session::PrintableText(r.bytes), lowered) ||
        containsLowered(session::PrintableText(r.answer), lowered))
        return true;
    if (!hexLike)
        return false;
    std::string digits;
    for (char c : lowered)
        if (c != ' ')
            digits.push_back(c);
    return bytesHoldHex(r.bytes, digits) || bytesHoldHex(r.answer, digits);
}

int SessionLogModel::find(const QString& text, int from, bool forward) const {
    const int rows = rowCount();
    if (rows == 0 || text.isEmpty())
        return -1;
    std::string lowered = text.toUtf8().toStdString();
    for (char& c : lowered)
        c = lowerAscii(c);
    int hexDigits = 0;
    bool hexLike = true;
    for (char c : lowered) {
        if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))
            ++hexDigits;
        else if (c != ' ')
            hexLike = false;
    }
    hexLike = hexLike && hexDigits >= 2 && hexDigits % 2 == 0;
    const int start = from < 0 || from >= rows ? (forward ? -1 : rows) : from;
    for (int step = 1; step <= rows; ++step) {
        const int row = ((forward ? start + step : start - step) % rows + rows) % rows;
        if (matches(recordAt(row), lowered, hexLike))
            return row;
    }
    return -1;
}

QString SessionLogModel::rowsAsText(const QList<int>& rows) const {
    QString out;
    for (int row : rows) {
        if (row < 0 || row >= rowCount())
            continue;
        const session::Record& r = recordAt(row);
        out += isoStamp(r.wallMs) + u'\t' + fromUtf8(r.link) + u'\t' +
               QString::fromLatin1(session::KindWord(r.kind)) + u'\t' +
               QString::fromLatin1(session::HexBytes(r.bytes)) + u'\t' +
               fromUtf8(session::DisplayText(r, std::numeric_limits<size_t>::max())) + u'\n';
    }
    return out;
}

QString SessionLogModel::save(const QString& path, bool csv) const {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    if (csv)
        file.write("time,since open (ms),link,kind,hex,text,answer hex\r\n");
    for (int row = 0; row < rowCount(); ++row) {
        const session::Record& r = recordAt(row);
        const QString stamp = isoStamp(r.wallMs);
        if (!csv) {
            const std::string line = session::FormatLine(r, stamp.toStdString());
            file.write(line.data(), static_cast<qint64>(line.size()));
            file.write("\n");
            continue;
        }
        const QStringList fields{
            stamp,
            r.sinceOpenMs >= 0 ? QString::number(r.sinceOpenMs) : QString(),
            fromUtf8(session::CsvField(r.link)),
            QString::fromLatin1(session::KindWord(r.kind)),
            QString::fromLatin1(session::HexBytes(r.bytes)),
            fromUtf8(session::CsvField(session::DisplayText(r, std::numeric_limits<size_t>::max()))),
            QString::fromLatin1(session::HexBytes(r.answer)),
        };
        file.write((fields.join(u',') + QStringLiteral("\r\n")).toUtf8());
    }
    if (!file.commit())
        return file.errorString();
    return {};
}
