#include "d_cmdora.h"

// stubs until the dialog lands
D_CMDORA::D_CMDORA(QWidget* parent) : QDialog(parent) {}
D_CMDORA::~D_CMDORA() = default;
QWidget* D_CMDORA::control(int) const { return nullptr; }
void D_CMDORA::OnInitDialog() {}
void D_CMDORA::OnRadioCom() {}
void D_CMDORA::OnRadioIp() {}
void D_CMDORA::OnBnClickedConnect() {}
void D_CMDORA::OnOK() {}
void D_CMDORA::OnCancel() {}
void D_CMDORA::OnBnClickedXAscii() {}
void D_CMDORA::OnIpnFieldChangedIp() {}
void D_CMDORA::OnCbnSelchangeCom() {}
void D_CMDORA::OnCbnSelchangeBaud() {}
void D_CMDORA::UpdateData() {}
void D_CMDORA::accept() {}
void D_CMDORA::reject() {}
