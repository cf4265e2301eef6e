#include "replydatasets.h"

#include <initializer_list>
#include <utility>
#include <vector>

#include <proto/contract_packets.h>

namespace qfx {

using hostkit::FieldSpec;
using hostkit::FieldType;
using hostkit::TDataSet;

namespace {

// A dataset's fields from the field list of the packet that fills it: names,
// types and sizes as the server sends them, in its order. The screen adds
// only how each field shows, the fields it calculates itself (at a place in
// that order, which the grids' columns follow) and, where it reads only some
// of a packet's fields, which ones it keeps. Every name given here is checked
// against the list when compiling.
template <const auto& Fields>
class Layout {
 public:
  struct Name {
    consteval Name(const char* name) : index(contract::indexOf(Fields, name)) {}
    size_t index;
  };

  Layout() {
    for (const contract::Field& f : Fields) {
      FieldSpec definition;
      definition.name = QString::fromUtf8(f.name.data(), qsizetype(f.name.size()));
      definition.type = f.type;
      definition.size = f.size;
      fields_.push_back({std::move(definition), true});
    }
  }

  Layout& label(Name field, const char* label) {
    definitionOf(field).label = QString::fromUtf8(label);
    return *this;
  }
  Layout& money(Name field, const char* caption) {
    definitionOf(field).displayFormat = QStringLiteral("#,##0.00");
    return label(field, caption);
  }
  Layout& width(Name field, int characters) {
    definitionOf(field).displayWidth = characters;
    return *this;
  }
  Layout& hide(std::initializer_list<Name> fields) {
    for (const Name& field : fields) definitionOf(field).visible = false;
    return *this;
  }
  // The dataset keeps only these of the packet's fields.
  Layout& only(std::initializer_list<Name> fields) {
    for (auto& f : fields_) f.kept = false;
    for (const Name& field : fields) fields_[field.index].kept = true;
    return *this;
  }
  // A field the screen calculates, placed after `field` (and after those
  // placed there before it).
  Layout& calculatedAfter(Name field, FieldSpec calculated) {
    calculated.calculated = true;
    calculated_.push_back({field.index, std::move(calculated)});
    return *this;
  }

  void defineInto(TDataSet& ds) const {
    ds.ClearFields();
    for (size_t i = 0; i < fields_.size(); ++i) {
      if (fields_[i].kept) ds.AddField(fields_[i].definition);
      for (const auto& [after, calculated] : calculated_)
        if (after == i) ds.AddField(calculated);
    }
  }

 private:
  struct Entry {
    FieldSpec definition;
    bool kept;
  };
  FieldSpec& definitionOf(Name field) { return fields_[field.index].definition; }

