#include "rdmgeranf.h"

#include <hostkit/core/abort.h>
#include <hostkit/core/hostservices.h>
#include <proto/contract_methods.h>

namespace qfx {

const std::array<QString, 2> stFilBool = {QStringLiteral("N"), QStringLiteral("S")};

using hostkit::EServerError;
using hostkit::RemoteArg;
using hostkit::RemoteValue;
using hostkit::TDataSet;

void configureServerConnection(hostkit::TNetConnection& net) {
  net.BeforeConnect = [](hostkit::TNetConnection& connection) {
    connection.Host = hostkit::WebURL();
    connection.Port = hostkit::WebPort();
    const hostkit::ServerAddress address = hostkit::hostServices().serverAddress();
    connection.Alternates = address.alternates;
    connection.UseTLS = address.tls;
    connection.CaFile = address.caFile;
    connection.CallTimeoutMs = address.callTimeoutMs;
    connection.SessionToken = hostkit::hostServices().sessionToken();
  };
}

hostkit::RemoteValue CheckResultServ(const hostkit::CallOutcome& reply) {
  if (reply.unanswered) throw EServerError::Unanswered(reply.error, reply.details);
  if (!reply.ok()) throw EServerError(reply.error, reply.details);
  return *reply.value;
}

namespace {
// Every method but SemGeraNF only reads: a server lost under it, the call
// goes again to the next one.
const hostkit::CallOptions kRead{{}, true};
}  // namespace

RemoteValue RdmGeraNF::invoke(const char* method, const std::vector<RemoteArg>& args) {
  // a fresh dispatch object for every call
  return CheckResultServ(net_.AppServer().Invoke(QString::fromLatin1(method), args, kRead));
}

static void loadPacket(const char* method, const RemoteValue& value, TDataSet& ds) {
  if (!value.isPacket())
    throw EServerError(QStringLiteral("Resposta inválida do servidor para %1: era esperado um pacote de dados.")
                           .arg(QString::fromLatin1(method)));
  ds.SetData(value.takePacket());
}

void RdmGeraNF::loadInto(const char* method, const std::vector<RemoteArg>& args, TDataSet& ds) {
  loadPacket(method, invoke(method, args), ds);
}

namespace {

using contract::ArgKind;

// An argument for the position P of some method. Made by text<P>(...) and
// its siblings, which check when compiling that P has that kind.
template <class Position>
struct Placed {
  Position position;
  RemoteArg arg;
};

template <auto P, ArgKind K>
Placed<decltype(P)> placed(RemoteArg arg) {
  static_assert(kindAt(P) == K, "the contract declares another kind at this position");
  return {P, std::move(arg)};
}
template <auto P>
Placed<decltype(P)> text(const QString& value) {
  return placed<P, ArgKind::Text>(RemoteArg::Text(value));
}
template <auto P>
Placed<decltype(P)> textRef(QString& variable) {
  return placed<P, ArgKind::Text>(RemoteArg::TextRef(variable));
}
template <auto P>
Placed<decltype(P)> date(double value) {
  return placed<P, ArgKind::Date>(RemoteArg::Date(value));
}
template <auto P>
Placed<decltype(P)> dateRef(double& variable) {
  return placed<P, ArgKind::Date>(RemoteArg::DateRef(variable));
}
template <auto P>
Placed<decltype(P)> boolean(bool value) {
  return placed<P, ArgKind::Boolean>(RemoteArg::Boolean(value));
}

// A call's arguments, each at the position the contract names. A position
// outside the method's list or left without a value is a fault of this file:
// the call is not sent and the caller gets the error as from the server.
template <class Method>
class Call {
 public:
  using Argument = Placed<typename Method::Arg>;

  Call(std::initializer_list<Argument> arguments) { add(arguments); }
  Call& add(std::initializer_list<Argument> arguments) {
    for (const Argument& a : arguments) {
      if (contract::argIndex(a.position) >= Method::kinds.size()) return fault(a.position, "não existe");
      list_.set(a.position, a.arg);
    }
    return *this;
  }

  static const char* method() { return Method::name.data(); }
  std::vector<RemoteArg> args() const {
    if (faultText_) throw EServerError(*faultText_);
    if (auto position = list_.missing()) throw EServerError(faultOf(*position, "sem valor"));
    return list_.values();
  }

