#include "replydatasets.h"

namespace qfx {

using hostkit::FieldSpec;
using hostkit::FieldType;
using hostkit::TDataSet;

namespace {
// Compact field declarations: name, type, size, label, visible.
FieldSpec text(const char* name, int size, const char* label = "", bool visible = true) {
  FieldSpec f;
  f.name = QString::fromUtf8(name);
  f.type = FieldType::Text;
  f.size = size;
  f.label = QString::fromUtf8(label);
  f.visible = visible;
  return f;
}
FieldSpec hidden(const char* name, int size) { return text(name, size, "", false); }
FieldSpec typed(const char* name, FieldType type, const char* label = "", bool visible = true) {
  FieldSpec f = text(name, 0, label, visible);
  f.type = type;
  return f;
}
FieldSpec money(const char* name, const char* label, bool visible = true) {
  FieldSpec f = typed(name, FieldType::Float, label, visible);
  f.displayFormat = QStringLiteral("#,##0.00");
  return f;
}
FieldSpec calculated(FieldSpec f) {
  f.calculated = true;
  return f;
}
void define(TDataSet& ds, std::initializer_list<FieldSpec> fields) {
  ds.ClearFields();
  for (const auto& f : fields) ds.AddField(f);
}
}  // namespace

void defineCdsPrincipal(TDataSet& ds) {
  FieldSpec qtEstoque = calculated(typed("QtEstoque", FieldType::Float));
  qtEstoque.displayFormat = QStringLiteral("0.000");
  FieldSpec vrSaldo = qtEstoque;
  vrSaldo.name = QStringLiteral("VrSaldo");
  define(ds, {
                 hidden("CDFILIALEST", 4),
                 hidden("CDFILIAL", 4),
                 hidden("NRSEQVENDA", 10),
                 hidden("CDCLIENTE", 21),
                 text("CDCAIXA", 3, "Caixa"),
                 typed("DTENTRVENDA", FieldType::DateTime, "Data Venda"),
                 hidden("IDTIPOIMPV", 1),
                 text("NRLANCESTQ", 10, "Lancto.Estoque"),
                 calculated(typed("IDNOTAFISCAL", FieldType::Boolean, "Sit.")),
                 text("CDPRODUTO", 10, "Cód.Produto"),
                 text("NMPRODUTO", 50, "Nome"),
                 money("QTPRODVEND", "Qtde."),
                 money("VRUNITVEND", "Valor Unit."),
                 money("TOTITEM", "Total", false),
                 hidden("NRSEQUITVEND", 3),
                 typed("VRDESITVEND", FieldType::Float, "", false),
                 hidden("CDPRODESTO", 10),
                 hidden("NMRAZSOCCLIE", 50),
                 text("NRLANCTONF", 10, "Lancto.NF"),
                 hidden("CDLOJA", 10),
                 text("NRCUPOMFIS", 10, "Nr. Cupom"),
                 hidden("CDFILIALNF", 4),
                 qtEstoque,
                 vrSaldo,
                 text("NMCONSUMIDOR", 50, "Consumidor"),
                 hidden("CDARVPROD", 20),
                 hidden("IDSITUVENDA", 1),
                 hidden("IDTPFORPGVEN", 1),
             });
}

void defineCdsParamFilial(TDataSet& ds) {
  define(ds, {text("IDUTILALMOX", 1), text("IDUTILLCESTQ", 1), text("IDCTRLESTQ", 1), text("IDPERMESTNEG", 1),
              text("IDMENSESTNEG", 1)});
}

void defineCdsParamVend(TDataSet& ds) {
  define(ds, {text("IDCONSUMIOBR", 1), typed("DTINITESCONS", FieldType::DateTime), text("CDLOJA", 10),
              text("NMLOJA", 50), text("IDATUEST", 1), text("IDGERANFVENPROD", 1), text("IDBLOQCONSOLIDA", 1),
              text("CDTIPORETI", 2), text("NMTIPORETI", 40), text("IDPERCONVESTNEG", 1), text("CDSETOR", 4),
              text("NMSETOR", 30), text("CONSOIMPAJUS", 1), text("IDUTILESTCENT", 1), text("CDFILIESTCENT", 4),
              text("CDALMOXESTCENT", 6), text("CDLOCALESTCENT", 6)});
}

void defineCdsVerifVenda(TDataSet& ds) {
  define(ds, {text("CDFILIAL", 4), text("CDCAIXA", 3), typed("DTENTRVENDA", FieldType::DateTime)});
}

void defineCdsSoma(TDataSet& ds) {
  define(ds, {text("CDFILIAL", 4), text("CDCAIXA", 3), typed("DTENTRVENDA", FieldType::DateTime),
              typed("TOTAL", FieldType::Float)});
}

void defineCdsReducaoZ(TDataSet& ds) { define(ds, {typed("VRVENLIQREDZ", FieldType::Float)}); }

void defineCdsTipoReti(TDataSet& ds) { define(ds, {text("CDTIPORETI", 2, "Código"), text("NMTIPORETI", 40, "Nome")}); }

void defineCdsSetor(TDataSet& ds) {
  define(ds, {text("CDSETOR", 4, "Código"), hidden("SGSETOR", 10), text("NMSETOR", 30, "Nome")});
}

void defineCdsIrregEst(TDataSet& ds) {
  FieldSpec cdErro = text("CdErro", 30, "Filial");
  cdErro.displayWidth = 30;
  FieldSpec cdObjeto = text("CdObjeto", 60, "  Filial");
  cdObjeto.displayWidth = 60;
  FieldSpec cdObjeto2 = text("CdObjeto2", 60, "Produto");
  cdObjeto2.displayWidth = 60;
  define(ds, {cdErro, cdObjeto, cdObjeto2, text("CdObjeto3", 20), text("CdObjeto4", 20),
              typed("CdObjeto5", FieldType::Float, "Qtde Estoque")});
}

void defineCdsBloqConsolida(TDataSet& ds) {
  define(ds, {text("CdObjeto", 60, "  Filial"), text("CdObjeto2", 60, "Produto")});
}

void defineCdsVendas(TDataSet& ds) {
  FieldSpec data = text("DTVENDA", 20, "Data");
  data.displayWidth = 21;
  define(ds, {text("IDMARCADO", 1), hidden("CHAVE", 14), text("CDCAIXA", 3, "Caixa"),
              text("NRSEQVENDA", 10, "Núm. da Venda"), text("NRCUPOMFIS", 10, "Nr. Cupom Fiscal"), data,
              text("NMRAZSOCCLIE", 50, "Cliente")});
}

void defineCdsProdutos(TDataSet& ds) {
  FieldSpec codigo = text("CDPRODUTO", 10, "Código");
  codigo.displayWidth = 12;
  define(ds, {text("IDMARCADO", 1), codigo, text("NMPRODUTO", 50, "Nome")});
}

}  // namespace qfx
