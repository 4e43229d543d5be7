#include "d_cmdora.h"

// stub until the preview lands
void D_CMDORA::OnEnChangeCommand() {}
