// "Filtro Consolidação de Vendas": the modal dialog in which the operator
// edits the filter of the consolidation screen.
//
// Every control writes the working copy FiltroTmp; a confirmation that
// passes all its checks copies it over Filtro and reloads the consolidation
// screen's list. The two date checks are the exception: a valid date goes
// into Filtro at once. The dialog is hidden on close and reused, so
// FiltroTmp and the controls keep their state between openings.
//
// The class is long, so its definition is in three files:
// frmfiltrogeranf.cpp (controls, datasets, wiring), filtrochecks.cpp
// (activation, checks, confirmation, saved options) and pickers.cpp (the list
// pickers and name searches).
#pragma once

#include <QHash>
#include <QString>

#include <hostkit/core/query.h>
#include <hostkit/widgets/frmfiltropadrao.h>
#include <qfx31700/remote/filtro.h>

class QCheckBox;
class QGroupBox;
class QLabel;
class QRadioButton;

namespace qfx {

class ConsolidationScreen;

class TfrmFiltroGeraNF : public hostkit::TfrmFiltroPadrao {
  Q_OBJECT
 public:
  explicit TfrmFiltroGeraNF(QWidget* parent = nullptr);

  // The working copy: every control writes here; a confirmation copies it
  // over Filtro.
  TFiltro FiltroTmp;

  // ---- controls, in tab order ----
  QGroupBox* grbDtMov;
  QLabel* lblPeriodo;
  hostkit::TDateEditPlus* depInicial;
  QLabel* Label4;
  hostkit::TDateEditPlus* depFinal;
  QGroupBox* grbCaixa;
  QRadioButton* rbtTCaixa;
  QRadioButton* rbtCaixa;
  hostkit::TBtnPesquisa* btpCaixa;
  QGroupBox* grbCliente;
  QRadioButton* rbtTodosCliente;
  QRadioButton* rbtListaCliente;
  hostkit::TBtnPesquisa* btpCliente;
  QRadioButton* rbtIntervaloCli;
  QLabel* lblde;
  hostkit::TMaskEdit* medCliDe;
  hostkit::TBtnPesquisa* btnPesqCliDe;
  QLabel* Label1;
  hostkit::TMaskEdit* medCliAte;
  hostkit::TBtnPesquisa* btnPesqCliAte;
  QGroupBox* grbTipoCome;
  QRadioButton* rdtTodosTipoCons;
  QRadioButton* rdtListaTipoCons;
  hostkit::TBtnPesquisa* btpTipoCons;
  QGroupBox* grbCentroCusto;
  QRadioButton* rbtTodosCentroCusto;
  QRadioButton* rbtListaCentroCusto;
  hostkit::TBtnPesquisa* btnCentroCusto;
  QGroupBox* grbVenda;
  QRadioButton* rbtTodos;
  QRadioButton* rbtLista;
  hostkit::TBtnPesquisa* btpVenda;
  QGroupBox* grbNF;
  QCheckBox* chkAgrupaNF;
  QCheckBox* chkVendaNF;
  QGroupBox* grbProdutos;
  QRadioButton* rbtTodosProdutos;
  QRadioButton* rbtListaProdutos;
  hostkit::TBtnPesquisa* btnProdutos;

  // ---- data ----
  hostkit::TADOIBQuery* qryValCli;
  hostkit::TADOIBQuery* qryCaixa;
  hostkit::TADOIBQuery* qryTipoCons;
  hostkit::TADOIBQuery* qryCliente;
  hostkit::TADOIBQuery* qryPesqCli;
  hostkit::TADOIBQuery* qryCentroCusto;
  // The company names of the customers that have cost centres, which the
  // cost-centre list shows beside each document number.
  hostkit::TADOIBQuery* qryNomeCliente;
  hostkit::TDataSet* cdsVendas;
  hostkit::TDataSet* cdsProdutos;
  hostkit::TDataSource* dtsCaixa;
  hostkit::TDataSource* dtsVendas;
  hostkit::TDataSource* dtsTipoCons;
  hostkit::TDataSource* dtsCliente;
  hostkit::TDataSource* dtsCentroCusto;
  hostkit::TDataSource* dtsProdutos;
  hostkit::TDataSource* dtsPesqCli;

  // ---- checks; the flag makes an empty field an error ----
  void Vd_DataIni(bool informar);
  void Vd_DataFim(bool informar);
  void Vd_Cliente(bool informar);
  void vd_ClienteAte(bool informar);