  std::vector<Entry> fields_;
  std::vector<std::pair<size_t, FieldSpec>> calculated_;
};

FieldSpec typedField(const char* name, FieldType type, const char* label = "") {
  FieldSpec f;
  f.name = QString::fromUtf8(name);
  f.type = type;
  f.label = QString::fromUtf8(label);
  return f;
}

// The screen's own datasets, which it fills from the replies itself under
// the names of the host screens that show them.
FieldSpec text(const char* name, int size, const char* label = "", int displayWidth = 0) {
  FieldSpec f;
  f.name = QString::fromUtf8(name);
  f.type = FieldType::Text;
  f.size = size;
  f.label = QString::fromUtf8(label);
  f.displayWidth = displayWidth;
  return f;
}
void define(TDataSet& ds, std::initializer_list<FieldSpec> fields) {
  ds.ClearFields();
  for (const auto& f : fields) ds.AddField(f);
}

}  // namespace

void defineCdsPrincipal(TDataSet& ds) {
  FieldSpec qtEstoque = typedField("QtEstoque", FieldType::Float);
  qtEstoque.displayFormat = QStringLiteral("0.000");
  FieldSpec vrSaldo = qtEstoque;
  vrSaldo.name = QStringLiteral("VrSaldo");
  Layout<contract::fields::principal>()
      .hide({"CDFILIALEST", "CDFILIAL", "NRSEQVENDA", "CDCLIENTE", "IDTIPOIMPV", "TOTITEM", "NRSEQUITVEND",
             "VRDESITVEND", "CDPRODESTO", "NMRAZSOCCLIE", "CDLOJA", "CDFILIALNF", "CDARVPROD", "IDSITUVENDA",
             "IDTPFORPGVEN"})
      .label("CDCAIXA", "Caixa")
      .label("DTENTRVENDA", "Data Venda")
      .label("NRLANCESTQ", "Lancto.Estoque")
      .calculatedAfter("NRLANCESTQ", typedField("IDNOTAFISCAL", FieldType::Boolean, "Sit."))
      .label("CDPRODUTO", "Cód.Produto")
      .label("NMPRODUTO", "Nome")
      .money("QTPRODVEND", "Qtde.")
      .money("VRUNITVEND", "Valor Unit.")
      .money("TOTITEM", "Total")
      .label("NRLANCTONF", "Lancto.NF")
      .label("NRCUPOMFIS", "Nr. Cupom")
      .calculatedAfter("CDFILIALNF", qtEstoque)
      .calculatedAfter("CDFILIALNF", vrSaldo)
      .label("NMCONSUMIDOR", "Consumidor")
      .defineInto(ds);
}

// The branch's own code, which the packet repeats, is not read.
void defineCdsParamFilial(TDataSet& ds) {
  Layout<contract::fields::branchParameters>()
      .only({"IDUTILALMOX", "IDUTILLCESTQ", "IDCTRLESTQ", "IDPERMESTNEG", "IDMENSESTNEG"})
      .defineInto(ds);
}

void defineCdsParamVend(TDataSet& ds) { Layout<contract::fields::salesParameters>().defineInto(ds); }

void defineCdsVerifVenda(TDataSet& ds) { Layout<contract::fields::registerDays>().defineInto(ds); }

void defineCdsSoma(TDataSet& ds) { Layout<contract::fields::registerDaySales>().defineInto(ds); }

// Only the value is compared; the register-day is the one asked for.
void defineCdsReducaoZ(TDataSet& ds) { Layout<contract::fields::zReduction>().only({"VRVENLIQREDZ"}).defineInto(ds); }

void defineCdsTipoReti(TDataSet& ds) {
  Layout<contract::fields::withdrawalTypes>().label("CDTIPORETI", "Código").label("NMTIPORETI", "Nome").defineInto(ds);
}

void defineCdsSetor(TDataSet& ds) {
  Layout<contract::fields::sectors>()
      .label("CDSETOR", "Código")
      .hide({"SGSETOR"})
      .label("NMSETOR", "Nome")
      .defineInto(ds);
}

// After the fixed fields, what the posting takes out of the balance and the
// balance it leaves, as the server reports them beside the balance before.
void defineCdsIrregEst(TDataSet& ds) {
  define(ds,
         {text("CdErro", 30, "Filial", 30), text("CdObjeto", 60, "  Filial", 60), text("CdObjeto2", 60, "Produto", 60),
          text("CdObjeto3", 20), text("CdObjeto4", 20), typedField("CdObjeto5", FieldType::Float, "Qtde Estoque"),
          typedField("QtLancEstq", FieldType::Float, "Qtde Baixa"),
          typedField("QtSaldoFinal", FieldType::Float, "Saldo Final")});
}

// After the fixed fields, why the product blocks (the server's letters).
void defineCdsBloqConsolida(TDataSet& ds) {
  define(ds, {text("CdObjeto", 60, "  Filial"), text("CdObjeto2", 60, "Produto"), text("IdMotivoBloq", 2, "Motivo")});
}

void defineCdsVendas(TDataSet& ds) {
  Layout<contract::fields::salesOfPeriod>()
      .hide({"CHAVE"})
      .label("CDCAIXA", "Caixa")
      .label("NRSEQVENDA", "Núm. da Venda")
      .label("NRCUPOMFIS", "Nr. Cupom Fiscal")
      .label("DTVENDA", "Data")
      .width("DTVENDA", 21)
      .label("NMRAZSOCCLIE", "Cliente")
      .defineInto(ds);
}

void defineCdsProdutos(TDataSet& ds) {
  Layout<contract::fields::productsSold>()
      .label("CDPRODUTO", "Código")
      .width("CDPRODUTO", 12)
      .label("NMPRODUTO", "Nome")
      .defineInto(ds);
}

// The runs of "Consolidações realizadas"; the stock's branch and the note's
// branch are the key, not shown.
void defineCdsConsolidacoes(TDataSet& ds) {
  Layout<contract::fields::consolidationRuns>()
      .hide({"CDFILIAL", "CDFILIALNF"})
      .label("NRLANCESTQ", "Lancto.Estoque")
      .label("DTLANCESTQ", "Dia")
      .label("CDOPERADOR", "Operador")
      .label("CDLOJA", "Loja")
      .label("CDTIPORETI", "Tipo Ret.")
      .label("CDSETOR", "Setor")
      .label("QTITENS", "Itens")
      .money("VRTOTLANCTONF", "Valor")
      .label("NRLANCTONF", "Lancto.NF")
      .label("DTINCLUSAO", "Consolidado em")
      .label("NRLANCESTQESTORNO", "Lancto.Estorno")
      .label("CDOPERESTORNO", "Estornado por")
      .label("DTESTORNO", "Estornado em")
      .label("DSMOTIVOESTORNO", "Motivo")
      .defineInto(ds);
}

}  // namespace qfx
