#include "rdmgeranf.h"

#include "abort.h"
#include "contract_methods.h"

namespace qfx {

const std::array<QString, 2> stFilBool = {QStringLiteral("N"), QStringLiteral("S")};

using hostkit::EServerError;
using hostkit::RemoteArg;
using hostkit::RemoteValue;
using hostkit::TDataSet;

hostkit::RemoteValue CheckResultServ(const hostkit::CallOutcome& reply, bool, int) {
  if (!reply.ok()) throw EServerError(reply.error, reply.details);
  return *reply.value;
}

RemoteValue RdmGeraNF::invoke(const char* method, const std::vector<RemoteArg>& args) {
  // a fresh dispatch object for every call
  return CheckResultServ(net_.AppServer().Invoke(QString::fromLatin1(method), args), true, 0);
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

// A call's arguments placed by the contract's position names. Each setter
// checks, when compiling, that its position has its kind; the list is handed
// over only when every position has a value.
template <class Method>
class Call {
 public:
  using Arg = typename Method::Arg;

  static const char* method() { return Method::name.data(); }

  template <Arg P>
  Call& text(const QString& value) {
    static_assert(kindAt(P) == ArgKind::Text);
    return put(P, RemoteArg::Text(value));
  }
  template <Arg P>
  Call& textRef(QString& variable) {
    static_assert(kindAt(P) == ArgKind::Text);
    return put(P, RemoteArg::TextRef(variable));
  }
  template <Arg P>
  Call& date(double value) {
    static_assert(kindAt(P) == ArgKind::Date);
    return put(P, RemoteArg::Date(value));
  }
  template <Arg P>
  Call& dateRef(double& variable) {
    static_assert(kindAt(P) == ArgKind::Date);
    return put(P, RemoteArg::DateRef(variable));
  }
  template <Arg P>
  Call& boolean(bool value) {
    static_assert(kindAt(P) == ArgKind::Boolean);
    return put(P, RemoteArg::Boolean(value));
  }

  // A position left without a value is a fault of this file: the call is
  // not sent and the caller gets the error as from the server.
  std::vector<RemoteArg> args() const {
    if (auto position = list_.missing())
      throw EServerError(QStringLiteral("%1: argumento %2 sem valor").arg(QLatin1String(method())).arg(*position));
    return list_.values();
  }

 private:
  static constexpr ArgKind kindAt(Arg position) { return Method::kinds[contract::argIndex(position)]; }
  Call& put(Arg position, RemoteArg arg) {
    list_.set(position, std::move(arg));
    return *this;
  }
  contract::ArgumentList<Method, RemoteArg> list_;
};

}  // namespace

void RdmGeraNF::GetParamFilial(const QString& filial, TDataSet& cdsParamFilial) {
  using A = contract::GetParamFilial;
  Call<A> c;
  c.text<A::Filial>(filial);
  loadInto(c.method(), c.args(), cdsParamFilial);
}

void RdmGeraNF::GetParamVend(const QString& filial, TDataSet& cdsParamVend) {
  using A = contract::GetParamVend;
  Call<A> c;
  c.text<A::Filial>(filial);
  loadInto(c.method(), c.args(), cdsParamVend);
}

void RdmGeraNF::getTipoReti(const QString& codigo, const QString& todos, TDataSet& cdsTipoReti) {
  using A = contract::getTipoReti;
  Call<A> c;
  c.text<A::Codigo>(codigo).text<A::Todos>(todos);
  loadInto(c.method(), c.args(), cdsTipoReti);
}

void RdmGeraNF::getSetor(const QString& codigo, const QString& todos, TDataSet& cdsSetor) {
  using A = contract::getSetor;
  Call<A> c;
  c.text<A::Codigo>(codigo).text<A::Todos>(todos);
  loadInto(c.method(), c.args(), cdsSetor);
}

namespace {

// The flag letters travel by reference, as the server expects, but bound to
// copies: whatever the server writes back never reaches the module's table.
struct FilterFlags {
  QString todasNF, todasVendas;
  explicit FilterFlags(const TFiltro& f) : todasNF(flagLetter(f.boTodasNF)), todasVendas(flagLetter(f.boTodasVendas)) {}
};

// The arguments GetVerifVenda and GetPrincipal share (the contract checks
// that GetPrincipal starts with GetVerifVenda's).
template <class A>
void putVerification(Call<A>& c, const QString& filial, const QString& loja, TFiltro& f, FilterFlags& flags) {
  c.template text<A::Filial>(filial)
      .template dateRef<A::DtInicial>(f.dtInicial)
      .template dateRef<A::DtFinal>(f.dtFinal)
      .template textRef<A::TodasNF>(flags.todasNF)
      .template textRef<A::TodasNF2>(flags.todasNF)
      .template textRef<A::TodasVendas>(flags.todasVendas)
      .template textRef<A::StVendas>(f.stVendas)
      .template text<A::Loja>(loja)
      .template boolean<A::BoTodosCaixa>(f.boTodosCaixa)
      .template textRef<A::StCaixa>(f.stCaixa)
      .template boolean<A::BoTodosTipoCons>(f.boTodosTipoCons)
      .template textRef<A::StTipoCons>(f.stTipoCons);
}

}  // namespace

void RdmGeraNF::GetPrincipal(const QString& filial, const QString& loja, TFiltro& f, TDataSet& cdsPrincipal) {
  using A = contract::GetPrincipal;
  FilterFlags flags(f);
  Call<A> c;
  putVerification(c, filial, loja, f, flags);
  c.boolean<A::BoTodosCliente>(f.boTodosCliente)
      .boolean<A::BoIntervaloCli>(f.boIntervaloCli)
      .textRef<A::StCliDe>(f.stCliDe)
      .textRef<A::StCliAte>(f.stCliAte)
      .textRef<A::StCliente>(f.stCliente)
      .textRef<A::StCentroCusto>(f.stCentroCusto)
      .boolean<A::BoTodosCentroCusto>(f.boTodosCentroCusto)
      .textRef<A::StProdutos>(f.stProdutos)
      .boolean<A::BoTodosProdutos>(f.boTodosProdutos);
  loadInto(c.method(), c.args(), cdsPrincipal);
}

bool RdmGeraNF::getPeriodoCTBOK(const QString& filial, TFiltro& f) {
  using A = contract::getPeriodoCTBOK;
  Call<A> c;
  c.text<A::Filial>(filial).dateRef<A::DtInicial>(f.dtInicial).dateRef<A::DtFinal>(f.dtFinal);
  const RemoteValue reply = invoke(c.method(), c.args());
  if (!reply.isBoolean())
    throw EServerError(QStringLiteral("Resposta inválida do servidor para getPeriodoCTBOK: era esperado um lógico."));
  return reply.toBoolean();
}

void RdmGeraNF::Verifica_Venda_Anterior(const QString& filial, double& inicio, double& fim, double& inicioConsolidacao,
                                        const QString& idUtilAlmox, const QString& idUtilLcEstq,
                                        const QString& cdAlmoxarife, const QString& cdLocalEstoque) {
  using A = contract::Verifica_Venda_Anterior;
  Call<A> c;
  c.text<A::Filial>(filial)
      .dateRef<A::Inicio>(inicio)
      .dateRef<A::Fim>(fim)
      .dateRef<A::InicioConsolidacao>(inicioConsolidacao)
      .text<A::IdUtilAlmox>(idUtilAlmox)
      .text<A::IdUtilLcEstq>(idUtilLcEstq)
      .text<A::CdAlmoxarife>(cdAlmoxarife)
      .text<A::CdLocalEstoque>(cdLocalEstoque);
  invoke(c.method(), c.args());
}

void RdmGeraNF::GetVerifVenda(const QString& filial, const QString& loja, TFiltro& f, TDataSet& cdsVerifVenda) {
  FilterFlags flags(f);
  Call<contract::GetVerifVenda> c;
  putVerification(c, filial, loja, f, flags);
  loadInto(c.method(), c.args(), cdsVerifVenda);
}

namespace {
// GetSoma's flag letters: sent by reference, bound to copies.
struct SomaFlags {
  QString todasVendas, todasNF;
};

Call<contract::GetSoma> somaCall(const QString& filial, const QString& loja, const QString& caixa, double dia,
                                 TFiltro& f, SomaFlags& flags) {
  using A = contract::GetSoma;
  Call<A> c;
  c.text<A::Filial>(filial)
      .text<A::Loja>(loja)
      .text<A::Caixa>(caixa)
      .date<A::Dia>(dia)
      .textRef<A::TodasVendas>(flags.todasVendas)
      .textRef<A::StVendas>(f.stVendas)
      .boolean<A::BoTodosTipoCons>(f.boTodosTipoCons)
      .textRef<A::StTipoCons>(f.stTipoCons)
      .textRef<A::TodasNF>(flags.todasNF);
  return c;
}

Call<contract::GetReducaoZ> reducaoZCall(const QString& filial, const QString& caixa, double dia) {
  using A = contract::GetReducaoZ;
  Call<A> c;
  c.text<A::Filial>(filial).text<A::Caixa>(caixa).date<A::Dia>(dia);
  return c;
}
}  // namespace

void RdmGeraNF::GetSoma(const QString& filial, const QString& loja, const QString& caixa, double dia, TFiltro& f,
                        TDataSet& cdsSoma) {
  SomaFlags flags{flagLetter(f.boTodasVendas), flagLetter(f.boTodasNF)};
  const auto c = somaCall(filial, loja, caixa, dia, f, flags);
  loadInto(c.method(), c.args(), cdsSoma);
}

void RdmGeraNF::GetReducaoZ(const QString& filial, const QString& caixa, double dia, TDataSet& cdsReducaoZ) {
  const auto c = reducaoZCall(filial, caixa, dia);
  loadInto(c.method(), c.args(), cdsReducaoZ);
}

// The server gives the by-reference values back as it got them, so a
// register-day sent before the previous one's values came back sends what
// the sequential calls would have sent.
PendingLoad RdmGeraNF::StartGetSoma(const QString& filial, const QString& loja, const QString& caixa, double dia,
                                    TFiltro& f) {
  auto flags = std::make_shared<SomaFlags>(SomaFlags{flagLetter(f.boTodasVendas), flagLetter(f.boTodasNF)});
  const auto c = somaCall(filial, loja, caixa, dia, f, *flags);
  auto call = net_.AppServer().Start(QString::fromLatin1(c.method()), c.args());
  return PendingLoad(c.method(), std::move(flags), std::move(call));
}

PendingLoad RdmGeraNF::StartGetReducaoZ(const QString& filial, const QString& caixa, double dia) {
  const auto c = reducaoZCall(filial, caixa, dia);
  return PendingLoad(c.method(), nullptr, net_.AppServer().Start(QString::fromLatin1(c.method()), c.args()));
}

void PendingLoad::LoadInto(TDataSet& ds) { loadPacket(method_, CheckResultServ(call_.Take(), true, 0), ds); }

SemGeraNFReply RdmGeraNF::SemGeraNF(const QString& filiProc, const QString& filial, const QString& loja, TFiltro& f,
                                    const QString& tipoReti, const QString& setor, const QString& operador,
                                    bool verificaEstoque, TDataSet& cdsErroConsolida, TDataSet& cdsProdBloq) {
  using A = contract::SemGeraNF;
  QString todasVendas = flagLetter(f.boTodasVendas);
  Call<A> c;
  c.text<A::FiliProc>(filiProc)
      .text<A::Filial>(filial)
      .text<A::Loja>(loja)
      .textRef<A::TodasVendas>(todasVendas)
      .textRef<A::StVendas>(f.stVendas)
      .dateRef<A::DtInicial>(f.dtInicial)
      .dateRef<A::DtFinal>(f.dtFinal)
      .textRef<A::StCaixa>(f.stCaixa)
      .boolean<A::BoTodosCaixa>(f.boTodosCaixa)
      .textRef<A::StCliente>(f.stCliente)
      .boolean<A::BoTodosCliente>(f.boTodosCliente)
      .boolean<A::BoIntervaloCli>(f.boIntervaloCli)
      .textRef<A::StCliDe>(f.stCliDe)
      .textRef<A::StCliAte>(f.stCliAte)
      .textRef<A::StTipoCons>(f.stTipoCons)
      .boolean<A::BoTodosTipoCons>(f.boTodosTipoCons)
      .text<A::TipoReti>(tipoReti)
      .text<A::Setor>(setor)
      .text<A::Operador>(operador)
      .textRef<A::StCentroCusto>(f.stCentroCusto)
      .boolean<A::BoTodosCentroCusto>(f.boTodosCentroCusto)
      .textRef<A::StProdutos>(f.stProdutos)
      .boolean<A::BoTodosProdutos>(f.boTodosProdutos)
      .boolean<A::VerificaEstoque>(verificaEstoque);
  const RemoteValue reply = invoke(c.method(), c.args());
  const auto& items = reply.list();
  if (!reply.isList() || items.size() < 4)
    throw EServerError(QStringLiteral("Resposta inválida do servidor para SemGeraNF: eram esperados 5 elementos."));
  loadPacket(c.method(), items[0], cdsErroConsolida);
  loadPacket(c.method(), items[2], cdsProdBloq);
  return {items[1].toInteger(), items[3].toText()};
}

void RdmGeraNF::GetVendas(const QString& filial, const QString& loja, double inicio, double fim, bool todosCaixa,
                          QString& stCaixa, TDataSet& cdsVendas) {
  using A = contract::GetVendas;
  Call<A> c;
  c.text<A::Filial>(filial)
      .text<A::Loja>(loja)
      .date<A::Inicio>(inicio)
      .date<A::Fim>(fim)
      .boolean<A::TodosCaixa>(todosCaixa)
      .textRef<A::StCaixa>(stCaixa);
  loadInto(c.method(), c.args(), cdsVendas);
}

void RdmGeraNF::GetProdutos(const QString& filial, const QString& loja, double inicio, double fim, ProdutosSelecao s,
                            TDataSet& cdsProdutos) {
  using A = contract::GetProdutos;
  // references to the local copies: nothing flows back into the filter
  Call<A> c;
  c.text<A::Filial>(filial)
      .text<A::Loja>(loja)
      .date<A::Inicio>(inicio)
      .date<A::Fim>(fim)
      .textRef<A::CaixaLista>(s.caixaLista)
      .textRef<A::CaixaMarca>(s.caixaMarca)
      .textRef<A::VendasLista>(s.vendasLista)
      .textRef<A::VendasMarca>(s.vendasMarca);
  loadInto(c.method(), c.args(), cdsProdutos);
}

}  // namespace qfx
