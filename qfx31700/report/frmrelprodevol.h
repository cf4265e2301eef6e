// "Produtos não Evoluídos em Estoque": fills the query parameters of the
// report definitions from its own branch and period, or from the
// consolidation screen and its filter.
#pragma once

#include <QMdiSubWindow>

#include "forms.h"

namespace qfx {

class TfrmRelProdEvol : public hostkit::TfrmDadosGerRel {
  Q_OBJECT
 public:
  explicit TfrmRelProdEvol(QWidget* parent = nullptr);
};

}  // namespace qfx
