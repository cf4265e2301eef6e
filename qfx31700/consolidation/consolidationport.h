// What one consolidation run needs of the screen that starts it, and nothing
// more: the run never sees the form, its widgets or its other datasets, so it
// can be driven without a screen and the form can change its layout freely.
#pragma once

#include <QString>

#include "remote/rdmgeranf.h"

class QWidget;

namespace hostkit {
class TDataSet;
class TMessages;
}  // namespace hostkit

namespace qfx {

// The host's busy animation the screen shows while the server works.
inline constexpr int kBusyAnimation = 6;

// The codes of the entry panel, as typed.
struct ConsolidationEntry {
  QString filial, loja, tipoReti, setor;
};

// The datasets a run reads (the parameters and the store row) and those it
// fills for the host's screens. None is owned by the run.
struct ConsolidationDataSets {
  hostkit::TDataSet* paramFilial = nullptr;
  hostkit::TDataSet* paramVend = nullptr;
  hostkit::TDataSet* loja = nullptr;
  hostkit::TDataSet* verifVenda = nullptr;
  hostkit::TDataSet* soma = nullptr;
  hostkit::TDataSet* reducaoZ = nullptr;
  hostkit::TDataSet* erroConsolida = nullptr;
  hostkit::TDataSet* prodBloq = nullptr;
  hostkit::TDataSet* bloqConsolida = nullptr;
  hostkit::TDataSet* irregEst = nullptr;
};

class ConsolidationPort {
 public:
  virtual ~ConsolidationPort() = default;

  virtual ConsolidationEntry entry() const = 0;
  virtual ConsolidationDataSets dataSets() = 0;
  // The calls on the application server.
  virtual RdmGeraNF& rdm() = 0;
  // The catalogue the run's messages and questions come from.
  virtual hostkit::TMessages& catalogue() = 0;
  // The window the busy animation and the host's screens belong to.
  virtual QWidget* owner() = 0;
  // The earlier sales are pending: the operator is taken to the list.
  virtual void focusList() = 0;
  // The list is read again once the server has been asked to consolidate.
  virtual void reloadList() = 0;
};

}  // namespace qfx