  // ---- handlers, callable by tests ----
  void depInicialExit();
  void depFinalExit();
  void medCliDeExit();
  void medCliAteExit();
  void rbtTodosClick();
  void rbtListaClick();
  void rbtTCaixaClick();
  void rbtCaixaClick();
  void rdtTodosTipoConsClick();
  void rdtListaTipoConsClick();
  void rbtTodosCentroCustoClick();
  void rbtListaCentroCustoClick();
  void rbtTodosProdutosClick();
  void rbtListaProdutosClick();
  void rbtTodosClienteClick();
  void rbtListaClienteClick();
  void rbtIntervaloCliClick();
  void chkVendaNFClick();
  void chkAgrupaNFClick();
  void sbtConfirmaClick() override;
  void sbtCancelClick() override;
  void btfSaveOpcClick() override;
  void btfLoadOpcClick() override;

  // ---- list pickers and the interval name search ----
  void btpCaixaClick();
  void btpVendaClick();
  void btpTipoConsClick();
  void btpClienteClick();
  void btnCentroCustoClick();
  void btnProdutosClick();
  void btnPesqCliDeBeforePesq(hostkit::TBtnPesquisa* sender, bool& proceed);
  void btnPesqCliAteBeforePesq(hostkit::TBtnPesquisa* sender, bool& proceed);
  void btnPesqCliDeAfterPesq(hostkit::TBtnPesquisa* sender, hostkit::TDataSet* dataset);
  void btnPesqCliAteAfterPesq(hostkit::TBtnPesquisa* sender, hostkit::TDataSet* dataset);

  // Shown text of a document number: the stored digits under the mask of
  // the row's person type.
  QString qryClienteNRINSJURCLIEGetText(int row) const;
  QString qryPesqCliNRINSJURCLIEGetText(int row) const;
  QString qryCentroCustoNRINSJURCLIEGetText(int row) const;
  // Shown text of a cost centre's customer: the company name of the code its key begins with.
  QString qryCentroCustoNMRAZSOCCLIEGetText(int row) const;

  // Option names of the six list texts, in the order they are saved.
  static const QStringList& nomesOpcoes();

 protected:
  void FormActivate() override;
  void FormClose(hostkit::CloseAction& action) override;

 private:
  // A choice between all and a list, and what depends on it.
  struct EscolhaDupla {
    QRadioButton* todos;
    QRadioButton* lista;
    QWidget* botao;
    bool TFiltro::*flag;
    QString TFiltro::*listaEsvaziada;  // emptied when "all" is selected; null: kept
  };
  EscolhaDupla escolhaVendas() const;
  EscolhaDupla escolhaCaixa() const;
  EscolhaDupla escolhaTipoCons() const;
  EscolhaDupla escolhaCentroCusto() const;
  EscolhaDupla escolhaProdutos() const;
  void aplicaEscolha(const EscolhaDupla& escolha, bool todosSelecionado);
  void clienteTodosOuLista();

  void buildControls();
  void buildDateGroup(QWidget* parent);
  void buildCaixaGroup(QWidget* parent);
  void buildClienteGroup(QWidget* parent);
  void buildTipoConsGroup(QWidget* parent);
  void buildCentroCustoGroup(QWidget* parent);
  void buildVendaGroup(QWidget* parent);
  void buildNFGroup(QWidget* parent);
  void buildProdutosGroup(QWidget* parent);
  void setTabOrder();
  void buildData();
  void buildQueries();
  void wireHandlers();
  void onSelected(QRadioButton* button, void (TfrmFiltroGeraNF::*handler)());

  // Checks.
  void verificaData(hostkit::TDateEditPlus* campo, double TFiltro::*destino, const char* chaveVazia, bool informar);
  void verificaCliente(hostkit::TMaskEdit* campo, bool informar);
  void recusaAntes(QWidget* campo, const char* chave);
  void concluiCampoEmEdicao();
  void confereListas();
  void gravaEscolhas();
  void ativaProdutos();

  // Pickers.
  QString titulo(const char* chaveTitulo, const char* chaveVazio = nullptr) const;
  void parametrosCentroCusto();
  void pesquisaNome(hostkit::TMaskEdit* campo, hostkit::TDataSet* dataset);
  QString documentoFormatado(const hostkit::TDataSet& dataset, int row) const;
  void carregaNomesClientes();
  QHash<QString, QString> nomesClientes_;  // CDCLIENTE -> NMRAZSOCCLIE

  // The exit checks stay quiet while a handler of the dialog moves the focus
  // itself: only the first failure of a confirmation or a picker is reported.
  hostkit::FocusTracker* foco_ = nullptr;
  bool focoPorCodigo_ = false;
  class FocoPorCodigo {
   public:
    explicit FocoPorCodigo(bool& flag) : flag_(flag), before_(flag) { flag_ = true; }
    ~FocoPorCodigo() { flag_ = before_; }
    FocoPorCodigo(const FocoPorCodigo&) = delete;
    FocoPorCodigo& operator=(const FocoPorCodigo&) = delete;

   private:
    bool& flag_;
    bool before_;
  };
};

// The consolidation screen the dialog works for; an error when it is gone.
ConsolidationScreen& telaConsolidacao();

}  // namespace qfx
