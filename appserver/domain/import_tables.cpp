#include "domain/import_tables.h"

#include <cstring>

namespace qfx::server::importing {

namespace {

using T = ColumnType;

Column key(const char* name, int size) { return {name, T::Text, size, true, true, nullptr}; }
Column text(const char* name, int size, bool required = false) {
  return {name, T::Text, size, required, false, nullptr};
}
Column flag(const char* name, const char* fallback = nullptr) { return {name, T::Text, 1, false, false, fallback}; }
Column day(const char* name, bool required = false) { return {name, T::Day, 0, required, false, nullptr}; }
Column dayKey(const char* name) { return {name, T::Day, 0, true, true, nullptr}; }
Column number(const char* name, bool required = false) { return {name, T::Number, 0, required, false, nullptr}; }

Reference branch() { return {"FILIAL", {"CDFILIAL"}, {"CDFILIAL"}, "filial"}; }
Reference product(const char* column = "CDPRODUTO") { return {"PRODUTO", {column}, {"CDPRODUTO"}, "produto"}; }

// A sales file (one line per item) and an NFC-e share the sale's columns;
// an NFC-e also keeps its access key.
Kind salesKind(const char* name, bool withAccessKey) {
  Kind kind = {name,
               "VENDA",
               {key("CDFILIAL", 4),
                key("NRSEQVENDA", 10),
                text("CDLOJA", 10, true),
                text("CDCAIXA", 3, true),
                day("DTVENDA", true),
                {"DTENTRVENDA", T::Moment, 0, false, false, nullptr},
                text("NRCUPOMFIS", 10),
                text("CDCLIENTE", 21),
                text("CDCCUSCLIE", 10),
                text("CDTIPOCONS", 2),
                text("NMCONSUMIDOR", 50),
                flag("IDSITUVENDA", "F"),
                flag("IDTPFORPGVEN"),
                flag("IDTIPOIMPV"),
                key("NRSEQUITVEND", 3),
                text("CDPRODUTO", 10, true),
                number("QTPRODVEND", true),
                number("VRUNITVEND", true),
                {"VRDESITVEND", T::Number, 0, false, false, "0"}},
               {{"LOJA", {"CDFILIAL", "CDLOJA"}, {"CDFILIAL", "CDLOJA"}, "loja"},
                product(),
                {"CLIENTE", {"CDCLIENTE"}, {"CDCLIENTE"}, "cliente"},
                {"CCUSCLIE", {"CDCLIENTE", "CDCCUSCLIE"}, {"CDCLIENTE", "CDCCUSCLIE"}, "centro de custo"},
                {"TIPOCONS", {"CDTIPOCONS"}, {"CDTIPOCONS"}, "tipo de consumo"}},
               "CDFILIAL",
               "DTVENDA"};
  if (withAccessKey) {
    kind.columns.push_back(text("CDCHAVENFCE", 44));
    kind.columns.push_back(number("VRTOTNFCE"));  // vNF, what the Z check may compare the day with
  }
  return kind;
}

std::vector<Kind> makeKinds() {
  return {
      {"EMPRESA",
       "EMPRESA",
       {key("CDEMPRESA", 2), text("NMEMPRESA", 40, true), text("NMRAZSOCEMPR", 80)},
       {},
       nullptr,
       nullptr},
      {"FILIAL",
       "FILIAL",
       {key("CDFILIAL", 4), text("NMFILIAL", 30, true), text("CDEMPRESA", 2, true), text("CDINSCESTA", 16),
        text("CDSERIE", 5), text("CDINSCMUNI", 16), text("NRCNPJFILI", 14)},
       {{"EMPRESA", {"CDEMPRESA"}, {"CDEMPRESA"}, "empresa"}},
       "CDFILIAL",
       nullptr},
      {"PARAMFILIAL",
       "PARAMFILIAL",
       {key("CDFILIAL", 4),
        flag("IDUTILALMOX", "N"),
        flag("IDUTILLCESTQ", "N"),
        flag("IDCTRLESTQ", "N"),
        flag("IDPERMESTNEG", "N"),
        flag("IDMENSESTNEG", "N"),
        day("DTPROCESSAMENTO"),
        day("DTFECHAESTQ"),
        {"NRDIASMAXCONS", T::Integer, 0, false, false, nullptr},
        flag("IDNFCEGTIN", "N"),
        flag("IDZNFCE", "Z")},
       {branch()},
       "CDFILIAL",
       nullptr},
      {"LOJA",
       "LOJA",
       {key("CDFILIAL", 4), key("CDLOJA", 10), text("NMLOJA", 50, true), text("CDALMOXARIFE", 6),
        text("CDLOCALESTOQ", 6), text("CDTIPOOPER", 2)},
       {branch()},
       "CDFILIAL",
       nullptr},
      {"CAIXA",
       "CAIXA",
       {key("CDFILIAL", 4), key("CDCAIXA", 3), text("CDLOJA", 10, true), text("NMCAIXA", 30, true),
        text("CDSERIENFCE", 3)},
       {{"LOJA", {"CDFILIAL", "CDLOJA"}, {"CDFILIAL", "CDLOJA"}, "loja"}},
       "CDFILIAL",
       nullptr},
      {"TIPOCONS", "TIPOCONS", {key("CDTIPOCONS", 2), text("NMTIPOCONS", 30, true)}, {}, nullptr, nullptr},
      {"CLIENTE",
       "CLIENTE",
       {key("CDCLIENTE", 21), text("NRINSJURCLIE", 14), flag("IDTPIJURCLIE"), text("NMRAZSOCCLIE", 50, true)},
       {},
       nullptr,
       nullptr},
      {"CCUSCLIE",
       "CCUSCLIE",
       {key("CDCLIENTE", 21), key("CDCCUSCLIE", 10), text("NMCCUSCLIE", 40, true)},
       {{"CLIENTE", {"CDCLIENTE"}, {"CDCLIENTE"}, "cliente"}},
       nullptr,
       nullptr},
      {"TIPORETI", "TIPORETI", {key("CDTIPORETI", 2), text("NMTIPORETI", 40, true)}, {}, nullptr, nullptr},
      {"SETOR", "SETOR", {key("CDSETOR", 4), text("SGSETOR", 10), text("NMSETOR", 30, true)}, {}, nullptr, nullptr},
      {"PARAVEND",
       "PARAVEND",
       {key("CDFILIAL", 4), flag("IDCONSUMIOBR"), day("DTINITESCONS"), text("CDLOJA", 10), flag("IDATUEST"),
        flag("IDGERANFVENPROD"), flag("IDBLOQCONSOLIDA"), text("CDTIPORETI", 2), flag("IDPERCONVESTNEG"),
        text("CDSETOR", 4), flag("CONSOIMPAJUS"), flag("IDUTILESTCENT"), text("CDFILIESTCENT", 4),
        text("CDALMOXESTCENT", 6), text("CDLOCALESTCENT", 6)},
       {branch()},
       "CDFILIAL",
       nullptr},
      {"PRODUTO",
       "PRODUTO",
       {key("CDPRODUTO", 10), text("NMPRODUTO", 50, true), text("CDARVPROD", 20), text("CDPRODESTO", 10),
        flag("IDATIVO", "S"), flag("IDCTRLESTQ", "S"), text("CDGTINPROD", 14)},
       {},
       nullptr,
       nullptr},
      {"PRODFILI", "PRODFILI", {key("CDFILIAL", 4), key("CDPRODUTO", 10)}, {branch(), product()}, "CDFILIAL", nullptr},
      {"PRODTIPORETI",
       "PRODTIPORETI",
       {key("CDTIPORETI", 2), key("CDPRODUTO", 10)},
       {{"TIPORETI", {"CDTIPORETI"}, {"CDTIPORETI"}, "tipo de retirada"}, product()},
       nullptr,
       nullptr},
      {"PERIODOCTB",
       "PERIODOCTB",
       {key("CDFILIAL", 4), dayKey("DTINIPERCTB"), day("DTFIMPERCTB", true), text("IDSITPERCTB", 1, true)},
       {branch()},
       "CDFILIAL",
       nullptr},
      {"SALDOESTQ",
       "SALDOESTQ",
       {key("CDFILIAL", 4), key("CDALMOXARIFE", 6), key("CDLOCALESTOQ", 6), key("CDPRODUTO", 10),
        number("QTSALDOESTQ", true)},
       {product()},
       "CDFILIAL",
       nullptr},
      salesKind(kSales, false),
      {"REDUCAOZ",
       "REDUCAOZ",
       {key("CDFILIAL", 4), key("CDCAIXA", 3), dayKey("DTREDUCAOZ"), number("VRVENLIQREDZ", true)},
       {{"CAIXA", {"CDFILIAL", "CDCAIXA"}, {"CDFILIAL", "CDCAIXA"}, "caixa"}},
       "CDFILIAL",
       "DTREDUCAOZ"},
      // NFC-e documents become sales of the same columns, with their access key
      salesKind(kNfce, true),
  };
}

}  // namespace

const std::vector<Kind>& kinds() {
  static const std::vector<Kind> all = makeKinds();
  return all;
}

const Kind* findKind(const std::string& name) {
  for (const auto& k : kinds())
    if (name == k.name) return &k;
  return nullptr;
}

size_t kindRank(const std::string& name) {
  const auto& all = kinds();
  for (size_t i = 0; i < all.size(); ++i)
    if (name == all[i].name) return i;
  return all.size();
}

bool isSalesKind(const std::string& name) { return name == kSales || name == kNfce; }

bool isItemColumn(const std::string& column) {
  for (const char* c : {"NRSEQUITVEND", "CDPRODUTO", "QTPRODVEND", "VRUNITVEND", "VRDESITVEND"})
    if (column == c) return true;
  return false;
}

}  // namespace qfx::server::importing
