// "Consolidar Vendas": the pre-consolidation checks and the run.
#include "consolidation/consolidationrun.h"

#include <QDate>
#include <QUuid>
#include <QWidget>
#include <deque>
#include <functional>
#include <optional>

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
  if (!p_.rdm().getPeriodoCTBOK(p_.entry().filial, Filtro))
    MensErro(p_.catalogue().Msg(QStringLiteral("MOVIFORAPERIODOCTB")), true);
}

void ConsolidationRun::verificaVendaAnterior(double inicio, double fim, double inicioConsolidacao) {
  try {
    p_.rdm().Verifica_Venda_Anterior(p_.entry().filial, inicio, fim, inicioConsolidacao,
                                     fieldText(d_.paramFilial, "IDUTILALMOX"),
                                     fieldText(d_.paramFilial, "IDUTILLCESTQ"), fieldText(d_.loja, "CDALMOXARIFE"),
                                     fieldText(d_.loja, "CDLOCALESTOQ"));
  } catch (const EServerError& e) {
    if (!isRefusal(e.message(), refusals::kEarlierSalesPending)) throw;
    p_.focusList();
    MensErroDetalhado(p_.catalogue().Msg(refusalMessageKey(refusals::kEarlierSalesPending)), e.details(), true);
  }
}

// The busy animation stays up while the register-days are read, and comes
// down for each question. The questions come in the order of the list, as the
// replies are taken; the calls of the register-days after the one asked about
// are already on their way.
void ConsolidationRun::verificaValor() {
  std::optional<BusyAnimation> busy;
  busy.emplace(p_.owner(), kBusyAnimation, kConferindoReducoes);
  p_.rdm().GetVerifVenda(p_.entry().filial, p_.entry().loja, Filtro, *d_.verifVenda);
  RegisterDaysAhead ahead(registerDaysOf(*d_.verifVenda), [this](const RegisterDay& day) {
    return RegisterDayCalls{p_.rdm().StartGetSoma(p_.entry().filial, p_.entry().loja, day.caixa, day.dia, Filtro),
                            p_.rdm().StartGetReducaoZ(p_.entry().filial, day.caixa, day.dia)};
  });
  for (d_.verifVenda->First(); !d_.verifVenda->Eof(); d_.verifVenda->Next()) {
    const RegisterDay day = currentRegisterDay(*d_.verifVenda);
    if (!busy) busy.emplace(p_.owner(), kBusyAnimation, kConferindoReducoes);
    ahead.loadNext(*d_.soma, *d_.reducaoZ);
    // exact comparison: any difference at all is the operator's to accept
    if (amount(d_.soma, "TOTAL") == amount(d_.reducaoZ, "VRVENLIQREDZ")) continue;
    busy.reset();
    const QString question = p_.catalogue().Msg(QStringLiteral("VALOR_DIF"), {day.caixa, DateTimeToStr(day.dia)});
    const QString detalhe = detalheDiferencaZ(*d_.soma, *d_.reducaoZ);
    if (MessageDlgDetalhado(question, detalhe, MsgDlgType::Confirmation, mbYes | mbNo, 0) == mrNo) Abort();
  }
}

// ---- the run ----------------------------------------------------------------------------

void ConsolidationRun::executar() {
  // a posting whose outcome is not known is asked about before any other
  if (p_.execucaoEmDuvida()) return consultarResultado();
  verificaPeriodoContabil();
  if (fieldText(d_.paramVend, "IDCONSUMIOBR") == QLatin1String("1")) {
    const bool semInicio = EmptyString(fieldText(d_.paramVend, "DTINITESCONS"));
    const double inicio = semInicio ? toDateTime(QDate(1899, 1, 1))
                                    : d_.paramVend->FieldByName(QStringLiteral("DTINITESCONS"))->AsDateTime();
    verificaVendaAnterior(Filtro.dtInicial, Filtro.dtFinal, inicio);
  }
  verificaValor();
  if (p_.catalogue().ShowMsg(QStringLiteral("Conf"), MsgDlgType::Confirmation, mbYes | mbNo, 0) != mrYes) Abort();
  if (!mirror::branchControlsStock(d_.paramFilial))
    MensErro(p_.catalogue().Msg(refusalMessageKey(refusals::kBranchKeepsNoStock)), true);
  consolidar(&ConsolidationRun::consolidarProtegido);
}

void ConsolidationRun::consultarResultado() {
  if (p_.execucaoEmDuvida()) consolidar(&ConsolidationRun::consultarProtegido);
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
      p_.reloadList();
      throw;
    }
    avisarResultadoIncerto(e);
    recarregarSeHouverServidor();
    Abort();
  } catch (...) {
    p_.reloadList();
    throw;
  }
  p_.reloadList();
}

void ConsolidationRun::avisarResultadoIncerto(const EServerError& e) {
  MessageDlgDetalhado(e.message(), kResultadoIncerto, MsgDlgType::Warning, mbOK, 0, e.details());
}

