#include "d_cmdora.h"

#include <QTimerEvent>

// stubs until the test timer and trace land
void D_CMDORA::OnBnClickedUdpClearSocket() {}
void D_CMDORA::OnTimer(int) {}
void D_CMDORA::StopTestTimer() {}
void D_CMDORA::timerEvent(QTimerEvent*) {}
