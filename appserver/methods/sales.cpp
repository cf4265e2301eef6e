// The sales list and the pickers' lists: each method's arguments as a filter
// of the sale selection.
#include "domain/sale_lists.h"
#include "domain/selection.h"
#include "methods/methods.h"
#include <proto/contract_methods.h>

namespace qfx::server::methods {

namespace {

// GetVerifVenda's arguments: GetPrincipal's first twelve, under the same
// names.
SaleFilter verificationFilter(const Arguments& a) {
  using A = contract::GetVerifVenda;
  SaleFilter f;
  f.branch = a.qtext(A::Filial);
  f.first = a.day(A::DtInicial);
  f.last = a.day(A::DtFinal);
  f.pendingOnly = !a.isYes(A::TodasNF);  // TodasNF2 repeats the same letter
  f.sales = restriction(a.isYes(A::TodasVendas), a.text(A::StVendas));
  f.store = a.qtext(A::Loja);
  f.cashRegisters = restriction(a.boolean(A::BoTodosCaixa), a.text(A::StCaixa));
  f.consumptionTypes = restriction(a.boolean(A::BoTodosTipoCons), a.text(A::StTipoCons));
  return f;
}

// GetPrincipal: the verification arguments, then customers, cost centres and products.
SaleFilter principalFilter(const Arguments& a) {
  using A = contract::GetPrincipal;
  SaleFilter f = verificationFilter(a);
  restrictCustomers(f, a.boolean(A::BoTodosCliente), a.boolean(A::BoIntervaloCli), a.qtext(A::StCliDe),
                    a.qtext(A::StCliAte), a.text(A::StCliente));
  f.costCentres = restriction(a.boolean(A::BoTodosCentroCusto), a.text(A::StCentroCusto));
  f.products = restriction(a.boolean(A::BoTodosProdutos), a.text(A::StProdutos));
  return f;
}

// GetVendas and GetProdutos: branch, store and period first.
SaleFilter periodFilter(const Arguments& a) {
  using A = contract::GetVendas;
  using B = contract::GetProdutos;
  static_assert(int(A::Filial) == int(B::Filial) && int(A::Loja) == int(B::Loja) && int(A::Inicio) == int(B::Inicio) &&
                int(A::Fim) == int(B::Fim));
  SaleFilter f;
  f.branch = a.qtext(A::Filial);
  f.store = a.qtext(A::Loja);
  f.first = a.day(A::Inicio);
  f.last = a.day(A::Fim);
  f.pendingOnly = false;
  return f;
}

}  // namespace

Result<Reply> getPrincipal(CallContext& call, const Arguments& args) {
  if (!call.sink) return packetReply(principalRows(call.db, principalFilter(args)));
  return streamPacket(*call.sink, principalFields(), [&](packet::ChunkStreamer& out) {
    return principalRowsInto(call.db, principalFilter(args), out);
  });
}

// TodasNF (posted items too) only shapes the list: the check asks the days
// with work left.
Result<Reply> getVerifVenda(CallContext& call, const Arguments& args) {
  return packetReply(registerDaysWithWork(call.db, verificationFilter(args)));
}

Result<Reply> getVendas(CallContext& call, const Arguments& args) {
  using A = contract::GetVendas;
  SaleFilter f = periodFilter(args);
  f.cashRegisters = restriction(args.boolean(A::TodosCaixa), args.text(A::StCaixa));
  return packetReply(salesOfPeriod(call.db, f));
}

Result<Reply> getProdutos(CallContext& call, const Arguments& args) {
  using A = contract::GetProdutos;
  SaleFilter f = periodFilter(args);
  f.cashRegisters = restriction(args.isAllFlag(A::CaixaMarca), args.text(A::CaixaLista));
  f.sales = restriction(args.isAllFlag(A::VendasMarca), args.text(A::VendasLista));
  return packetReply(productsSold(call.db, f));
}

}  // namespace qfx::server::methods
