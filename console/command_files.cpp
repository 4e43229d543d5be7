#include "d_cmdora.h"

// stubs until command files land
void D_CMDORA::OnBnClickedSaveBin() {}
void D_CMDORA::OnBnClickedLoadBin() {}
void D_CMDORA::OnBnClickedSaveTxt(int) {}
