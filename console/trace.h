// The trace report: each command the console sends is offered, as one
// 5004-byte record, to a separate trace-viewer program if one is running.
// On Linux the viewer listens on a Unix datagram socket in the abstract
// namespace under kTraceViewerName; with nobody listening the report is
// skipped silently.
#pragma once

#include <QByteArray>

inline constexpr char kTraceViewerName[] = "TRACE  DATA  COMMAND"; // two spaces, no NUL on the wire
inline constexpr int kTraceRecordSize = 5004;
inline constexpr int kTraceTextMax = 5000;

// Record for an 8-bit text (cut at its first zero byte and at 5000 bytes):
// int32 little-endian length, the text, zeros up to 5004 bytes.
QByteArray BuildTraceRecord(const QByteArray& text);

// Sends one record to the viewer's socket without blocking; 1 when a viewer
// took it, 0 when none listens (or the record is not 5004 bytes). Tests pass
// a name of their own so they never meet a real viewer.
int SendTraceRecordToViewer(const QByteArray& record, const QByteArray& name = QByteArray(kTraceViewerName));

// Reports text to the viewer through the console's seam (consoleUi());
// returns the viewer's answer, 0 when none listens. UI thread.
int SendTrace(const QByteArray& text);
