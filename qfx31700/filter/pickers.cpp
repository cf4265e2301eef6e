// The filter dialog's list pickers: each gathers its candidate rows from a
// lookup query or from the application server and hands them to the host's
// multi-selection list, which rewrites one list text of FiltroTmp. Also the
// company-name searches of the customer interval and the document-number
// display of the customer lookups.
#include <QRadioButton>

#include "filter/frmfiltrogeranf.h"
#include "navigation/consolidationscreen.h"
#include <hostkit/core/abort.h>
#include <hostkit/core/messages.h>
#include <hostkit/core/routines.h>

namespace qfx {

using namespace hostkit;

namespace {

void setTexts(TADOIBQuery& q, const QStringList& generic, const QStringList& oracle, const QStringList& sqlServer,
              const QStringList& interBase) {
  q.setText(DatabaseKind::Generic, generic);
  q.setText(DatabaseKind::Oracle, oracle);
  q.setText(DatabaseKind::SQLServer, sqlServer);
  q.setText(DatabaseKind::InterBase, interBase);
}

// A copy of the lines with some of them replaced (index, text) and some appended.
QStringList variant(QStringList lines, std::initializer_list<std::pair<int, const char*>> replaced,
                    std::initializer_list<const char*> appended = {}) {
  for (const auto& [index, text] : replaced) lines[index] = QString::fromLatin1(text);
  for (const char* text : appended) lines << QString::fromLatin1(text);
  return lines;
}

QStringList lines(std::initializer_list<const char*> texts) {
  QStringList out;
  for (const char* t : texts) out << QString::fromLatin1(t);
  return out;
}

}  // namespace

// ---- queries -----------------------------------------------------------------------

void TfrmFiltroGeraNF::buildQueries() {
  qryValCli = new TADOIBQuery(this, QStringLiteral("qryValCli"));
  qryValCli->SetSQL(lines({"SELECT", "  CDCLIENTE, NRINSJURCLIE, ", "  IDTPIJURCLIE, NMRAZSOCCLIE", "FROM", "  CLIENTE",
                           "WHERE", "  UPPER(NMRAZSOCCLIE) = UPPER(:P_CLIENTE)", "ORDER BY", "  NMRAZSOCCLIE"}));

  qryCaixa = new TADOIBQuery(this, QStringLiteral("qryCaixa"));
  const QStringList caixa =
      lines({"SELECT", "   CDCAIXA, NMCAIXA,", "   CDFILIAL||CDCAIXA AS CODIGO", "FROM", "   CAIXA", "WHERE",
             "   (CDFILIAL = :P_CDFILIAL) AND", "   (CDLOJA   = :P_CDLOJA)", "ORDER BY", "   CDCAIXA"});
  setTexts(*qryCaixa, caixa, caixa, variant(caixa, {{2, "   CDFILIAL+CDCAIXA AS CODIGO"}}, {" "}),
           variant(caixa, {}, {" "}));

  qryTipoCons = new TADOIBQuery(this, QStringLiteral("qryTipoCons"));
  qryTipoCons->SetSQL(lines({"SELECT", "   CDTIPOCONS, NMTIPOCONS", "FROM", "   TIPOCONS", "ORDER BY CDTIPOCONS"}));

  qryCliente = new TADOIBQuery(this, QStringLiteral("qryCliente"));
  qryCliente->SetSQL(lines({"SELECT", "  CDCLIENTE, NRINSJURCLIE, ", "  IDTPIJURCLIE, NMRAZSOCCLIE", "FROM",
                            "  CLIENTE", "ORDER BY", "  CDCLIENTE"}));

  qryPesqCli = new TADOIBQuery(this, QStringLiteral("qryPesqCli"));
  qryPesqCli->SetSQL(lines({"SELECT", "  CDCLIENTE, NRINSJURCLIE, ", "  IDTPIJURCLIE, NMRAZSOCCLIE", "FROM",
                            "  CLIENTE", "ORDER BY", "  NMRAZSOCCLIE", " "}));

  qryNomeCliente = new TADOIBQuery(this, QStringLiteral("qryNomeCliente"));
  qryNomeCliente->SetSQL(lines({"SELECT DISTINCT", "  CL.CDCLIENTE, CL.NMRAZSOCCLIE", "FROM",
                                "  CLIENTE CL, CCUSCLIE CC", "WHERE", "  CC.CDCLIENTE = CL.CDCLIENTE"}));

  qryCentroCusto = new TADOIBQuery(this, QStringLiteral("qryCentroCusto"));
  const QStringList centroCusto =
      lines({"SELECT",
             "  CC.CDCLIENTE||CC.CDCCUSCLIE AS CHAVE, CC.CDCCUSCLIE, CC.NMCCUSCLIE, CL.NRINSJURCLIE, CL.IDTPIJURCLIE",
             "FROM", "  CCUSCLIE CC, CLIENTE CL", "WHERE",
             "  ((INSTR(:P_CDCLIENTE, CL.CDCLIENTE) > 0) OR (:P_TCDCLIENTE = 'T') OR (UPPER(NMRAZSOCCLIE) BETWEEN "
             "UPPER(:P_CLIENTEINI) AND UPPER(:P_CLIENTEFIN))) AND",
             "  (CC.CDCLIENTE = CL.CDCLIENTE)", "ORDER BY", "  CL.NRINSJURCLIE, CC.CDCCUSCLIE"});
  setTexts(
      *qryCentroCusto, centroCusto, centroCusto,
      variant(centroCusto, {{1,
                             "  CC.CDCLIENTE+CC.CDCCUSCLIE AS CHAVE, CC.CDCCUSCLIE, CC.NMCCUSCLIE, CL.NRINSJURCLIE, "
                             "CL.IDTPIJURCLIE"},
                            {5,
                             "  ((CHARINDEX(CL.CDCLIENTE, :P_CDCLIENTE) > 0) OR (:P_TCDCLIENTE = 'T') OR "
                             "(UPPER(NMRAZSOCCLIE) BETWEEN UPPER(:P_CLIENTEINI) AND UPPER(:P_CLIENTEFIN))) AND"}}),
      variant(centroCusto, {{3, "  CCUSCLIE CC, CLIENTE CL, PARAM (:P_CDCLIENTE) P_CDCLIENTE"},
                            {5,
                             "  ((INSTR(P_CDCLIENTE.PARAM, CL.CDCLIENTE) > 0) OR (:P_TCDCLIENTE = 'T') OR "
                             "(UPPER(NMRAZSOCCLIE) BETWEEN UPPER(:P_CLIENTEINI) AND UPPER(:P_CLIENTEFIN))) AND"}}));
}

// ---- pickers -----------------------------------------------------------------------

// The picker's caption, then after "|" the text shown for an empty list.
QString TfrmFiltroGeraNF::titulo(const char* chaveTitulo, const char* chaveVazio) const {
  QString t = msgPadrao->Msg(QString::fromLatin1(chaveTitulo));
  if (chaveVazio) t += QLatin1Char('|') + msgPadrao->Msg(QString::fromLatin1(chaveVazio));
  return t;
}

// The registers of the consolidation screen's branch and store.
void TfrmFiltroGeraNF::btpCaixaClick() {
  const ConsolidationScreen& tela = telaConsolidacao();
  qryCaixa->Close();
  qryCaixa->ParamByName(QStringLiteral("P_CDFILIAL")).SetAsString(tela.branch());
  qryCaixa->ParamByName(QStringLiteral("P_CDLOJA")).SetAsString(tela.store());
  qryCaixa->Open();
  PesquisaLista(dtsCaixa, QStringLiteral("CODIGO"), titulo("Caixa"), false, FiltroTmp.stCaixa);
}

// The sales of the dialog's dates (not yet checked) and register choice; the
// register list goes by reference, so what the server leaves in it stays.
void TfrmFiltroGeraNF::btpVendaClick() {
  ConsolidationScreen& tela = telaConsolidacao();
  tela.rdm().GetVendas(tela.branch(), tela.store(), depInicial->GetDate(), depFinal->GetDate(), rbtTCaixa->isChecked(),
                       FiltroTmp.stCaixa, *cdsVendas);
  PesquisaLista(dtsVendas, QStringLiteral("CHAVE"), titulo("Venda", "Nao_Ha_Vend"), false, FiltroTmp.stVendas);
}

// The picker opens these lookups itself the first time.
void TfrmFiltroGeraNF::btpTipoConsClick() {
  PesquisaLista(dtsTipoCons, QStringLiteral("CDTIPOCONS"), titulo("TipoCons", "TIP_N_CAD"), false,
                FiltroTmp.stTipoCons);
}

void TfrmFiltroGeraNF::btpClienteClick() {
  PesquisaLista(dtsCliente, QStringLiteral("CDCLIENTE"), titulo("CLIENTE", "CLIE_N_CAD"), false, FiltroTmp.stCliente);
}

// The cost centres of the customers the dialog's customer choice takes in.
void TfrmFiltroGeraNF::btnCentroCustoClick() {
  concluiCampoEmEdicao();
  FocoPorCodigo quieto(focoPorCodigo_);  // a refusal moves the focus itself
  qryCentroCusto->Close();
  parametrosCentroCusto();
  carregaNomesClientes();
  qryCentroCusto->Open();
  PesquisaLista(dtsCentroCusto, QStringLiteral("CHAVE"), titulo("CentroCusto"), false, FiltroTmp.stCentroCusto);
}

void TfrmFiltroGeraNF::parametrosCentroCusto() {
  QString todos, clientes, inicial, final;
  if (rbtTodosCliente->isChecked()) {
    todos = QStringLiteral("T");
  } else if (rbtListaCliente->isChecked()) {
    if (FiltroTmp.stCliente.isEmpty()) recusaAntes(rbtListaCliente, "CLIENTE_N_INF");
    clientes = FiltroTmp.stCliente;
  } else {
    Vd_Cliente(true);
    vd_ClienteAte(true);
    inicial = medCliDe->text();
    final = medCliAte->text();
  }
  qryCentroCusto->ParamByName(QStringLiteral("P_TCDCLIENTE")).SetAsString(todos);
  qryCentroCusto->ParamByName(QStringLiteral("P_CDCLIENTE")).SetAsString(clientes);
  qryCentroCusto->ParamByName(QStringLiteral("P_CLIENTEINI")).SetAsString(inicial);
  qryCentroCusto->ParamByName(QStringLiteral("P_CLIENTEFIN")).SetAsString(final);
}

// The products sold in the dialog's dates, registers and sales. The lists go
// as copies: nothing the server does to them reaches FiltroTmp.
void TfrmFiltroGeraNF::btnProdutosClick() {
  concluiCampoEmEdicao();
  FocoPorCodigo quieto(focoPorCodigo_);  // a refusal moves the focus itself
  if (rbtLista->isChecked() && FiltroTmp.stVendas.isEmpty()) recusaAntes(rbtLista, "VENDA_N_INF");
  ProdutosSelecao selecao;
  if (rbtCaixa->isChecked())
    selecao.caixaLista = FiltroTmp.stCaixa;
  else
    selecao.caixaMarca = QStringLiteral("T");
  if (rbtLista->isChecked())
    selecao.vendasLista = FiltroTmp.stVendas;
  else
    selecao.vendasMarca = QStringLiteral("T");
  ConsolidationScreen& tela = telaConsolidacao();
  tela.rdm().GetProdutos(tela.branch(), tela.store(), depInicial->GetDate(), depFinal->GetDate(), selecao,
                         *cdsProdutos);
  PesquisaLista(dtsProdutos, QStringLiteral("CDPRODUTO"), titulo("Produtos", "Nao_Ha_Vend"), false,
                FiltroTmp.stProdutos);
}

// The names the cost-centre rows show, read afresh with each list.
void TfrmFiltroGeraNF::carregaNomesClientes() {
  qryNomeCliente->Close();
  qryNomeCliente->Open();
  nomesClientes_.clear();
  const TField* codigo = qryNomeCliente->FieldByName(QStringLiteral("CDCLIENTE"));
  const TField* nome = qryNomeCliente->FieldByName(QStringLiteral("NMRAZSOCCLIE"));
  for (int r = 0; r < qryNomeCliente->RecordCount(); ++r) nomesClientes_.insert(codigo->textAt(r), nome->textAt(r));
  qryNomeCliente->Close();
}

// A row's key is the customer's code followed by the cost centre's.
QString TfrmFiltroGeraNF::qryCentroCustoNMRAZSOCCLIEGetText(int row) const {
  const QString chave = qryCentroCusto->FieldByName(QStringLiteral("CHAVE"))->textAt(row);
  const QString centro = qryCentroCusto->FieldByName(QStringLiteral("CDCCUSCLIE"))->textAt(row);
  const QString cliente = chave.endsWith(centro) ? chave.left(chave.size() - centro.size()) : QString();
  return nomesClientes_.value(cliente);
}

// ---- interval name search ------------------------------------------------------------

// Reopened before each search so the list is current.
void TfrmFiltroGeraNF::btnPesqCliDeBeforePesq(TBtnPesquisa*, bool&) {
  qryPesqCli->Close();
  qryPesqCli->Open();
}
void TfrmFiltroGeraNF::btnPesqCliAteBeforePesq(TBtnPesquisa*, bool&) {
  qryPesqCli->Close();
  qryPesqCli->Open();
}

// The edit takes the company name; the name check runs when the focus leaves it.
void TfrmFiltroGeraNF::pesquisaNome(TMaskEdit* campo, TDataSet* dataset) {
  campo->setText(dataset->FieldByName(QStringLiteral("NMRAZSOCCLIE"))->AsString());
}
void TfrmFiltroGeraNF::btnPesqCliDeAfterPesq(TBtnPesquisa*, TDataSet* dataset) { pesquisaNome(medCliDe, dataset); }
void TfrmFiltroGeraNF::btnPesqCliAteAfterPesq(TBtnPesquisa*, TDataSet* dataset) { pesquisaNome(medCliAte, dataset); }

// ---- document numbers ------------------------------------------------------------------

// A person type without a mask shows the number as stored; no number shows nothing.
QString TfrmFiltroGeraNF::documentoFormatado(const TDataSet& dataset, int row) const {
  const QString numero = dataset.FieldByName(QStringLiteral("NRINSJURCLIE"))->textAt(row);
  if (numero.isEmpty()) return {};
  const QString mascara = PictPess(dataset.FieldByName(QStringLiteral("IDTPIJURCLIE"))->textAt(row));
  return mascara.isEmpty() ? numero : FormatMaskText(mascara, numero);
}

QString TfrmFiltroGeraNF::qryClienteNRINSJURCLIEGetText(int row) const { return documentoFormatado(*qryCliente, row); }
QString TfrmFiltroGeraNF::qryPesqCliNRINSJURCLIEGetText(int row) const { return documentoFormatado(*qryPesqCli, row); }
QString TfrmFiltroGeraNF::qryCentroCustoNRINSJURCLIEGetText(int row) const {
  return documentoFormatado(*qryCentroCusto, row);
}

}  // namespace qfx
