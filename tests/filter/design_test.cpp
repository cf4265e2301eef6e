// The dialog as designed, before its first opening: every group and control
// by name with its caption and state, the tab order, the datasets and the
// query texts of each database kind.
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>

#include "filterfixture.h"

using namespace qfx;
using namespace qfxtest;
using hostkit::DatabaseKind;
using hostkit::TADOIBQuery;
using hostkit::TBtnPesquisa;
using hostkit::TDataSet;
using hostkit::TDataSource;

namespace {

using DesignTest = FilterTest;

QString captionOf(QWidget* w) {
  if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title();
  if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
  if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
  return {};
}

}  // namespace

TEST_F(DesignTest, EveryGroupHasItsNameAndCaptionInsideTheBaseFrame) {
  const QList<std::pair<QString, QString>> groups = {{"grbDtMov", "Data de Movimento "},
                                                     {"grbCaixa", "Caixa "},
                                                     {"grbCliente", "Cliente"},
                                                     {"grbTipoCome", "Tipo de Consumidor"},
                                                     {"grbCentroCusto", "Centro de Custo "},
                                                     {"grbVenda", "Vendas "},
                                                     {"grbNF", ""},
                                                     {"grbProdutos", "Produtos"}};
  for (const auto& [name, caption] : groups) {
    auto* group = dlg().grbFiltroPadrao->findChild<QGroupBox*>(name);
    ASSERT_NE(group, nullptr) << name.toStdString();
    EXPECT_EQ(group->title(), caption) << name.toStdString();
  }
  EXPECT_EQ(dlg().windowTitle(), "Filtro Consolidação de Vendas");
  EXPECT_EQ(dlg().lblCodTela->text(), "Qfx31701");
  EXPECT_EQ(dlg().HelpContext, 13031701);
}

TEST_F(DesignTest, ControlsCarryTheirCaptionsAndDesignedStates) {
  struct Expected {
    const char* name;
    const char* caption;
    bool enabled;
    int checked;  // -1: not a choice
  };
  const Expected controls[] = {
      {"lblPeriodo", "Inicial", true, -1},
      {"Label4", "Final", true, -1},
      {"rbtTCaixa", "Todos", true, 0},
      {"rbtCaixa", "Lista", true, 0},
      {"btpCaixa", "", false, -1},
      {"rbtTodosCliente", "Todos", true, 1},
      {"rbtListaCliente", "Lista", true, 0},
      {"btpCliente", "", false, -1},
      {"rbtIntervaloCli", "Intervalo", true, 0},
      {"lblde", "de", true, -1},
      {"medCliDe", "", true, -1},
      {"btnPesqCliDe", "", false, -1},
      {"Label1", "até", true, -1},
      {"medCliAte", "", true, -1},
      {"btnPesqCliAte", "", false, -1},
      {"rdtTodosTipoCons", "Todos", true, 1},
      {"rdtListaTipoCons", "Lista", true, 0},
      {"btpTipoCons", "", false, -1},
      {"rbtTodosCentroCusto", "Todos", true, 1},
      {"rbtListaCentroCusto", "Lista", true, 0},
      {"btnCentroCusto", "", false, -1},
      {"rbtTodos", "Todas", true, 0},
      {"rbtLista", "Lista", true, 0},
      {"btpVenda", "", false, -1},
      {"chkAgrupaNF", "Agrupa itens de vendas para realizar consolidação", true, 1},
      {"chkVendaNF", "Somente itens de vendas não consolidados", true, 0},
      {"rbtTodosProdutos", "Todos", true, 1},
      {"rbtListaProdutos", "Lista", true, 0},
      {"btnProdutos", "", false, -1},
  };
  for (const Expected& e : controls) {
    SCOPED_TRACE(e.name);
    auto* w = dlg().grbFiltroPadrao->findChild<QWidget*>(e.name);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(captionOf(w), QString::fromUtf8(e.caption));
    EXPECT_EQ(w->isEnabled(), e.enabled);
    if (e.checked >= 0) {
      EXPECT_EQ(qobject_cast<QAbstractButton*>(w)->isChecked(), e.checked == 1);
    }
  }
  for (auto* edit : {dlg().depInicial, dlg().depFinal}) {
    EXPECT_TRUE(edit->IsEmpty()) << edit->objectName().toStdString();
    EXPECT_EQ(edit->WeekdayNames().first(), "Domingo");
    EXPECT_EQ(edit->WeekdayNames().last(), "Sábado");
    EXPECT_FALSE(edit->SaveTime());
  }
}

