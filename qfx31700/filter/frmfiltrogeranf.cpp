#include "filter/frmfiltrogeranf.h"

#include <QLabel>

#include "host/catalogues.h"
#include "messages.h"

namespace qfx {

TfrmFiltroGeraNF::TfrmFiltroGeraNF(QWidget* parent) : TfrmFiltroPadrao(parent, QStringLiteral("frmFiltroGeraNF")) {
  setWindowTitle(QStringLiteral("Filtro Consolidação de Vendas"));
  HelpFile = QStringLiteral("PdvHELP.hlp");
  HelpContext = 13031701;
  lblCodTela->setText(QStringLiteral("Qfx31701"));
  msgPadrao->setEntries(catalogoFiltroGeraNF());
  createForm();
}

void TfrmFiltroGeraNF::FormClose(hostkit::CloseAction& action) { action = hostkit::CloseAction::Hide; }

}  // namespace qfx
