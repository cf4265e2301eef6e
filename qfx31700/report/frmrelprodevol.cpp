#include "report/frmrelprodevol.h"

#include <QLabel>

#include "host/catalogues.h"
#include "messages.h"

namespace qfx {

TfrmRelProdEvol::TfrmRelProdEvol(QWidget* parent) : TfrmDadosGerRel(parent, QStringLiteral("frmRelProdEvol")) {
  setWindowTitle(QStringLiteral("Produtos não Evoluídos em Estoque"));
  lblCodTela->setText(QStringLiteral("QFX31702"));
  lblCodRel->setText(QStringLiteral("Qfx317"));
  msgPadrao->setEntries(catalogoRelProdEvol());
  createForm();
}

}  // namespace qfx