void ConsolidationRun::recarregarSeHouverServidor() {
  constexpr int kPaciencia = 1000;  // ms
  if (p_.serverAnswersWithin(kPaciencia))
    p_.reloadList();
  else
    p_.markListOutOfDate();
}

// The call under its run identifier: a server that answers (with an outcome
// or a refusal) settles the run; one that gives no answer leaves it in doubt.
SemGeraNFReply ConsolidationRun::enviar(const ExecucaoIncerta& execucao, TDataSet& erros, TDataSet& bloqueados,
                                        TFiltro& filtro) {
  try {
    SemGeraNFReply reply =
        p_.rdm().SemGeraNF(execucao.filiProc, execucao.filial, execucao.loja, filtro, execucao.tipoReti, execucao.setor,
                           execucao.operador, execucao.verificaEstoque, execucao.id, erros, bloqueados);
    p_.esqueceExecucaoIncerta();
    return reply;
  } catch (const EServerError& e) {
    if (e.unanswered())
      p_.lembraExecucaoIncerta(execucao);
    else
      p_.esqueceExecucaoIncerta();
    throw;
  }
}

SemGeraNFReply ConsolidationRun::chamarSemGeraNF(bool verificaEstoque) {
  // the second call's lists are not looked at: they must not replace the first reply's
  TDataSet erros(nullptr, QStringLiteral("cdsErroConsolida2")), bloqueados(nullptr, QStringLiteral("cdsProdBloq2"));
  const ExecucaoIncerta execucao{QUuid::createUuid().toString(QUuid::WithoutBraces),
                                 verificaEstoque,
                                 FiliProc(),
                                 p_.entry().filial,
                                 p_.entry().loja,
                                 p_.entry().tipoReti,
                                 p_.entry().setor,
                                 Operador(),
                                 Filtro};
  return enviar(execucao, verificaEstoque ? *d_.erroConsolida : erros, verificaEstoque ? *d_.prodBloq : bloqueados,
                Filtro);
}

