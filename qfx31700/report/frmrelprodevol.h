// "Produtos não Evoluídos em Estoque": fills the query parameters of the
// report definitions from its own branch and period, or from the
// consolidation screen and its filter.
//
// The first report of the list takes the screen's branches and period; every
// other report takes the consolidation screen's entry fields and Filtro.
#pragma once

#include <optional>
#include <utility>

#include <hostkit/core/abort.h>
#include <hostkit/core/hostservices.h>
#include <hostkit/core/query.h>
#include <hostkit/widgets/components.h>
#include <hostkit/widgets/screenparts.h>
#include <reportkit/widgets/frmdadosgerrel.h>

class QGroupBox;
class QLabel;
class QRadioButton;

namespace qfx {

class TfrmRelProdEvol : public reportkit::TfrmDadosGerRel {
  Q_OBJECT
 public:
  explicit TfrmRelProdEvol(QWidget* parent = nullptr);

  // ---- controls ----
  QGroupBox* grbFilial;
  QRadioButton* rbtTodos;
  QRadioButton* rbtLista;
  hostkit::TBtnPesquisa* btpFilial;
  QGroupBox* grbPeriodo;
  QLabel* lblDeVenda;
  QLabel* lblAteVenda;
  hostkit::TDateEditPlus* depDePeriodo;
  hostkit::TDateEditPlus* depAtePeriodo;

  // ---- data ----
  hostkit::TADOIBQuery* qryPesqFilial;
  hostkit::TDataSource* dtsFilial;
  // The chosen branches as the list picker writes them, or "_" + branch + "_"
  // for an operator bound to a branch.
  QString stFiliais;

  // ---- operations ----
  void Habilita_Desabilita();
  void Vd_DataIni(bool informa);
  void Vd_DataFim(bool informa);
  void Vd_Data();

 protected:
  void FormCreate() override;
  void FormActivate() override;
  void sbtPreviewClick() override;
  void sbtPrintClick() override;
  void sbtSalvarComoClick() override;
  void sbtReportEditClick() override;
  void cbbReportNamesChange() override;
  void rpddPadraoBeforeGetQueryParams(reportkit::ReportParams& params, bool& proceed) override;

 private:
  void buildControls();
  void wireHandlers();
  void rbtTodosClick();
  void rbtListaClick();
  void btpFilialClick();
  void depDePeriodoExit();
  void depAtePeriodoExit();
  // Checks before an action; the period only when `comPeriodo`.
  void VerificaAcao(bool comPeriodo);
  void Vd_DataEdit(hostkit::TDateEditPlus* edit, bool informa, const QString& emptyKey);
  // Keeps a branch-bound operator on his branch (see FormActivate).
  void TravaFilial();
  void mostraPeriodo(bool doFiltro);
  void ParametrosPrimeiro(reportkit::ReportParams& params);
  void ParametrosConsolidacao(reportkit::ReportParams& params);
  void setText(reportkit::ReportParams& params, const char* name, const QString& value);

  // While the action checks run: a failed check moves the focus onto its
  // control, and the exit check of the control left must not report again.
  bool boVerificando = false;
  // the period typed for the first report, while another one shows the run's
  std::optional<std::pair<QString, QString>> periodoDigitado_;
};

}  // namespace qfx