TEST_F(DesignTest, SearchButtonsHintTheirSearchAndNameTheirLists) {
  for (auto* b : dlg().findChildren<TBtnPesquisa*>())
    EXPECT_EQ(b->Hint(), "Pesquisar (F2)") << b->objectName().toStdString();
  EXPECT_EQ(dlg().btpCaixa->Title(), "Caixa");
  EXPECT_EQ(dlg().btpCaixa->EmptyError(), "Não há caixa cadastrado.");
  EXPECT_EQ(dlg().btnCentroCusto->EmptyError(), "Não há centro de custo cadastrado.");
  EXPECT_EQ(dlg().btpVenda->EmptyError(), "Não há vendas concluídas.");
  EXPECT_EQ(dlg().btnProdutos->EmptyError(), "Não há vendas concluídas.");
  for (auto* b : {dlg().btnPesqCliDe, dlg().btnPesqCliAte}) {
    EXPECT_EQ(b->Title(), "Cliente");
    EXPECT_EQ(b->EmptyError(), "Não há cliente cadastrado.");
    EXPECT_EQ(b->DataSource(), dlg().dtsPesqCli);
  }
  EXPECT_EQ(dlg().btnPesqCliDe->Associate(), dlg().medCliDe);
  EXPECT_EQ(dlg().btnPesqCliAte->Associate(), dlg().medCliAte);
}

TEST_F(DesignTest, TabOrderFollowsTheGroupsAndTheirControls) {
  const QStringList expected = {"depInicial",          "depFinal",         "rbtTCaixa",        "rbtCaixa",
                                "rbtTodosCliente",     "rbtListaCliente",  "rbtIntervaloCli",  "medCliDe",
                                "medCliAte",           "rdtTodosTipoCons", "rdtListaTipoCons", "rbtTodosCentroCusto",
                                "rbtListaCentroCusto", "rbtTodos",         "rbtLista",         "chkAgrupaNF",
                                "chkVendaNF",          "rbtTodosProdutos", "rbtListaProdutos"};
  QStringList chain;
  QWidget* w = dlg().depInicial;
  do {
    if (expected.contains(w->objectName())) chain << w->objectName();
    w = w->nextInFocusChain();
  } while (w != dlg().depInicial);
  EXPECT_EQ(chain, expected);
}

TEST_F(DesignTest, DatasetsAndDataSourcesCarryTheirNames) {
  const QList<std::pair<QString, QString>> sources = {
      {"dtsCaixa", "qryCaixa"},     {"dtsVendas", "cdsVendas"},           {"dtsTipoCons", "qryTipoCons"},
      {"dtsCliente", "qryCliente"}, {"dtsCentroCusto", "qryCentroCusto"}, {"dtsProdutos", "cdsProdutos"},
      {"dtsPesqCli", "qryPesqCli"}};
  for (const auto& [source, dataset] : sources) {
    auto* s = dlg().findChild<TDataSource*>(source);
    ASSERT_NE(s, nullptr) << source.toStdString();
    ASSERT_NE(s->DataSet(), nullptr);
    EXPECT_EQ(s->DataSet()->objectName(), dataset);
  }
  EXPECT_NE(dlg().findChild<TADOIBQuery*>("qryValCli"), nullptr);
  // hidden keys, shown names, as the pickers list them
  const TDataSet& cc = *dlg().qryCentroCusto;
  EXPECT_EQ(cc.Fields(0)->FieldName(), "NRINSJURCLIE");
  EXPECT_EQ(cc.Fields(0)->DisplayWidth(), 22);
  EXPECT_EQ(cc.FieldByName("CDCCUSCLIE")->DisplayWidth(), 12);
  EXPECT_FALSE(cc.FieldByName("CHAVE")->Visible());
  EXPECT_FALSE(cc.FieldByName("IDTPIJURCLIE")->Visible());
  EXPECT_FALSE(dlg().qryCliente->FieldByName("CDCLIENTE")->Visible());
  EXPECT_EQ(dlg().qryCliente->FieldByName("NMRAZSOCCLIE")->DisplayLabel(), "Razão Social");
  EXPECT_FALSE(dlg().qryCaixa->FieldByName("CODIGO")->Visible());
  EXPECT_FALSE(dlg().cdsVendas->FieldByName("CHAVE")->Visible());
}

