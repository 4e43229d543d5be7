// The session log's records as a table for the log window: time, link,
// direction or kind, hex, text. Holds at most a cap of records (the oldest
// drop first) and shows those that pass its filter. UI thread only.
#pragma once

#include <QAbstractTableModel>
#include <QString>

#include <cstdint>
#include <deque>
#include <vector>

#include "log/session_record.h"

class SessionLogModel : public QAbstractTableModel {
public:
    enum Column { ColTime, ColLink, ColKind, ColHex, ColText, ColumnCount };
    enum class Direction { Both, Sent, Received };
    // Which records are shown: bytes (of the direction), link and other
    // events (link, progress, box, test), Send transactions.
    struct Filter {
        bool bytes = true;
        bool events = true;
        bool transactions = true;
        Direction direction = Direction::Both;
        bool operator==(const Filter&) const = default;
    };

    static constexpr size_t kDefaultCap = 100000;
    // Bytes turned into text per cell; copies, saves and tooltips carry more.
    static constexpr size_t kCellBytes = 64;

    explicit SessionLogModel(size_t cap = kDefaultCap, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Adds the records (taken from the recorder, oldest first), dropping the
    // oldest held ones beyond the cap. The batch is left empty.
    void append(std::vector<session::Record>& batch);
    // Forgets every record held.
    void clear();
    void setFilter(const Filter& filter);
    const Filter& filter() const { return m_Filter; }
    // Fewer held records drop the oldest at once.
    void setCap(size_t cap);
    size_t cap() const { return m_Cap; }

    size_t held() const { return m_All.size(); }
    // Records lost to the cap (here or while they waited in the recorder) since the last clear.
    uint64_t dropped() const { return m_Dropped; }
    void addDropped(uint64_t n) { m_Dropped += n; }

    const session::Record& recordAt(int row) const {
        return m_All[static_cast<size_t>(m_Shown[row] - m_Base)];
    }
    // A shown row's place among all records ever added, and back (the first
    // shown row at or after it; -1 when none): keeps a record in view across
    // a change of filter.
    uint64_t positionOf(int row) const { return m_Shown[row]; }
    int rowAtOrAfter(uint64_t position) const;

    // The next shown row after `from` (before it when !forward), coming round,
    // whose link, kind, text or hex holds text, ignoring ASCII case; -1 when none.
    int find(const QString& text, int from, bool forward) const;

    // Rows as tab-separated lines: time stamp, link, kind, whole hex, whole text.
    QString rowsAsText(const QList<int>& rows) const;
    // Writes the shown rows to path: the log file's lines, or CSV with a
    // header line. Returns an empty string, or why it failed.
    QString save(const QString& path, bool csv) const;

    // "2026-12-07T14:31:22.123", local time.
    static QString isoStamp(int64_t wallMs);

private:
    bool accepts(const session::Record& r) const;
    void dropOldest(size_t count);
    bool matches(const session::Record& r, const std::string& lowered, bool hexLike) const;

    size_t m_Cap;
    std::deque<session::Record> m_All; // oldest first
    uint64_t m_Base = 0;               // position of m_All.front() among all records ever added
    std::deque<uint64_t> m_Shown;      // positions of the shown records, ascending
    Filter m_Filter;
    uint64_t m_Dropped = 0;
};
