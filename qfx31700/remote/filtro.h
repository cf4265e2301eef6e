// The filter record: the operator's restriction of the sales the
// consolidation screen lists, checks and consolidates.
#pragma once

#include <QString>

namespace qfx {

struct TFiltro {
  QString stFilial;            // branch the filter was made for
  double dtInicial = 0;        // first day of the period (days since 1899-12-30)
  double dtFinal = 0;          // last day, inclusive
  bool boTodasNF = false;      // true: consolidated items too; false: pending only
  bool boAgrupaNF = false;     // group items for the consolidation
  bool boTodasVendas = false;  // true: all sales; false: those in stVendas
  QString stVendas;            // list text of sale keys (CDFILIAL||NRSEQVENDA)
  bool boTodosCaixa = false;
  QString stCaixa;     // list text of register keys (CDFILIAL||CDCAIXA)
  QString stTipoCons;  // list text of consumption-type codes
  bool boTodosTipoCons = false;
  QString stCliente;  // list text of customer codes
  bool boTodosCliente = false;
  bool boIntervaloCli = false;  // customers by the company-name interval
  QString stCliDe;
  QString stCliAte;
  QString stCentroCusto;  // list text of cost-centre keys (CDCLIENTE||CDCCUSCLIE)
  bool boTodosCentroCusto = false;
  QString stProdutos;  // list text of product codes
  bool boTodosProdutos = false;

  bool operator==(const TFiltro&) const = default;
};

// The module-wide filter: lives from the module's load to its unload.
extern TFiltro Filtro;

}  // namespace qfx
