// "Consolidar Vendas": the pre-consolidation checks and the run.
#include <QDate>
#include <QLineEdit>
#include <QTableView>
#include <deque>
#include <functional>
#include <optional>

#include "consolidation/frmgeranf.h"
#include "messages.h"
#include "module/modulestate.h"
#include "routines.h"

namespace qfx {

using namespace hostkit;

namespace {
constexpr int kBusyAnimation = 6;
const QString kEstoqueIrregular = QStringLiteral("LIB00200_3");
const QString kConferindoReducoes = QStringLiteral("Conferindo as vendas com as reduções Z...");

QString text(TDataSet* ds, const char* field) {
  if (!ds->Active() || ds->IsEmpty()) return {};
  return ds->FieldByName(QString::fromLatin1(field))->AsString();
}

// A missing value (no row, or a null) counts as 0.
double amount(TDataSet* ds, const char* field) {
  if (!ds->Active() || ds->IsEmpty()) return 0.0;
  ds->First();
  return ds->FieldByName(QString::fromLatin1(field))->AsFloat();
}

// How many register-days' calls go out ahead of the one being compared. The
// calls only read, so the server takes them side by side; 16 took less time
// than 8 or 32 (README, benchmarks).
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

void TfrmGeraNF::verificaPeriodoContabil() {
  if (!rdm_.getPeriodoCTBOK(medFilial->text(), Filtro))
    MensErro(msgPadrao->Msg(QStringLiteral("MOVIFORAPERIODOCTB")), true);
}

void TfrmGeraNF::Verifica_Venda_Anterior(double inicio, double fim, double inicioConsolidacao) {
  try {
    rdm_.Verifica_Venda_Anterior(medFilial->text(), inicio, fim, inicioConsolidacao,
                                 text(cdsParamFilial, "IDUTILALMOX"), text(cdsParamFilial, "IDUTILLCESTQ"),
                                 text(qryLoja, "CDALMOXARIFE"), text(qryLoja, "CDLOCALESTOQ"));
  } catch (const EServerError& e) {
    if (e.message() != QLatin1String("VENDA_CONSOL")) throw;
    dbgPadrao->setFocus();
    MensErro(msgPadrao->Msg(QStringLiteral("VENDA_CONSOL")), true);
  }
}

// The busy animation stays up while the register-days are read, and comes
// down for each question. The questions come in the order of the list, as the
// replies are taken; the calls of the register-days after the one asked about
// are already on their way.
void TfrmGeraNF::Verifica_Valor() {
  std::optional<BusyAnimation> busy;
  busy.emplace(this, kBusyAnimation, kConferindoReducoes);
  rdm_.GetVerifVenda(medFilial->text(), medCdLoja->text(), Filtro, *cdsVerifVenda);
  RegisterDaysAhead ahead(registerDaysOf(*cdsVerifVenda), [this](const RegisterDay& day) {
    return RegisterDayCalls{rdm_.StartGetSoma(medFilial->text(), medCdLoja->text(), day.caixa, day.dia, Filtro),
                            rdm_.StartGetReducaoZ(medFilial->text(), day.caixa, day.dia)};
  });
  for (cdsVerifVenda->First(); !cdsVerifVenda->Eof(); cdsVerifVenda->Next()) {
    const RegisterDay day = currentRegisterDay(*cdsVerifVenda);
    if (!busy) busy.emplace(this, kBusyAnimation, kConferindoReducoes);
    ahead.loadNext(*cdsSoma, *cdsReducaoZ);
    // exact comparison: any difference at all is the operator's to accept
    if (amount(cdsSoma, "TOTAL") == amount(cdsReducaoZ, "VRVENLIQREDZ")) continue;
    busy.reset();
    const QString question = msgPadrao->Msg(QStringLiteral("VALOR_DIF"), {day.caixa, DateTimeToStr(day.dia)});
    if (MessageDlg(question, MsgDlgType::Confirmation, mbYes | mbNo, 0) == mrNo) Abort();
  }
}

// ---- the run ----------------------------------------------------------------------------

void TfrmGeraNF::sbtGeraNFClick() {
  verificaPeriodoContabil();
  if (text(cdsParamVend, "IDCONSUMIOBR") == QLatin1String("1")) {
    const bool semInicio = EmptyString(text(cdsParamVend, "DTINITESCONS"));
    const double inicio = semInicio ? toDateTime(QDate(1899, 1, 1))
                                    : cdsParamVend->FieldByName(QStringLiteral("DTINITESCONS"))->AsDateTime();
    Verifica_Venda_Anterior(Filtro.dtInicial, Filtro.dtFinal, inicio);
  }
  Verifica_Valor();
  if (msgPadrao->ShowMsg(QStringLiteral("Conf"), MsgDlgType::Confirmation, mbYes | mbNo, 0) != mrYes) Abort();
  if (text(cdsParamFilial, "IDCTRLESTQ") != QLatin1String("S"))
    MensErro(msgPadrao->Msg(QStringLiteral("N_CTRL_ESTOQ")), true);
  consolidar();
}

// Whatever happens once the server is asked, the list is reloaded afterwards.
void TfrmGeraNF::consolidar() {
  try {
    consolidarProtegido();
  } catch (...) {
    sbtVerificarClick();
    throw;
  }
  sbtVerificarClick();
}

SemGeraNFReply TfrmGeraNF::chamarSemGeraNF(bool verificaEstoque) {
  // the second call's lists are not looked at: they must not replace the first reply's
  TDataSet erros(nullptr, QStringLiteral("cdsErroConsolida2")), bloqueados(nullptr, QStringLiteral("cdsProdBloq2"));
  return rdm_.SemGeraNF(FiliProc(), medFilial->text(), medCdLoja->text(), Filtro, medTipoReti->text(), medSetor->text(),
                        Operador(), verificaEstoque, verificaEstoque ? *cdsErroConsolida : erros,
                        verificaEstoque ? *cdsProdBloq : bloqueados);
}

void TfrmGeraNF::consolidarProtegido() {
  BusyAnimation busy(this, kBusyAnimation, msgPadrao->Msg(QStringLiteral("ConsolidaVenda")));
  try {
    repaint();
    if (!cdsErroConsolida->IsEmpty()) cdsErroConsolida->EmptyDataSet();
    if (!cdsProdBloq->IsEmpty()) cdsProdBloq->EmptyDataSet();
    SemGeraNFReply reply = chamarSemGeraNF(true);
    busy.close();

    if (mostrarProdutosBloqueados()) MensErro(msgPadrao->Msg(QStringLiteral("CONS_BLOQ")), true);
    if (!cdsErroConsolida->IsEmpty()) {
      cdsErroConsolida->First();
      if (text(cdsParamFilial, "IDPERMESTNEG") == QLatin1String("S"))
        reply = tratarEstoqueNegativoPermitido(reply);
      else
        tratarEstoqueNegativoNaoPermitido(reply);
    }
    mensagemFinal(reply);
  } catch (const EHostError& e) {
    busy.close();
    if (!tratarRecusa(e.message())) throw;
  } catch (...) {
    busy.close();
    throw;
  }
}

// Blocked products stop the run; the error list is then never looked at.
bool TfrmGeraNF::mostrarProdutosBloqueados() {
  if (cdsProdBloq->IsEmpty()) return false;
  if (cdsBloqConsolida->Active())
    cdsBloqConsolida->EmptyDataSet();
  else
    cdsBloqConsolida->CreateDataSet();
  for (cdsProdBloq->First(); !cdsProdBloq->Eof(); cdsProdBloq->Next()) {
    cdsBloqConsolida->Append();
    cdsBloqConsolida->FieldByName(QStringLiteral("CdObjeto"))->SetAsString(medFilial->text());
    cdsBloqConsolida->FieldByName(QStringLiteral("CdObjeto2"))
        ->SetAsString(text(cdsProdBloq, "CDPRODUTO") + QLatin1Char(' ') + text(cdsProdBloq, "NMPRODUTO"));
    cdsBloqConsolida->Post();
  }
  if (!cdsBloqConsolida->IsEmpty()) CriaBloqConsolida(this);
  return true;
}

// Negative stock permitted: ask when the branch wants it, then one second call
// with the stock check off. The outcome is the second reply's: the first one
// reports that nothing was posted.
SemGeraNFReply TfrmGeraNF::tratarEstoqueNegativoPermitido(const SemGeraNFReply& primeira) {
  if (text(cdsParamFilial, "IDMENSESTNEG") == QLatin1String("S")) {
    const QString pergunta = msgPadrao->Msg(QStringLiteral("Irreg_Prod_Est"));
    if (MessageDlg(pergunta, MsgDlgType::Information, mbYes | mbNo, 0) != mrYes) Abort();
  }
  BusyAnimation busy(this, kBusyAnimation, msgPadrao->Msg(QStringLiteral("ConsolidaVenda")));
  repaint();
  std::optional<SemGeraNFReply> segunda;
  for (; !cdsErroConsolida->Eof(); cdsErroConsolida->Next()) {
    if (text(cdsErroConsolida, "CDERRO") != kEstoqueIrregular) continue;
    segunda = chamarSemGeraNF(false);
    break;
  }
  busy.close();
  return segunda.value_or(primeira);
}

void TfrmGeraNF::tratarEstoqueNegativoNaoPermitido(const SemGeraNFReply& primeira) {
  if (!cdsIrregEst->IsEmpty()) cdsIrregEst->EmptyDataSet();
  const bool central = text(cdsParamVend, "IDUTILESTCENT") == QLatin1String("S");
  const QString filialEstoque = central ? text(cdsParamVend, "CDFILIESTCENT") : medFilial->text();
  for (cdsErroConsolida->First(); !cdsErroConsolida->Eof(); cdsErroConsolida->Next()) {
    if (text(cdsErroConsolida, "CDERRO") != kEstoqueIrregular) continue;
    if (!cdsIrregEst->Active()) cdsIrregEst->CreateDataSet();
    cdsIrregEst->Append();
    cdsIrregEst->FieldByName(QStringLiteral("CdErro"))->SetAsString(kEstoqueIrregular);
    cdsIrregEst->FieldByName(QStringLiteral("CdObjeto"))->SetAsString(filialEstoque);
    cdsIrregEst->FieldByName(QStringLiteral("CdObjeto2"))->SetAsString(text(cdsErroConsolida, "CDOBJETO2"));
    cdsIrregEst->FieldByName(QStringLiteral("CdObjeto3"))->SetAsString(text(cdsErroConsolida, "CDOBJETO3"));
    cdsIrregEst->FieldByName(QStringLiteral("CdObjeto5"))
        ->SetAsFloat(cdsErroConsolida->FieldByName(QStringLiteral("CDOBJETO5"))->AsFloat());
    cdsIrregEst->FieldByName(QStringLiteral("CdObjeto4"))->SetAsString(text(cdsErroConsolida, "CDOBJETO4"));
    cdsIrregEst->Post();
  }
  if (cdsIrregEst->Active() && !cdsIrregEst->IsEmpty()) CriaLancIrreg(QString::number(primeira.lancamento), this);
  if (text(cdsParamVend, "IDPERCONVESTNEG") == QLatin1String("N"))
    MensErro(msgPadrao->Msg(QStringLiteral("OPERA_BLOQ")), true);
}

void TfrmGeraNF::mensagemFinal(const SemGeraNFReply& reply) {
  QString mensagem;
  if (reply.lancamento == 0)
    mensagem = msgPadrao->Msg(QStringLiteral("NF_OK_ZERO"));
  else if (reply.chave.isEmpty())
    mensagem = msgPadrao->Msg(QStringLiteral("GERACAO_OK"));
  else
    mensagem = msgPadrao->Msg(reply.chave);
  MessageDlg(mensagem, MsgDlgType::Information, mbOK, 0);
}

// The server's refusals get the screen's own texts; false for anything else,
// which goes on unchanged.
bool TfrmGeraNF::tratarRecusa(const QString& chave) {
  static const QStringList simples = {QStringLiteral("Data_Mai"), QStringLiteral("Data_Men"), QStringLiteral("Data_M"),
                                      QStringLiteral("N_CTRL_ESTOQ")};
  if (simples.contains(chave)) MensErro(msgPadrao->Msg(chave), true);
  if (chave == QLatin1String("Lanc_Bloq_Impl")) MensErro(msgPadrao->Msg(QStringLiteral("LANC_BLOQ_IMPL")), true);
  if (chave == QLatin1String("Prod_NRelacReti")) {
    MessageDlg(msgPadrao->Msg(chave), MsgDlgType::Error, mbOK, 0);
    CriaRelProdEvol(chave);  // on the report of the products behind the refusal
    return true;
  }
  return false;
}

}  // namespace qfx
