#include "d_cmdora.h"

// stub until the automatic command test lands
void D_CMDORA::OnAutoTest() {}
