// "Filtro Consolidação de Vendas": the modal dialog in which the operator
// edits the filter of the consolidation screen.
#pragma once

#include "filter/filtro.h"
#include <QMdiSubWindow>

#include "forms.h"

namespace qfx {

class TfrmFiltroGeraNF : public hostkit::TfrmFiltroPadrao {
  Q_OBJECT
 public:
  explicit TfrmFiltroGeraNF(QWidget* parent = nullptr);

  // The working copy: every control writes here; a confirmation copies it
  // over Filtro.
  TFiltro FiltroTmp;

 protected:
  void FormClose(hostkit::CloseAction& action) override;
};

}  // namespace qfx
