#include "settings.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>
#include <climits>

#include "port_map.h"

QString g_SettingsPath;

namespace {

constexpr int kValueBufferChars = 256; // one left for the terminating zero

bool isSectionLine(const QString& trimmed, QString* name) {
    if (!trimmed.startsWith(u'['))
        return false;
    const qsizetype close = trimmed.indexOf(u']');
    if (close < 0)
        return false;
    if (name)
        *name = trimmed.mid(1, close - 1).trimmed();
    return true;
}

// The key of a "key=value" line, or an empty string.
QString lineKey(const QString& line) {
    const qsizetype eq = line.indexOf(u'=');
    return eq <= 0 ? QString() : line.left(eq).trimmed();
}

QStringList readLines() {
    QFile file(g_SettingsPath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QString& line : lines)
        if (line.endsWith(u'\r'))
            line.chop(1);
    return lines;
}

} // namespace

int ReadSetting(const QString& key, QString& value) {
    value.clear();
    const QString section = QString::fromLatin1(kSettingsSection);
    bool inSection = false;
    for (const QString& line : readLines()) {
        const QString trimmed = line.trimmed();
        QString name;
        if (isSectionLine(trimmed, &name)) {
            inSection = name.compare(section, Qt::CaseInsensitive) == 0;
            continue;
        }
        if (!inSection || lineKey(trimmed).compare(key, Qt::CaseInsensitive) != 0)
            continue;
        QString v = trimmed.mid(trimmed.indexOf(u'=') + 1).trimmed();
        // The profile functions drop one pair of enclosing quotes.
        if (v.size() >= 2 && (v.front() == u'"' || v.front() == u'\'') && v.back() == v.front())
            v = v.mid(1, v.size() - 2);
        value = v.left(kValueBufferChars - 1);
        return static_cast<int>(value.size());
    }
    return 0;
}

void WriteSetting(const QString& key, int value) {
    if (g_SettingsPath.isEmpty())
        return;
    const QString section = QString::fromLatin1(kSettingsSection);
    const QString newLine = key + u'=' + QString::number(value);
    QStringList lines = readLines();

    qsizetype sectionAt = -1, lastInSection = -1, keyAt = -1;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString trimmed = lines[i].trimmed();
        QString name;
        if (isSectionLine(trimmed, &name)) {
            if (sectionAt >= 0)
                break; // past our section
            if (name.compare(section, Qt::CaseInsensitive) == 0)
                sectionAt = lastInSection = i;
            continue;
        }
        if (sectionAt < 0)
            continue;
        if (!trimmed.isEmpty())
            lastInSection = i;
        if (lineKey(trimmed).compare(key, Qt::CaseInsensitive) == 0) {
            keyAt = i;
            break;
        }
    }
    if (keyAt >= 0)
        lines[keyAt] = newLine;
    else if (sectionAt >= 0)
        lines.insert(lastInSection + 1, newLine);
    else
        lines << u'[' + section + u']' << newLine;

    QSaveFile file(g_SettingsPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return;
    file.write((lines.join(u'\n') + u'\n').toUtf8());
    file.commit(); // a failed write leaves the old file as it was
}

long SettingToLong(const QString& text) {
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
        negative = text[i++] == u'-';
    long long magnitude = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        magnitude = magnitude * 10 + (text[i].unicode() - u'0');
        if (magnitude > static_cast<long long>(INT32_MAX) + 1)
            magnitude = static_cast<long long>(INT32_MAX) + 1; // saturate, keep scanning
    }
    if (negative)
        return static_cast<long>(-magnitude); // saturated at 2^31, so at least INT32_MIN
    return static_cast<long>(magnitude > INT32_MAX ? INT32_MAX : magnitude);
}

std::array<uint8_t, 4> ReadStoredAddress() {
    std::array<uint8_t, 4> parts{};
    for (int i = 0; i < 4; ++i) {
        QString value;
        ReadSetting(QStringLiteral("IPAddressField%1").arg(i), value); // missing converts to 0
        parts[i] = static_cast<uint8_t>(SettingToLong(value) & 0xFF);
    }
    if (parts == std::array<uint8_t, 4>{})
        return kDefaultModuleAddress;
    return parts;
}

void WriteStoredAddress(const std::array<uint8_t, 4>& parts) {
    for (int i = 0; i < 4; ++i)
        WriteSetting(QStringLiteral("IPAddressField%1").arg(i), parts[i]);
}

QString PortMapPath() {
    if (g_SettingsPath.isEmpty())
        return {};
    return QFileInfo(g_SettingsPath).absolutePath() + u'/' + QString::fromLatin1(session::kPortMapFileName);
}
