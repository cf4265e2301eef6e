// "Consolidação de Vendas": the operator picks branch, store, withdrawal type
// and sector in the entry panel, reviews the filtered sale items in the grid
// and consolidates the pending ones on the application server.
#pragma once

#include <optional>

#include <QPixmap>

#include <QMdiSubWindow>

#include <hostkit/core/query.h>
#include <hostkit/widgets/frmpadraogrid.h>
#include <qfx31700/consolidation/consolidationport.h>
#include <qfx31700/navigation/consolidationscreen.h>
#include <qfx31700/remote/rdmgeranf.h>

class QFrame;
class QLabel;
class QLineEdit;
class QPainter;
class QStyleOptionViewItem;

namespace qfx {

struct CellText;

class TfrmGeraNF : public hostkit::TfrmPadraoGrid, public ConsolidationScreen, public ConsolidationPort {
  Q_OBJECT
 public:
  explicit TfrmGeraNF(QWidget* parent = nullptr);
  ~TfrmGeraNF() override;

  // ---- controls ----
  hostkit::TButtonFlat* sbtGeraNF;
  hostkit::TButtonFlat* sbtFiltro;
  QLabel* imgNFOk;
  QLabel* imgNFNaoOk;
  QFrame* panFiltro;
  QLabel* lblFilial;
  hostkit::TMaskEdit* medFilial;
  hostkit::TBtnPesquisa* btpPesqFilial;
  QLineEdit* edtFilial;
  QLabel* lblLoja;
  hostkit::TMaskEdit* medCdLoja;
  hostkit::TBtnPesquisa* btpLoja;
  QLineEdit* edtNmLoja;
  QLabel* lblTipoReti;
  hostkit::TMaskEdit* medTipoReti;
  hostkit::TBtnPesquisa* btnTipoReti;
  QLineEdit* edtTipoReti;
  QLabel* lblSetor;
  hostkit::TMaskEdit* medSetor;
  hostkit::TBtnPesquisa* btnSetor;
  QLineEdit* edtSetor;
  QLabel* lblCliente;  // customer of the current item, on the navigator bar
  // The period of Filtro, the one the list follows, on the toolbar; it says
  // so when the start date is after the end date.
  QLabel* lblPeriodoVigente;
  // Over the empty grid: the list is empty because its period is inverted.
  QLabel* lblAvisoLista;
  QAction* mnuGeraNota;
  QAction* mnuFiltrar;
  // While a posting's outcome is not known (its server gave no answer): the
  // operator's way to ask again, and what the navigator bar says meanwhile.
  QAction* mnuResultadoConsolidacao;
  QLabel* lblResultadoIncerto;
  QAction* mnuConsolidacoes;  // "Consolidações realizadas", where a run is reversed

  // ---- data ----
  hostkit::TNetConnection* netGeraNF;
  hostkit::TADOIBQuery* qryFilial;
  hostkit::TADOIBQuery* qryLoja;
  hostkit::TDataSet* cdsParamFilial;
  hostkit::TDataSet* cdsParamVend;
  hostkit::TDataSet* cdsPrincipal;
  hostkit::TDataSet* cdsTipoReti;
  hostkit::TDataSet* cdsSetor;
  hostkit::TDataSet* cdsVerifVenda;
  hostkit::TDataSet* cdsSoma;
  hostkit::TDataSet* cdsReducaoZ;
  hostkit::TDataSet* cdsIrregEst;
  hostkit::TDataSet* cdsBloqConsolida;
  hostkit::TDataSet* cdsErroConsolida = nullptr;  // created with the screen, fields from each reply
  hostkit::TDataSet* cdsProdBloq = nullptr;
  hostkit::TDataSource* dtsVenda;
  hostkit::TDataSource* dtsFilial;
  hostkit::TDataSource* dtsLoja;
  hostkit::TDataSource* dtsTipoReti;
  hostkit::TDataSource* dtsSetor;

  // ---- what the filter dialog and the report screen ask of it ----
  QString branch() const override;
  QString store() const override;
  QString withdrawalType() const override;
  bool consolidatesWithoutProducts() const override;
  hostkit::TMessages* messages() const override { return msgPadrao; }
  // The typed calls on the application server, through netGeraNF.
  RdmGeraNF& rdm() override { return rdm_; }
  void reloadSales() override;
  void salesChangedElsewhere() override;

