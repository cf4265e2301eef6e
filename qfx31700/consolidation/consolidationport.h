// What one consolidation run needs of the screen that starts it, and nothing
// more: the run never sees the form, its widgets or its other datasets, so it
// can be driven without a screen and the form can change its layout freely.
#pragma once

#include <QString>

#include <qfx31700/remote/filtro.h>
#include <qfx31700/remote/rdmgeranf.h>

class QWidget;

namespace hostkit {
class TDataSet;
class TMessages;
}  // namespace hostkit

namespace qfx {

// kBusyAnimation, the host's busy animation while the server works, is in
// remote/rdmgeranf.h: every screen that calls the server shows it.

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

// A posting call that reached a server which gave no answer: whether the
// consolidation was made is not known. Kept by the port with what the call
// sent, to ask again under the same run identifier, where the server answers
// the run it has done (or does it now, once).
struct ExecucaoIncerta {
  QString id;
  bool verificaEstoque = true;
  QString filiProc, filial, loja, tipoReti, setor, operador;
  TFiltro filtro;
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
  // No server answered and the list could not be read again: it is marked
  // as possibly out of date instead.
  virtual void markListOutOfDate() = 0;
  // Whether a server answers a health check within `ms`.
  virtual bool serverAnswersWithin(int ms) = 0;

  // The posting whose outcome is not known, or null; remembered until a
  // server settles it.
  virtual const ExecucaoIncerta* execucaoEmDuvida() const = 0;
  virtual void lembraExecucaoIncerta(const ExecucaoIncerta& execucao) = 0;
  virtual void esqueceExecucaoIncerta() = 0;
};

}  // namespace qfx
