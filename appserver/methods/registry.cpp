// The method table of "Qfx31700.rdmGeraNF": each method's name and argument
// kinds as the contract declares them, which arguments name a branch (checked
// against the operator's binding), and the reads by key (a branch's
// parameters, a register-day's sum and Z reduction: one indexed lookup each).
#include "methods/methods.h"
#include <proto/contract_methods.h>
#include <proto/contract_refusals.h>

namespace qfx::server {

namespace {

template <class Method>
MethodEntry entry(std::vector<int> branchArguments, Handler handler, bool keyRead = false,
                  std::string branchRefusal = {}) {
  return {std::string(Method::name),
          std::vector<ArgKind>(Method::kinds.begin(), Method::kinds.end()),
          std::move(branchArguments),
          std::move(handler),
          keyRead,
          std::move(branchRefusal)};
}

MethodEntry streaming(MethodEntry method) {
  method.streams = true;
  return method;
}

}  // namespace

Dispatcher makeConsolidationObject() {
  using namespace contract;
  using namespace methods;
  Dispatcher d;
  constexpr bool keyRead = true;
  d.add(entry<GetParamFilial>({GetParamFilial::Filial}, getParamFilial, keyRead));
  d.add(entry<GetParamVend>({GetParamVend::Filial}, getParamVend));
  d.add(entry<contract::getTipoReti>({}, methods::getTipoReti));
  d.add(entry<contract::getSetor>({}, methods::getSetor));
  // the list may hold a million items: its rows leave while the query yields them
  d.add(streaming(entry<GetPrincipal>({GetPrincipal::Filial}, getPrincipal)));
  d.add(entry<contract::getPeriodoCTBOK>({contract::getPeriodoCTBOK::Filial}, methods::getPeriodoCTBOK));
  d.add(entry<Verifica_Venda_Anterior>({Verifica_Venda_Anterior::Filial}, verificaVendaAnterior));
  d.add(entry<GetVerifVenda>({GetVerifVenda::Filial}, getVerifVenda));
  d.add(entry<GetSoma>({GetSoma::Filial}, getSoma, keyRead));
  d.add(entry<GetReducaoZ>({GetReducaoZ::Filial}, getReducaoZ, keyRead));
  d.add(entry<SemGeraNF>({SemGeraNF::FiliProc, SemGeraNF::Filial}, semGeraNF));
  d.add(entry<GetVendas>({GetVendas::Filial}, getVendas));
  d.add(entry<GetProdutos>({GetProdutos::Filial}, getProdutos));
  // the posting's stock branch may be a central one outside the binding: the
  // reversal checks that the posting consolidated the branch named
  d.add(entry<EstornaGeraNF>({EstornaGeraNF::FiliProc, EstornaGeraNF::Filial}, estornaGeraNF, false,
                             std::string(contract::refusals::reversal::kOutsideBinding)));
  d.add(entry<GetConsolidacoes>({GetConsolidacoes::Filial}, getConsolidacoes));
  return d;
}

}  // namespace qfx::server