  // ---- what a consolidation run asks of it ----
  ConsolidationEntry entry() const override;
  ConsolidationDataSets dataSets() override;
  hostkit::TMessages& catalogue() override { return *msgPadrao; }
  QWidget* owner() override { return this; }
  void focusList() override;
  void reloadList() override { sbtVerificarClick(); }
  void markListOutOfDate() override { SetGridOutOfDate(true); }
  bool serverAnswersWithin(int ms) override;
  const ExecucaoIncerta* execucaoEmDuvida() const override { return execucaoIncerta ? &*execucaoIncerta : nullptr; }

  // ---- entry checks (the mandatory flag: an empty field is an error) ----
  void Vd_CDFilial(bool obrigatorio);
  void Vd_Loja(bool obrigatorio);
  void Vd_TipoRetirada(bool obrigatorio);
  void Vd_Setor(bool obrigatorio);

  // ---- handlers, callable by the filter dialog, the report and tests ----
  void sbtVerificarClick() override;  // loads the sales list
  void sbtFiltroClick();
  void sbtGeraNFClick();
  void mnuGeraNotaClick();
  void mnuResultadoConsolidacaoClick();

  // The posting whose outcome is not known, while it is not: asked again
  // automatically once a server answers, or by the operator.
  std::optional<ExecucaoIncerta> execucaoIncerta;
  void lembraExecucaoIncerta(const ExecucaoIncerta& execucao) override;
  void esqueceExecucaoIncerta() override;
  void mnuFiltrarClick();
  void mnuConsolidacoesClick();
  void sbtImprimirClick() override;
  void sbtProcurarClick() override;
  void panFiltroEnter();
  void panFiltroExit();
  void dtsVendaStateChange();
  void LJ_Padrao();

  // Pre-consolidation checks (consolidationrun.h); a refusal ends the run
  // with a silent stop.
  void Verifica_Venda_Anterior(double inicio, double fim, double inicioConsolidacao);
  void Verifica_Valor();

  // Cell drawing of the sales grid; text that does not fit ends in "…".
  void dbgPadraoDrawColumnCell(QPainter& painter, const QStyleOptionViewItem& option, int row,
                               const QString& fieldName);
  // The tool tip of a grid cell `cellWidth` pixels wide: its whole text when
  // the cell cuts it short, what the status icon and the purple text mean.
  QString dbgPadraoCellHint(int row, const QString& fieldName, int cellWidth) const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void FormCreate() override;
  void FormActivate() override;
  void FormClose(hostkit::CloseAction& action) override;

 private:
  void buildToolbar();
  void buildEntryPanel();
  void buildGrid();
  void buildMenu();
  void buildData();
  void wireEntryEvents();
  void firstActivation();
  void cdsPrincipalCalcFields(hostkit::TDataSet& ds);
  // "Consolidar Vendas", button and menu, enabled on a loaded list with items.
  void updateConsolidateCommand();
  // The period in force on the toolbar, and over the grid when the list is
  // empty because that period is inverted.
  void mostraPeriodoEmVigor();
  CellText cellTextAt(const hostkit::TField& field, int row) const;
  bool isReturnedSale(int row) const;
  QString statusHint(int row) const;
  QString totalHint(int row) const;
  void openStores();
  // A server answers again: the posting in doubt is asked about once the
  // screen is free (no call, dialog or handler of its own under way).
  void servidorRespondeu();
  void failOn(QWidget* field, const QString& key);

  RdmGeraNF rdm_;
  hostkit::ServerWatch* vigiaServidor_ = nullptr;  // while a posting is in doubt
  // the fields the calculated field reads, found on its first row: it runs
  // for every row of every list
  struct CalcFields {
    hostkit::TField* stockBranch;
    hostkit::TField* stockPosting;
    hostkit::TField* consolidated;
  };
  std::optional<CalcFields> calcFields_;
  hostkit::FocusTracker* focus_ = nullptr;
  bool focusReturnedToPanel_ = false;     // a failed panel-exit check put the focus back in the panel
  bool listaDePeriodoInvertido_ = false;  // the list was last loaded with an inverted period
};

// The text and alignment a sales-grid cell shows.
struct CellText {
  QString text;
  bool alignRight = false;
};
// Quantities with three decimals, prices and totals with two, the product
// tree code through its mask; anything else (or an empty value) as its edit text.
CellText gridCellText(const hostkit::TField& field, int row, const QString& productTreeMask);

}  // namespace qfx
