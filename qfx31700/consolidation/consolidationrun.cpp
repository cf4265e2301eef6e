// "Consolidar Vendas": the pre-consolidation checks and the run.
#include "consolidation/consolidationrun.h"

#include <QDate>
#include <QLineEdit>
#include <QTableView>
#include <QUuid>
#include <deque>
#include <functional>
#include <optional>

#include "consolidation/frmgeranf.h"
#include "consolidation/servermirrors.h"
#include "host/catalogues.h"
#include "navigation/modulestate.h"
#include <hostkit/core/abort.h>
#include <hostkit/core/messages.h>
#include <hostkit/core/routines.h>
#include <proto/contract_refusals.h>

namespace qfx {

using namespace hostkit;

namespace refusals = contract::refusals;

namespace {
const QString kEstoqueIrregular = QStringLiteral("LIB00200_3");
const QString kConferindoReducoes = QStringLiteral("Conferindo as vendas com as reduções Z...");
const QString kResultadoIncerto = QStringLiteral(
    "Não se sabe se a consolidação foi feita: o servidor pode tê-la concluído sem que a resposta chegasse. O "
    "resultado será consultado sozinho assim que um servidor responder; para consultá-lo antes, use \"Consultar "
    "resultado da consolidação\" (menu Manutenção) ou \"Consolidar Vendas\".");

double amount(TDataSet* ds, const char* field);

QString dinheiro(double valor) { return productLocale().toString(valor, 'f', 2); }
QString quantidade(double valor) { return productLocale().toString(valor, 'f', 3); }

// Beside the Z question: the register-day's sales, its Z reduction and the difference.
QString detalheDiferencaZ(TDataSet& soma, TDataSet& reducao) {
  const double vendas = amount(&soma, "TOTAL");
  const bool semReducao =
      !reducao.Active() || reducao.IsEmpty() || reducao.FieldByName(QStringLiteral("VRVENLIQREDZ"))->IsNull();
  const double reducaoZ = amount(&reducao, "VRVENLIQREDZ");
  QString texto = QStringLiteral("Vendas do caixa no dia: %1.\n").arg(dinheiro(vendas));
  texto += semReducao ? QStringLiteral("Redução Z: não há redução Z deste caixa neste dia.\n")
                      : QStringLiteral("Venda líquida da redução Z: %1.\n").arg(dinheiro(reducaoZ));
  return texto + QStringLiteral("Diferença: %1.").arg(dinheiro(vendas - reducaoZ));
}

// A column the server adds beyond the fixed ones, copied into the record
// being appended when the reply carries it (an older server sends none).
void copyIfSent(const TDataSet& from, const char* column, TDataSet& to, const char* field) {
  const TField* sent = from.FindField(QString::fromLatin1(column));
  if (sent && !sent->IsNull()) to.FieldByName(QString::fromLatin1(field))->setValue(sent->Value());
}

// Whether a failed call's message is the refusal `key`.
bool isRefusal(const QString& message, std::string_view key) {
  return message == QLatin1String(key.data(), qsizetype(key.size()));
}

// A missing value (no row, or a null) counts as 0.
double amount(TDataSet* ds, const char* field) {
  if (!ds->Active() || ds->IsEmpty()) return 0.0;
  ds->First();
  return ds->FieldByName(QString::fromLatin1(field))->AsFloat();
}

// How many register-days' calls go out ahead of the one being compared. The
// calls only read, so the server takes them side by side; 16 took less time
// than 8 or 32 (bench/README.md).
constexpr size_t kRegisterDaysAhead = 16;

struct RegisterDay {
  QString caixa;
  double dia = 0;
};

RegisterDay currentRegisterDay(TDataSet& ds) {
  return {ds.FieldByName(QStringLiteral("CDCAIXA"))->AsString(),
          ds.FieldByName(QStringLiteral("DTENTRVENDA"))->AsDateTime()};
}

std::vector<RegisterDay> registerDaysOf(TDataSet& ds) {
  std::vector<RegisterDay> days;
  days.reserve(size_t(ds.RecordCount()));
  for (ds.First(); !ds.Eof(); ds.Next()) days.push_back(currentRegisterDay(ds));
  return days;
}

// The sum and the Z reduction of one register-day, on their way.
struct RegisterDayCalls {
  PendingLoad soma, reducao;
};

// The register-days' calls in the order of the list, kRegisterDaysAhead of
// them on their way ahead of the one taken. The replies are taken strictly in
// that order, so a failure surfaces at its own register-day, where the
// sequential calls would have met it; calls still on their way when the check
// stops are dropped with their replies.
class RegisterDaysAhead {
 public:
  using Send = std::function<RegisterDayCalls(const RegisterDay&)>;
  RegisterDaysAhead(std::vector<RegisterDay> days, Send send) : days_(std::move(days)), send_(std::move(send)) {}