TEST_F(DesignTest, LookupQueriesKeepATextPerDatabaseKind) {
  const TADOIBQuery& caixa = *dlg().qryCaixa;
  const QStringList generic = caixa.text(DatabaseKind::Generic).split('\n');
  ASSERT_EQ(generic.size(), 10);
  EXPECT_EQ(generic[2], "   CDFILIAL||CDCAIXA AS CODIGO");
  EXPECT_EQ(caixa.text(DatabaseKind::Oracle), caixa.text(DatabaseKind::Generic));
  const QStringList sqlServer = caixa.text(DatabaseKind::SQLServer).split('\n');
  EXPECT_EQ(sqlServer[2], "   CDFILIAL+CDCAIXA AS CODIGO");
  EXPECT_EQ(sqlServer.mid(3), generic.mid(3) << " ");
  EXPECT_EQ(caixa.text(DatabaseKind::InterBase), caixa.text(DatabaseKind::Generic) + "\n ");

  const TADOIBQuery& cc = *dlg().qryCentroCusto;
  const QStringList ccGeneric = cc.text(DatabaseKind::Generic).split('\n');
  ASSERT_EQ(ccGeneric.size(), 9);
  EXPECT_TRUE(ccGeneric[5].startsWith("  ((INSTR(:P_CDCLIENTE, CL.CDCLIENTE) > 0) OR (:P_TCDCLIENTE = 'T')"));
  EXPECT_EQ(cc.text(DatabaseKind::Oracle), cc.text(DatabaseKind::Generic));
  const QStringList ccSqlServer = cc.text(DatabaseKind::SQLServer).split('\n');
  EXPECT_EQ(ccSqlServer[1],
            "  CC.CDCLIENTE+CC.CDCCUSCLIE AS CHAVE, CC.CDCCUSCLIE, CC.NMCCUSCLIE, CL.NRINSJURCLIE, CL.IDTPIJURCLIE");
  EXPECT_TRUE(ccSqlServer[5].startsWith("  ((CHARINDEX(CL.CDCLIENTE, :P_CDCLIENTE) > 0)"));
  const QStringList ccInterBase = cc.text(DatabaseKind::InterBase).split('\n');
  EXPECT_EQ(ccInterBase[3], "  CCUSCLIE CC, CLIENTE CL, PARAM (:P_CDCLIENTE) P_CDCLIENTE");
  EXPECT_TRUE(ccInterBase[5].startsWith("  ((INSTR(P_CDCLIENTE.PARAM, CL.CDCLIENTE) > 0)"));
  for (int line : {0, 2, 4, 6, 7, 8}) {
    EXPECT_EQ(ccSqlServer[line], ccGeneric[line]);
    EXPECT_EQ(ccInterBase[line], ccGeneric[line]);
  }
  // queries given one text run it on every kind
  EXPECT_EQ(dlg().qryPesqCli->text(DatabaseKind::SQLServer).split('\n').last(), " ");
  EXPECT_EQ(dlg().qryTipoCons->text(DatabaseKind::InterBase),
            "SELECT\n   CDTIPOCONS, NMTIPOCONS\nFROM\n   TIPOCONS\nORDER BY CDTIPOCONS");
  EXPECT_EQ(dlg().qryValCli->paramNames(), QStringList{"P_CLIENTE"});
}
