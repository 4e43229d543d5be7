#include "console_state.h"

#include <QSettings>

#include "command_history.h"

namespace {

QSettings stateFile() {
    return QSettings(QString::fromStdString(session::StateDirectory()) + QStringLiteral("/console.ini"),
                     QSettings::IniFormat);
}

} // namespace

std::optional<QPoint> ReadWindowPosition() {
    const QVariant v = stateFile().value(QStringLiteral("window/position"));
    if (!v.isValid() || !v.canConvert<QPoint>())
        return std::nullopt;
    return v.toPoint();
}

void WriteWindowPosition(const QPoint& topLeft) {
    stateFile().setValue(QStringLiteral("window/position"), topLeft);
}

QString ReadScanRange() {
    return stateFile().value(QStringLiteral("modules/range")).toString();
}

void WriteScanRange(const QString& range) {
    stateFile().setValue(QStringLiteral("modules/range"), range);
}