  // The next register-day's sum and Z reduction, loaded into the datasets.
  void loadNext(TDataSet& soma, TDataSet& reducao) {
    fill();
    RegisterDayCalls calls = std::move(onTheirWay_.front());
    onTheirWay_.pop_front();
    calls.soma.LoadInto(soma);
    calls.reducao.LoadInto(reducao);
  }

 private:
  void fill() {
    while (sent_ < days_.size() && onTheirWay_.size() < kRegisterDaysAhead)
      onTheirWay_.push_back(send_(days_[sent_++]));
  }

  std::vector<RegisterDay> days_;
  Send send_;
  size_t sent_ = 0;
  std::deque<RegisterDayCalls> onTheirWay_;
};
}  // namespace

// ---- checks ---------------------------------------------------------------------------

void ConsolidationRun::verificaPeriodoContabil() {
  if (!s_.rdm().getPeriodoCTBOK(s_.medFilial->text(), Filtro))
    MensErro(s_.msgPadrao->Msg(QStringLiteral("MOVIFORAPERIODOCTB")), true);
}

void ConsolidationRun::verificaVendaAnterior(double inicio, double fim, double inicioConsolidacao) {
  try {
    s_.rdm().Verifica_Venda_Anterior(s_.medFilial->text(), inicio, fim, inicioConsolidacao,
                                     fieldText(s_.cdsParamFilial, "IDUTILALMOX"),
                                     fieldText(s_.cdsParamFilial, "IDUTILLCESTQ"),
                                     fieldText(s_.qryLoja, "CDALMOXARIFE"), fieldText(s_.qryLoja, "CDLOCALESTOQ"));
  } catch (const EServerError& e) {
    if (!isRefusal(e.message(), refusals::kEarlierSalesPending)) throw;
    s_.dbgPadrao->setFocus();
    MensErroDetalhado(s_.msgPadrao->Msg(refusalMessageKey(refusals::kEarlierSalesPending)), e.details(), true);
  }
}

// The busy animation stays up while the register-days are read, and comes
// down for each question. The questions come in the order of the list, as the
// replies are taken; the calls of the register-days after the one asked about
// are already on their way.
void ConsolidationRun::verificaValor() {
  std::optional<BusyAnimation> busy;
  busy.emplace(&s_, kBusyAnimation, kConferindoReducoes);
  s_.rdm().GetVerifVenda(s_.medFilial->text(), s_.medCdLoja->text(), Filtro, *s_.cdsVerifVenda);
  RegisterDaysAhead ahead(registerDaysOf(*s_.cdsVerifVenda), [this](const RegisterDay& day) {
    return RegisterDayCalls{
        s_.rdm().StartGetSoma(s_.medFilial->text(), s_.medCdLoja->text(), day.caixa, day.dia, Filtro),
        s_.rdm().StartGetReducaoZ(s_.medFilial->text(), day.caixa, day.dia)};
  });
  for (s_.cdsVerifVenda->First(); !s_.cdsVerifVenda->Eof(); s_.cdsVerifVenda->Next()) {
    const RegisterDay day = currentRegisterDay(*s_.cdsVerifVenda);
    if (!busy) busy.emplace(&s_, kBusyAnimation, kConferindoReducoes);
    ahead.loadNext(*s_.cdsSoma, *s_.cdsReducaoZ);
    // exact comparison: any difference at all is the operator's to accept
    if (amount(s_.cdsSoma, "TOTAL") == amount(s_.cdsReducaoZ, "VRVENLIQREDZ")) continue;
    busy.reset();
    const QString question = s_.msgPadrao->Msg(QStringLiteral("VALOR_DIF"), {day.caixa, DateTimeToStr(day.dia)});
    const QString detalhe = detalheDiferencaZ(*s_.cdsSoma, *s_.cdsReducaoZ);
    if (MessageDlgDetalhado(question, detalhe, MsgDlgType::Confirmation, mbYes | mbNo, 0) == mrNo) Abort();
  }
}

// ---- the run ----------------------------------------------------------------------------

void ConsolidationRun::executar() {
  // a posting whose outcome is not known is asked about before any other
  if (s_.execucaoIncerta) return consultarResultado();
  verificaPeriodoContabil();
  if (fieldText(s_.cdsParamVend, "IDCONSUMIOBR") == QLatin1String("1")) {
    const bool semInicio = EmptyString(fieldText(s_.cdsParamVend, "DTINITESCONS"));
    const double inicio = semInicio ? toDateTime(QDate(1899, 1, 1))
                                    : s_.cdsParamVend->FieldByName(QStringLiteral("DTINITESCONS"))->AsDateTime();
    verificaVendaAnterior(Filtro.dtInicial, Filtro.dtFinal, inicio);
  }
  verificaValor();
  if (s_.msgPadrao->ShowMsg(QStringLiteral("Conf"), MsgDlgType::Confirmation, mbYes | mbNo, 0) != mrYes) Abort();
  if (!mirror::branchControlsStock(s_.cdsParamFilial))
    MensErro(s_.msgPadrao->Msg(refusalMessageKey(refusals::kBranchKeepsNoStock)), true);
  consolidar(&ConsolidationRun::consolidarProtegido);
}

void ConsolidationRun::consultarResultado() {
  if (s_.execucaoIncerta) consolidar(&ConsolidationRun::consultarProtegido);
}

// Whatever happens once the server is asked, the list is reloaded afterwards.
// A posting that no server answered is said so first: its outcome is not
// known, and it is asked again as soon as a server answers; the list is then
// reloaded only when a server answers at once (otherwise the reload would
// only wait as long again for the same silence).
void ConsolidationRun::consolidar(void (ConsolidationRun::*passo)()) {
  try {
    (this->*passo)();
  } catch (const EServerError& e) {
    if (!e.unanswered()) {
      s_.sbtVerificarClick();
      throw;
    }
    avisarResultadoIncerto(e);
    recarregarSeHouverServidor();
    Abort();
  } catch (...) {
    s_.sbtVerificarClick();
    throw;
  }
  s_.sbtVerificarClick();
}

void ConsolidationRun::avisarResultadoIncerto(const EServerError& e) {
  MessageDlgDetalhado(e.message(), kResultadoIncerto, MsgDlgType::Warning, mbOK, 0, e.details());
}

void ConsolidationRun::recarregarSeHouverServidor() {
  constexpr int kPaciencia = 1000;  // ms
  if (s_.netGeraNF->Ping(kPaciencia))
    s_.sbtVerificarClick();
  else
    s_.SetGridOutOfDate(true);
}

// The call under its run identifier: a server that answers (with an outcome
// or a refusal) settles the run; one that gives no answer leaves it in doubt.
SemGeraNFReply ConsolidationRun::enviar(const ExecucaoIncerta& execucao, TDataSet& erros, TDataSet& bloqueados,
                                        TFiltro& filtro) {
  try {
    SemGeraNFReply reply =
        s_.rdm().SemGeraNF(execucao.filiProc, execucao.filial, execucao.loja, filtro, execucao.tipoReti, execucao.setor,
                           execucao.operador, execucao.verificaEstoque, execucao.id, erros, bloqueados);
    s_.esqueceExecucaoIncerta();
    return reply;
  } catch (const EServerError& e) {
    if (e.unanswered())
      s_.lembraExecucaoIncerta(execucao);
    else
      s_.esqueceExecucaoIncerta();
    throw;
  }
}

SemGeraNFReply ConsolidationRun::chamarSemGeraNF(bool verificaEstoque) {
  // the second call's lists are not looked at: they must not replace the first reply's
  TDataSet erros(nullptr, QStringLiteral("cdsErroConsolida2")), bloqueados(nullptr, QStringLiteral("cdsProdBloq2"));
  const ExecucaoIncerta execucao{QUuid::createUuid().toString(QUuid::WithoutBraces),
                                 verificaEstoque,
                                 FiliProc(),
                                 s_.medFilial->text(),
                                 s_.medCdLoja->text(),
                                 s_.medTipoReti->text(),
                                 s_.medSetor->text(),
                                 Operador(),
                                 Filtro};
  return enviar(execucao, verificaEstoque ? *s_.cdsErroConsolida : erros,
                verificaEstoque ? *s_.cdsProdBloq : bloqueados, Filtro);
}

void ConsolidationRun::consolidarProtegido() {
  BusyAnimation busy(&s_, kBusyAnimation, s_.msgPadrao->Msg(QStringLiteral("ConsolidaVenda")));
  try {
    s_.repaint();
    if (!s_.cdsErroConsolida->IsEmpty()) s_.cdsErroConsolida->EmptyDataSet();
    if (!s_.cdsProdBloq->IsEmpty()) s_.cdsProdBloq->EmptyDataSet();
    SemGeraNFReply reply = chamarSemGeraNF(true);
    busy.close();
    tratarResposta(std::move(reply));
  } catch (const EHostError& e) {
    busy.close();
    if (!tratarRecusa(e.message(), e.details())) throw;
  } catch (...) {
    busy.close();
    throw;
  }
}

// The posting in doubt asked again with what it sent the first time; its
// answer is handled as the first reply (or, for the call with the stock
// check off, as the second) would have been.
void ConsolidationRun::consultarProtegido() {
  const ExecucaoIncerta execucao = *s_.execucaoIncerta;
  BusyAnimation busy(&s_, kBusyAnimation, s_.msgPadrao->Msg(QStringLiteral("ConsolidaVenda")));
  try {
    s_.repaint();
    TFiltro filtro = execucao.filtro;
    if (execucao.verificaEstoque) {
      if (!s_.cdsErroConsolida->IsEmpty()) s_.cdsErroConsolida->EmptyDataSet();
      if (!s_.cdsProdBloq->IsEmpty()) s_.cdsProdBloq->EmptyDataSet();
      SemGeraNFReply reply = enviar(execucao, *s_.cdsErroConsolida, *s_.cdsProdBloq, filtro);
      busy.close();
      tratarResposta(std::move(reply));
    } else {
      TDataSet erros(nullptr, QStringLiteral("cdsErroConsolida2")), bloqueados(nullptr, QStringLiteral("cdsProdBloq2"));
      const SemGeraNFReply reply = enviar(execucao, erros, bloqueados, filtro);
      busy.close();
      mensagemFinal(reply);
    }
  } catch (const EHostError& e) {
    busy.close();
    if (!tratarRecusa(e.message(), e.details())) throw;
  } catch (...) {
    busy.close();
    throw;
  }
}

void ConsolidationRun::tratarResposta(SemGeraNFReply reply) {
  if (mostrarProdutosBloqueados()) MensErro(s_.msgPadrao->Msg(QStringLiteral("CONS_BLOQ")), true);
  if (!s_.cdsErroConsolida->IsEmpty()) {
    s_.cdsErroConsolida->First();
    if (mirror::branchAllowsNegativeStock(s_.cdsParamFilial))
      reply = tratarEstoqueNegativoPermitido(reply);
    else
      tratarEstoqueNegativoNaoPermitido(reply);
  }
  mensagemFinal(reply);
}

// Beside the negative-stock question: each product, its balance, what the
// run takes out and what it would leave.
QString ConsolidationRun::produtosIrregulares() const {
  TDataSet& erros = *s_.cdsErroConsolida;
  const TField* baixa = erros.FindField(QStringLiteral("QTLANCESTQ"));
  const TField* saldoFinal = erros.FindField(QStringLiteral("QTSALDOFINAL"));
  QStringList linhas;
  for (erros.First(); !erros.Eof(); erros.Next()) {
    if (fieldText(&erros, "CDERRO") != kEstoqueIrregular) continue;
    QString linha =
        QStringLiteral("%1: saldo %2")
            .arg(fieldText(&erros, "CDOBJETO2"), quantidade(erros.FieldByName(QStringLiteral("CDOBJETO5"))->AsFloat()));
    // an older server sends neither
    if (baixa && saldoFinal && !baixa->IsNull() && !saldoFinal->IsNull())
      linha += QStringLiteral(", sai %1, fica %2").arg(quantidade(baixa->AsFloat()), quantidade(saldoFinal->AsFloat()));
    linhas << linha + QLatin1Char('.');
  }
  erros.First();
  return linhas.join(QLatin1Char('\n'));
}

// Blocked products stop the run; the error list is then never looked at.
bool ConsolidationRun::mostrarProdutosBloqueados() {
  if (s_.cdsProdBloq->IsEmpty()) return false;
  if (s_.cdsBloqConsolida->Active())
    s_.cdsBloqConsolida->EmptyDataSet();
  else
    s_.cdsBloqConsolida->CreateDataSet();
  for (s_.cdsProdBloq->First(); !s_.cdsProdBloq->Eof(); s_.cdsProdBloq->Next()) {
    s_.cdsBloqConsolida->Append();
    s_.cdsBloqConsolida->FieldByName(QStringLiteral("CdObjeto"))->SetAsString(s_.medFilial->text());
    s_.cdsBloqConsolida->FieldByName(QStringLiteral("CdObjeto2"))
        ->SetAsString(fieldText(s_.cdsProdBloq, "CDPRODUTO") + QLatin1Char(' ') +
                      fieldText(s_.cdsProdBloq, "NMPRODUTO"));
    copyIfSent(*s_.cdsProdBloq, "IDMOTIVOBLOQ", *s_.cdsBloqConsolida, "IdMotivoBloq");
    s_.cdsBloqConsolida->Post();
  }
  if (!s_.cdsBloqConsolida->IsEmpty()) CriaBloqConsolida(&s_);
  return true;
}

// Negative stock permitted: ask when the branch wants it, then one second call
// with the stock check off. The outcome is the second reply's: the first one
// reports that nothing was posted.
SemGeraNFReply ConsolidationRun::tratarEstoqueNegativoPermitido(const SemGeraNFReply& primeira) {
  if (fieldText(s_.cdsParamFilial, "IDMENSESTNEG") == QLatin1String("S")) {
    const QString pergunta = s_.msgPadrao->Msg(QStringLiteral("Irreg_Prod_Est"));
    if (MessageDlgDetalhado(pergunta, produtosIrregulares(), MsgDlgType::Information, mbYes | mbNo, 0) != mrYes)
      Abort();
  }
  BusyAnimation busy(&s_, kBusyAnimation, s_.msgPadrao->Msg(QStringLiteral("ConsolidaVenda")));
  s_.repaint();
  std::optional<SemGeraNFReply> segunda;
  for (; !s_.cdsErroConsolida->Eof(); s_.cdsErroConsolida->Next()) {
    if (fieldText(s_.cdsErroConsolida, "CDERRO") != kEstoqueIrregular) continue;
    segunda = chamarSemGeraNF(false);
    break;
  }
  busy.close();
  return segunda.value_or(primeira);
}

void ConsolidationRun::tratarEstoqueNegativoNaoPermitido(const SemGeraNFReply& primeira) {
  if (!s_.cdsIrregEst->IsEmpty()) s_.cdsIrregEst->EmptyDataSet();
  const bool central = fieldText(s_.cdsParamVend, "IDUTILESTCENT") == QLatin1String("S");
  const QString filialEstoque = central ? fieldText(s_.cdsParamVend, "CDFILIESTCENT") : s_.medFilial->text();
  for (s_.cdsErroConsolida->First(); !s_.cdsErroConsolida->Eof(); s_.cdsErroConsolida->Next()) {
    if (fieldText(s_.cdsErroConsolida, "CDERRO") != kEstoqueIrregular) continue;
    if (!s_.cdsIrregEst->Active()) s_.cdsIrregEst->CreateDataSet();
    s_.cdsIrregEst->Append();
    s_.cdsIrregEst->FieldByName(QStringLiteral("CdErro"))->SetAsString(kEstoqueIrregular);
    s_.cdsIrregEst->FieldByName(QStringLiteral("CdObjeto"))->SetAsString(filialEstoque);
    s_.cdsIrregEst->FieldByName(QStringLiteral("CdObjeto2"))->SetAsString(fieldText(s_.cdsErroConsolida, "CDOBJETO2"));
    s_.cdsIrregEst->FieldByName(QStringLiteral("CdObjeto3"))->SetAsString(fieldText(s_.cdsErroConsolida, "CDOBJETO3"));
    s_.cdsIrregEst->FieldByName(QStringLiteral("CdObjeto5"))
        ->SetAsFloat(s_.cdsErroConsolida->FieldByName(QStringLiteral("CDOBJETO5"))->AsFloat());
    s_.cdsIrregEst->FieldByName(QStringLiteral("CdObjeto4"))->SetAsString(fieldText(s_.cdsErroConsolida, "CDOBJETO4"));
    copyIfSent(*s_.cdsErroConsolida, "QTLANCESTQ", *s_.cdsIrregEst, "QtLancEstq");
    copyIfSent(*s_.cdsErroConsolida, "QTSALDOFINAL", *s_.cdsIrregEst, "QtSaldoFinal");
    s_.cdsIrregEst->Post();
  }
  if (s_.cdsIrregEst->Active() && !s_.cdsIrregEst->IsEmpty()) CriaLancIrreg(QString::number(primeira.lancamento), &s_);
  if (fieldText(s_.cdsParamVend, "IDPERCONVESTNEG") == QLatin1String("N"))
    MensErro(s_.msgPadrao->Msg(QStringLiteral("OPERA_BLOQ")), true);
}

void ConsolidationRun::mensagemFinal(const SemGeraNFReply& reply) {
  QString mensagem;
  if (reply.lancamento == 0)
    mensagem = s_.msgPadrao->Msg(QStringLiteral("NF_OK_ZERO"));
  else if (reply.chave.isEmpty())
    mensagem = s_.msgPadrao->Msg(QStringLiteral("GERACAO_OK"));
  else
    mensagem = s_.msgPadrao->Msg(reply.chave);
  // what the server says beside its key (the days left out) goes with that key only
  const QString detalhes = reply.lancamento != 0 && !reply.chave.isEmpty() ? reply.detalhes : QString();
  MessageDlgDetalhado(mensagem, detalhes, MsgDlgType::Information, mbOK, 0);
}

// The server's refusals get the screen's own texts; false for anything else,
// which goes on unchanged.
bool ConsolidationRun::tratarRecusa(const QString& chave, const QString& detalhes) {
  for (const auto refusal : {refusals::kAfterProcessingDate, refusals::kStockClosed, refusals::kPeriodTooLong,
                             refusals::kBranchKeepsNoStock, refusals::kDaysClosedByAdjustment})
    if (isRefusal(chave, refusal)) MensErroDetalhado(s_.msgPadrao->Msg(refusalMessageKey(refusal)), detalhes, true);
  if (isRefusal(chave, refusals::kProductNotOfWithdrawalType)) {
    MessageDlg(s_.msgPadrao->Msg(chave), MsgDlgType::Error, mbOK, 0);
    CriaRelProdEvol(chave);  // on the report of the products behind the refusal
    return true;
  }
  return false;
}

}  // namespace qfx