 private:
  static QString faultOf(int position, const char* what) {
    return QStringLiteral("%1: argumento %2 %3").arg(QLatin1String(method())).arg(position).arg(QLatin1String(what));
  }
  Call& fault(int position, const char* what) {
    if (!faultText_) faultText_ = faultOf(position, what);
    return *this;
  }
  contract::ArgumentList<Method, RemoteArg> list_;
  std::optional<QString> faultText_;
};

}  // namespace

void RdmGeraNF::GetParamFilial(const QString& filial, TDataSet& cdsParamFilial) {
  using A = contract::GetParamFilial;
  loadInto(Call<A>{text<A::Filial>(filial)}, cdsParamFilial);
}

void RdmGeraNF::GetParamVend(const QString& filial, TDataSet& cdsParamVend) {
  using A = contract::GetParamVend;
  loadInto(Call<A>{text<A::Filial>(filial)}, cdsParamVend);
}

void RdmGeraNF::getTipoReti(const QString& codigo, const QString& todos, TDataSet& cdsTipoReti) {
  using A = contract::getTipoReti;
  loadInto(Call<A>{text<A::Codigo>(codigo), text<A::Todos>(todos)}, cdsTipoReti);
}

void RdmGeraNF::getSetor(const QString& codigo, const QString& todos, TDataSet& cdsSetor) {
  using A = contract::getSetor;
  loadInto(Call<A>{text<A::Codigo>(codigo), text<A::Todos>(todos)}, cdsSetor);
}

namespace {

// The flag letters travel by reference, as the server expects, but bound to
// copies: whatever the server writes back never reaches the module's table.
struct FilterFlags {
  QString todasNF, todasVendas;
  explicit FilterFlags(const TFiltro& f) : todasNF(flagLetter(f.boTodasNF)), todasVendas(flagLetter(f.boTodasVendas)) {}
};

// GetVerifVenda's arguments, with which GetPrincipal's start.
template <class A>
Call<A> verificationCall(const QString& filial, const QString& loja, TFiltro& f, FilterFlags& flags) {
  using P = contract::GetPrincipal;
  return {text<P::Filial>(filial),
          dateRef<P::DtInicial>(f.dtInicial),
          dateRef<P::DtFinal>(f.dtFinal),
          textRef<P::TodasNF>(flags.todasNF),
          textRef<P::TodasNF2>(flags.todasNF),
          textRef<P::TodasVendas>(flags.todasVendas),
          textRef<P::StVendas>(f.stVendas),
          text<P::Loja>(loja),
          boolean<P::BoTodosCaixa>(f.boTodosCaixa),
          textRef<P::StCaixa>(f.stCaixa),
          boolean<P::BoTodosTipoCons>(f.boTodosTipoCons),
          textRef<P::StTipoCons>(f.stTipoCons)};
}

}  // namespace

void RdmGeraNF::GetPrincipal(const QString& filial, const QString& loja, TFiltro& f, TDataSet& cdsPrincipal) {
  using A = contract::GetPrincipal;
  FilterFlags flags(f);
  auto call = verificationCall<A>(filial, loja, f, flags);
  call.add({boolean<A::BoTodosCliente>(f.boTodosCliente), boolean<A::BoIntervaloCli>(f.boIntervaloCli),
            textRef<A::StCliDe>(f.stCliDe), textRef<A::StCliAte>(f.stCliAte), textRef<A::StCliente>(f.stCliente),
            textRef<A::StCentroCusto>(f.stCentroCusto), boolean<A::BoTodosCentroCusto>(f.boTodosCentroCusto),
            textRef<A::StProdutos>(f.stProdutos), boolean<A::BoTodosProdutos>(f.boTodosProdutos)});
  loadInto(call, cdsPrincipal);
}

bool RdmGeraNF::getPeriodoCTBOK(const QString& filial, TFiltro& f) {
  using A = contract::getPeriodoCTBOK;
  const Call<A> call{text<A::Filial>(filial), dateRef<A::DtInicial>(f.dtInicial), dateRef<A::DtFinal>(f.dtFinal)};
  const RemoteValue reply = invoke(call.method(), call.args());
  if (!reply.isBoolean())
    throw EServerError(QStringLiteral("Resposta inválida do servidor para getPeriodoCTBOK: era esperado um lógico."));
  return reply.toBoolean();
}

void RdmGeraNF::Verifica_Venda_Anterior(const QString& filial, double& inicio, double& fim, double& inicioConsolidacao,
                                        const QString& idUtilAlmox, const QString& idUtilLcEstq,
                                        const QString& cdAlmoxarife, const QString& cdLocalEstoque) {
  using A = contract::Verifica_Venda_Anterior;
  const Call<A> call{text<A::Filial>(filial),
                     dateRef<A::Inicio>(inicio),
                     dateRef<A::Fim>(fim),
                     dateRef<A::InicioConsolidacao>(inicioConsolidacao),
                     text<A::IdUtilAlmox>(idUtilAlmox),
                     text<A::IdUtilLcEstq>(idUtilLcEstq),
                     text<A::CdAlmoxarife>(cdAlmoxarife),
                     text<A::CdLocalEstoque>(cdLocalEstoque)};
  invoke(call.method(), call.args());
}

void RdmGeraNF::GetVerifVenda(const QString& filial, const QString& loja, TFiltro& f, TDataSet& cdsVerifVenda) {
  FilterFlags flags(f);
  loadInto(verificationCall<contract::GetVerifVenda>(filial, loja, f, flags), cdsVerifVenda);
}

namespace {
// GetSoma's flag letters: sent by reference, bound to copies.
struct SomaFlags {
  QString todasVendas, todasNF;
};

Call<contract::GetSoma> somaCall(const QString& filial, const QString& loja, const QString& caixa, double dia,
                                 TFiltro& f, SomaFlags& flags) {
  using A = contract::GetSoma;
  return {text<A::Filial>(filial),
          text<A::Loja>(loja),
          text<A::Caixa>(caixa),
          date<A::Dia>(dia),
          textRef<A::TodasVendas>(flags.todasVendas),
          textRef<A::StVendas>(f.stVendas),
          boolean<A::BoTodosTipoCons>(f.boTodosTipoCons),
          textRef<A::StTipoCons>(f.stTipoCons),
          textRef<A::TodasNF>(flags.todasNF)};
}

Call<contract::GetReducaoZ> reducaoZCall(const QString& filial, const QString& caixa, double dia) {
  using A = contract::GetReducaoZ;
  return {text<A::Filial>(filial), text<A::Caixa>(caixa), date<A::Dia>(dia)};
}
}  // namespace

void RdmGeraNF::GetSoma(const QString& filial, const QString& loja, const QString& caixa, double dia, TFiltro& f,
                        TDataSet& cdsSoma) {
  SomaFlags flags{flagLetter(f.boTodasVendas), flagLetter(f.boTodasNF)};
  loadInto(somaCall(filial, loja, caixa, dia, f, flags), cdsSoma);
}

void RdmGeraNF::GetReducaoZ(const QString& filial, const QString& caixa, double dia, TDataSet& cdsReducaoZ) {
  loadInto(reducaoZCall(filial, caixa, dia), cdsReducaoZ);
}

// The server gives the by-reference values back as it got them, so a
// register-day sent before the previous one's values came back sends what
// the sequential calls would have sent.
PendingLoad RdmGeraNF::StartGetSoma(const QString& filial, const QString& loja, const QString& caixa, double dia,
                                    TFiltro& f) {
  auto flags = std::make_shared<SomaFlags>(SomaFlags{flagLetter(f.boTodasVendas), flagLetter(f.boTodasNF)});
  const auto call = somaCall(filial, loja, caixa, dia, f, *flags);
  auto pending = net_.AppServer().Start(QString::fromLatin1(call.method()), call.args(), kRead);
  return PendingLoad(call.method(), std::move(flags), std::move(pending));
}

PendingLoad RdmGeraNF::StartGetReducaoZ(const QString& filial, const QString& caixa, double dia) {
  const auto call = reducaoZCall(filial, caixa, dia);
  return PendingLoad(call.method(), nullptr,
                     net_.AppServer().Start(QString::fromLatin1(call.method()), call.args(), kRead));
}

void PendingLoad::LoadInto(TDataSet& ds) { loadPacket(method_, CheckResultServ(call_.Take()), ds); }

SemGeraNFReply RdmGeraNF::SemGeraNF(const QString& filiProc, const QString& filial, const QString& loja, TFiltro& f,
                                    const QString& tipoReti, const QString& setor, const QString& operador,
                                    bool verificaEstoque, const QString& execucao, TDataSet& cdsErroConsolida,
                                    TDataSet& cdsProdBloq) {
  using A = contract::SemGeraNF;
  QString todasVendas = flagLetter(f.boTodasVendas);
  const Call<A> call{text<A::FiliProc>(filiProc),
                     text<A::Filial>(filial),
                     text<A::Loja>(loja),
                     textRef<A::TodasVendas>(todasVendas),
                     textRef<A::StVendas>(f.stVendas),
                     dateRef<A::DtInicial>(f.dtInicial),
                     dateRef<A::DtFinal>(f.dtFinal),
                     textRef<A::StCaixa>(f.stCaixa),
                     boolean<A::BoTodosCaixa>(f.boTodosCaixa),
                     textRef<A::StCliente>(f.stCliente),
                     boolean<A::BoTodosCliente>(f.boTodosCliente),
                     boolean<A::BoIntervaloCli>(f.boIntervaloCli),
                     textRef<A::StCliDe>(f.stCliDe),
                     textRef<A::StCliAte>(f.stCliAte),
                     textRef<A::StTipoCons>(f.stTipoCons),
                     boolean<A::BoTodosTipoCons>(f.boTodosTipoCons),
                     text<A::TipoReti>(tipoReti),
                     text<A::Setor>(setor),
                     text<A::Operador>(operador),
                     textRef<A::StCentroCusto>(f.stCentroCusto),
                     boolean<A::BoTodosCentroCusto>(f.boTodosCentroCusto),
                     textRef<A::StProdutos>(f.stProdutos),
                     boolean<A::BoTodosProdutos>(f.boTodosProdutos),
                     boolean<A::VerificaEstoque>(verificaEstoque)};
  // under its run identifier the posting may go again: the server answers a
  // run it has done with that run's outcome
  const hostkit::CallOutcome outcome =
      net_.AppServer().Invoke(QString::fromLatin1(call.method()), call.args(), hostkit::CallOptions{execucao, true});
  const RemoteValue reply = CheckResultServ(outcome);
  const auto& items = reply.list();
  if (!reply.isList() || items.size() < 4)
    throw EServerError(QStringLiteral("Resposta inválida do servidor para SemGeraNF: eram esperados 5 elementos."));
  loadPacket(call.method(), items[0], cdsErroConsolida);
  loadPacket(call.method(), items[2], cdsProdBloq);
  return {items[1].toInteger(), items[3].toText(), outcome.details};
}

void RdmGeraNF::GetVendas(const QString& filial, const QString& loja, double inicio, double fim, bool todosCaixa,
                          QString& stCaixa, TDataSet& cdsVendas) {
  using A = contract::GetVendas;
  loadInto(Call<A>{text<A::Filial>(filial), text<A::Loja>(loja), date<A::Inicio>(inicio), date<A::Fim>(fim),
                   boolean<A::TodosCaixa>(todosCaixa), textRef<A::StCaixa>(stCaixa)},
           cdsVendas);
}

void RdmGeraNF::GetProdutos(const QString& filial, const QString& loja, double inicio, double fim, ProdutosSelecao s,
                            TDataSet& cdsProdutos) {
  using A = contract::GetProdutos;
  // references to the local copies: nothing flows back into the filter
  loadInto(Call<A>{text<A::Filial>(filial), text<A::Loja>(loja), date<A::Inicio>(inicio), date<A::Fim>(fim),
                   textRef<A::CaixaLista>(s.caixaLista), textRef<A::CaixaMarca>(s.caixaMarca),
                   textRef<A::VendasLista>(s.vendasLista), textRef<A::VendasMarca>(s.vendasMarca)},
           cdsProdutos);
}

void RdmGeraNF::GetConsolidacoes(const QString& filial, double inicio, double fim, TDataSet& cdsConsolidacoes) {
  using A = contract::GetConsolidacoes;
  loadInto(Call<A>{text<A::Filial>(filial), date<A::DtInicial>(inicio), date<A::DtFinal>(fim)}, cdsConsolidacoes);
}

EstornaGeraNFReply RdmGeraNF::EstornaGeraNF(const QString& filiProc, const QString& filial, const QString& filialEst,
                                            const QString& nrLancEstq, const QString& motivo, const QString& operador) {
  using A = contract::EstornaGeraNF;
  const Call<A> call{text<A::FiliProc>(filiProc),     text<A::Filial>(filial), text<A::FilialEst>(filialEst),
                     text<A::NrLancEstq>(nrLancEstq), text<A::Motivo>(motivo), text<A::Operador>(operador)};
  const RemoteValue reply = invoke(call.method(), call.args());
  const auto& items = reply.list();
  if (!reply.isList() || items.size() < 2 || !items[0].isText())
    throw EServerError(QStringLiteral("Resposta inválida do servidor para EstornaGeraNF: eram esperados 2 elementos."));
  return {items[0].toText(), items[1].toInteger()};
}

}  // namespace qfx
