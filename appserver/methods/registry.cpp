// The method table of "Qfx31700.rdmGeraNF": names, argument kinds in order,
// which arguments name a branch (checked against the operator's binding), and
// the reads by key (a branch's parameters, a register-day's sum and Z
// reduction: one indexed lookup each).
#include "methods/methods.h"

namespace qfx::server {

namespace {

constexpr ArgKind T = ArgKind::Text;
constexpr ArgKind D = ArgKind::Date;
constexpr ArgKind B = ArgKind::Boolean;

}  // namespace

Dispatcher makeConsolidationObject() {
  using namespace methods;
  Dispatcher d;
  constexpr bool keyRead = true;
  d.add({"GetParamFilial", {T}, {1}, getParamFilial, keyRead});
  d.add({"GetParamVend", {T}, {1}, getParamVend});
  d.add({"getTipoReti", {T, T}, {}, getTipoReti});
  d.add({"getSetor", {T, T}, {}, getSetor});
  d.add({"GetPrincipal", {T, D, D, T, T, T, T, T, B, T, B, T, B, B, T, T, T, T, B, T, B}, {1}, getPrincipal});
  d.add({"getPeriodoCTBOK", {T, D, D}, {1}, getPeriodoCTBOK});
  d.add({"Verifica_Venda_Anterior", {T, D, D, D, T, T, T, T}, {1}, verificaVendaAnterior});
  d.add({"GetVerifVenda", {T, D, D, T, T, T, T, T, B, T, B, T}, {1}, getVerifVenda});
  d.add({"GetSoma", {T, T, T, D, T, T, B, T, T}, {1}, getSoma, keyRead});
  d.add({"GetReducaoZ", {T, T, D}, {1}, getReducaoZ, keyRead});
  d.add({"SemGeraNF", {T, T, T, T, T, D, D, T, B, T, B, B, T, T, T, B, T, T, T, T, B, T, B, B}, {1, 2}, semGeraNF});
  d.add({"GetVendas", {T, T, D, D, B, T}, {1}, getVendas});
  d.add({"GetProdutos", {T, T, D, D, T, T, T, T}, {1}, getProdutos});
  return d;
}

}  // namespace qfx::server
