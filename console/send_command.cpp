#include "d_cmdora.h"

// stub until sending lands
void D_CMDORA::OnBnClickedSend() {}
