// What the console remembers between runs beyond its settings file (whose
// keys are fixed): the main window's position and the module list's range,
// in $XDG_STATE_HOME/Norvane_Lumo/console.ini. UI thread only.
#pragma once

#include <QPoint>
#include <QString>

#include <optional>

std::optional<QPoint> ReadWindowPosition();
void WriteWindowPosition(const QPoint& topLeft);
QString ReadScanRange();
void WriteScanRange(const QString& range);