void ConsolidationRun::consolidarProtegido() {
  BusyAnimation busy(p_.owner(), kBusyAnimation, p_.catalogue().Msg(QStringLiteral("ConsolidaVenda")));
  try {
    p_.owner()->repaint();
    if (!d_.erroConsolida->IsEmpty()) d_.erroConsolida->EmptyDataSet();
    if (!d_.prodBloq->IsEmpty()) d_.prodBloq->EmptyDataSet();
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
  const ExecucaoIncerta execucao = *p_.execucaoEmDuvida();
  BusyAnimation busy(p_.owner(), kBusyAnimation, p_.catalogue().Msg(QStringLiteral("ConsolidaVenda")));
  try {
    p_.owner()->repaint();
    TFiltro filtro = execucao.filtro;
    if (execucao.verificaEstoque) {
      if (!d_.erroConsolida->IsEmpty()) d_.erroConsolida->EmptyDataSet();
      if (!d_.prodBloq->IsEmpty()) d_.prodBloq->EmptyDataSet();
      SemGeraNFReply reply = enviar(execucao, *d_.erroConsolida, *d_.prodBloq, filtro);
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
  if (mostrarProdutosBloqueados()) MensErro(p_.catalogue().Msg(QStringLiteral("CONS_BLOQ")), true);
  if (!d_.erroConsolida->IsEmpty()) {
    d_.erroConsolida->First();
    if (mirror::branchAllowsNegativeStock(d_.paramFilial))
      reply = tratarEstoqueNegativoPermitido(reply);
    else
      tratarEstoqueNegativoNaoPermitido(reply);
  }
  mensagemFinal(reply);
}

// Beside the negative-stock question: each product, its balance, what the
// run takes out and what it would leave.
QString ConsolidationRun::produtosIrregulares() const {
  TDataSet& erros = *d_.erroConsolida;
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
  if (d_.prodBloq->IsEmpty()) return false;
  if (d_.bloqConsolida->Active())
    d_.bloqConsolida->EmptyDataSet();
  else
    d_.bloqConsolida->CreateDataSet();
  for (d_.prodBloq->First(); !d_.prodBloq->Eof(); d_.prodBloq->Next()) {
    d_.bloqConsolida->Append();
    d_.bloqConsolida->FieldByName(QStringLiteral("CdObjeto"))->SetAsString(p_.entry().filial);
    d_.bloqConsolida->FieldByName(QStringLiteral("CdObjeto2"))
        ->SetAsString(fieldText(d_.prodBloq, "CDPRODUTO") + QLatin1Char(' ') + fieldText(d_.prodBloq, "NMPRODUTO"));
    copyIfSent(*d_.prodBloq, "IDMOTIVOBLOQ", *d_.bloqConsolida, "IdMotivoBloq");
    d_.bloqConsolida->Post();
  }
  if (!d_.bloqConsolida->IsEmpty()) CriaBloqConsolida(p_.owner());
  return true;
}

// Negative stock permitted: ask when the branch wants it, then one second call
// with the stock check off. The outcome is the second reply's: the first one
// reports that nothing was posted.
SemGeraNFReply ConsolidationRun::tratarEstoqueNegativoPermitido(const SemGeraNFReply& primeira) {
  if (fieldText(d_.paramFilial, "IDMENSESTNEG") == QLatin1String("S")) {
    const QString pergunta = p_.catalogue().Msg(QStringLiteral("Irreg_Prod_Est"));
    if (MessageDlgDetalhado(pergunta, produtosIrregulares(), MsgDlgType::Information, mbYes | mbNo, 0) != mrYes)
      Abort();
  }
  BusyAnimation busy(p_.owner(), kBusyAnimation, p_.catalogue().Msg(QStringLiteral("ConsolidaVenda")));
  p_.owner()->repaint();
  std::optional<SemGeraNFReply> segunda;
  for (; !d_.erroConsolida->Eof(); d_.erroConsolida->Next()) {
    if (fieldText(d_.erroConsolida, "CDERRO") != kEstoqueIrregular) continue;
    segunda = chamarSemGeraNF(false);
    break;
  }
  busy.close();
  return segunda.value_or(primeira);
}

void ConsolidationRun::tratarEstoqueNegativoNaoPermitido(const SemGeraNFReply& primeira) {
  if (!d_.irregEst->IsEmpty()) d_.irregEst->EmptyDataSet();
  const bool central = fieldText(d_.paramVend, "IDUTILESTCENT") == QLatin1String("S");
  const QString filialEstoque = central ? fieldText(d_.paramVend, "CDFILIESTCENT") : p_.entry().filial;
  for (d_.erroConsolida->First(); !d_.erroConsolida->Eof(); d_.erroConsolida->Next()) {
    if (fieldText(d_.erroConsolida, "CDERRO") != kEstoqueIrregular) continue;
    if (!d_.irregEst->Active()) d_.irregEst->CreateDataSet();
    d_.irregEst->Append();
    d_.irregEst->FieldByName(QStringLiteral("CdErro"))->SetAsString(kEstoqueIrregular);
    d_.irregEst->FieldByName(QStringLiteral("CdObjeto"))->SetAsString(filialEstoque);
    d_.irregEst->FieldByName(QStringLiteral("CdObjeto2"))->SetAsString(fieldText(d_.erroConsolida, "CDOBJETO2"));
    d_.irregEst->FieldByName(QStringLiteral("CdObjeto3"))->SetAsString(fieldText(d_.erroConsolida, "CDOBJETO3"));
    d_.irregEst->FieldByName(QStringLiteral("CdObjeto5"))
        ->SetAsFloat(d_.erroConsolida->FieldByName(QStringLiteral("CDOBJETO5"))->AsFloat());
    d_.irregEst->FieldByName(QStringLiteral("CdObjeto4"))->SetAsString(fieldText(d_.erroConsolida, "CDOBJETO4"));
    copyIfSent(*d_.erroConsolida, "QTLANCESTQ", *d_.irregEst, "QtLancEstq");
    copyIfSent(*d_.erroConsolida, "QTSALDOFINAL", *d_.irregEst, "QtSaldoFinal");
    d_.irregEst->Post();
  }
  if (d_.irregEst->Active() && !d_.irregEst->IsEmpty()) CriaLancIrreg(QString::number(primeira.lancamento), p_.owner());
  if (fieldText(d_.paramVend, "IDPERCONVESTNEG") == QLatin1String("N"))
    MensErro(p_.catalogue().Msg(QStringLiteral("OPERA_BLOQ")), true);
}

void ConsolidationRun::mensagemFinal(const SemGeraNFReply& reply) {
  QString mensagem;
  if (reply.lancamento == 0)
    mensagem = p_.catalogue().Msg(QStringLiteral("NF_OK_ZERO"));
  else if (reply.chave.isEmpty())
    mensagem = p_.catalogue().Msg(QStringLiteral("GERACAO_OK"));
  else
    mensagem = p_.catalogue().Msg(reply.chave);
  // what the server says beside its key (the days left out) goes with that key only
  const QString detalhes = reply.lancamento != 0 && !reply.chave.isEmpty() ? reply.detalhes : QString();
  MessageDlgDetalhado(mensagem, detalhes, MsgDlgType::Information, mbOK, 0);
}

// The server's refusals get the screen's own texts; false for anything else,
// which goes on unchanged.
bool ConsolidationRun::tratarRecusa(const QString& chave, const QString& detalhes) {
  for (const auto refusal : {refusals::kAfterProcessingDate, refusals::kStockClosed, refusals::kPeriodTooLong,
                             refusals::kBranchKeepsNoStock, refusals::kDaysClosedByAdjustment})
    if (isRefusal(chave, refusal)) MensErroDetalhado(p_.catalogue().Msg(refusalMessageKey(refusal)), detalhes, true);
  if (isRefusal(chave, refusals::kProductNotOfWithdrawalType)) {
    MessageDlg(p_.catalogue().Msg(chave), MsgDlgType::Error, mbOK, 0);
    CriaRelProdEvol(chave);  // on the report of the products behind the refusal
    return true;
  }
  return false;
}

}  // namespace qfx
