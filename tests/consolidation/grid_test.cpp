// The "Venda" page: loading the sale items, the status of each item, the
// grid's own cell drawing (colours, number formats, alignment, icons), the
// buttons that act on the list, and a picture of the screen with data.
#include <QAbstractItemModel>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QHelpEvent>
#include <QImage>
#include <QLabel>
#include <QTableView>
#include <QToolTip>

#include "consolidation_fixture.h"
#include <qfx31700/filter/frmfiltrogeranf.h>
#include <qfx31700/navigation/modulestate.h>
#include <qfx31700/remote/replydatasets.h>
#include <qfx31700/report/frmrelprodevol.h>

using namespace qfx;
using namespace qfxtest;

namespace {

const QColor kPurple(128, 0, 128);
const QColor kIconGreen(0, 128, 0);
const QColor kIconRed(192, 0, 0);

bool near(QRgb pixel, const QColor& colour, int tolerance) {
  return std::abs(qRed(pixel) - colour.red()) <= tolerance && std::abs(qGreen(pixel) - colour.green()) <= tolerance &&
         std::abs(qBlue(pixel) - colour.blue()) <= tolerance;
}

int pixelsNear(const QImage& image, const QColor& colour, int tolerance = 0) {
  int count = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) count += near(image.pixel(x, y), colour, tolerance);
  return count;
}

// Columns (leftmost, rightmost) of the pixels that are not the background.
std::pair<int, int> inkSpan(const QImage& image, const QColor& background) {
  int left = image.width(), right = -1;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (!near(image.pixel(x, y), background, 24)) {
        left = std::min(left, x);
        right = std::max(right, x);
      }
  return {left, right};
}

class SalesGrid : public ConsolidationTest {
 protected:
  int column(const QString& field) const {
    const QAbstractItemModel* model = screen->dbgPadrao->model();
    for (int c = 0; c < model->columnCount(); ++c)
      if (model->headerData(c, Qt::Horizontal, hostkit::TDataSetModel::FieldNameRole).toString() == field) return c;
    ADD_FAILURE() << "no column for " << field.toStdString();
    return 0;
  }
  // The grid's drawing of one cell, as the operator sees it.
  QImage cell(int row, const QString& field) {
    QTableView* grid = screen->dbgPadrao;
    const QModelIndex index = grid->model()->index(row, column(field));
    grid->scrollTo(index);
    QApplication::processEvents();
    const QImage all = grid->viewport()->grab().toImage();
    if (qEnvironmentVariableIsSet("QFX_DEBUG_CELLS"))
      all.save(QStringLiteral("/tmp/cell-%1-%2.png").arg(row).arg(field));
    return all.copy(grid->visualRect(index));
  }
  // The tool tip the grid shows over a cell.
  QString toolTip(int row, const QString& field) {
    QTableView* grid = screen->dbgPadrao;
    const QModelIndex index = grid->model()->index(row, column(field));
    grid->scrollTo(index);
    QApplication::processEvents();
    const QPoint at = grid->visualRect(index).center();
    QHelpEvent event(QEvent::ToolTip, at, grid->viewport()->mapToGlobal(at));
    QApplication::sendEvent(grid->viewport(), &event);
    return QToolTip::isVisible() ? QToolTip::text() : QString();
  }
  QColor infoBackground() const { return screen->dbgPadrao->palette().color(QPalette::ToolTipBase); }
  // Moves the grid's current (selected) cell.
  void select(int row, const QString& field) {
    QTableView* grid = screen->dbgPadrao;
    grid->setCurrentIndex(grid->model()->index(row, column(field)));
    QApplication::processEvents();
  }
};

TEST_F(SalesGrid, ColumnsShowWholeTitlesAndValuesTheRestInATooltipAndTheNavigatorShowsTheCustomer) {
  SaleItem second, longo, devolvida;
  second.cliente = "Maria Souza";
  second.venda = "0000000090";
  second.data = dia(2026, 11, 10, 14, 30);
  second.lancamento = "0000000010";
  longo.nome = "Achocolatado em pó tradicional lata de quatrocentos gramas";
  longo.quantidade = 2;
  longo.unitario = 8;
  longo.desconto = 0.93;
  devolvida.situacao = "D";
  TfrmGeraNF& tela = listed({SaleItem{}, second, longo, devolvida});
  const QAbstractItemModel* model = tela.dbgPadrao->model();
  const QStringList titles = {"Sit.",          "Caixa", "Data Venda",  "Nr da Venda", "Nr. Cupom",      "Produto",
                              "Nome",          "Qtde.", "Valor Unit.", "Total",       "Lancto.Estoque", "Lancto.NF",
                              "Qtde. Estoque", "Saldo", "Cliente",     "Consumidor"};
  ASSERT_EQ(model->columnCount(), titles.size());
  const QHeaderView* header = tela.dbgPadrao->horizontalHeader();
  for (int c = 0; c < titles.size(); ++c) {
    EXPECT_EQ(model->headerData(c, Qt::Horizontal).toString(), titles[c]) << "column " << c + 1;
    EXPECT_GE(tela.dbgPadrao->columnWidth(c), header->sectionSizeHint(c)) << titles[c].toStdString() << " whole";
  }
  // the layout widths, in characters of the grid's own font
  const int character = tela.dbgPadrao->fontMetrics().averageCharWidth();
  const std::map<int, int> widths = {{0, 19}, {1, 31}, {2, 87}, {3, 71},  {4, 72},   {5, 85},  {6, 178},
                                     {7, 71}, {8, 81}, {9, 83}, {11, 89}, {14, 184}, {15, 190}};
  for (const auto& [c, width] : widths)
    EXPECT_GE(tela.dbgPadrao->columnWidth(c) * hostkit::kLayoutCharWidth, width * character) << "column " << c + 1;
  const auto fits = [&](int row, const char* field) {
    return tela.dbgPadraoCellHint(row, field, tela.dbgPadrao->columnWidth(column(field))).isEmpty();
  };
  EXPECT_TRUE(fits(1, "NRSEQVENDA")) << "a sale number";
  EXPECT_TRUE(fits(1, "DTENTRVENDA")) << "a date and time";
  EXPECT_TRUE(fits(1, "CDCAIXA")) << "a register";

  // a name too long for its column ends in "…" and shows whole in the tool tip
  const QImage nome = cell(2, "NMPRODUTO");
  EXPECT_LT(inkSpan(nome, infoBackground()).second, nome.width() - 2) << "cut inside its cell";
  EXPECT_EQ(toolTip(2, "NMPRODUTO"), QString::fromStdString(longo.nome));
  EXPECT_TRUE(fits(0, "NMPRODUTO"));

  // what the status icons and the purple text stand for
  const QString consolidado = toolTip(1, "IDNOTAFISCAL"), pendente = toolTip(0, "IDNOTAFISCAL");
  EXPECT_TRUE(consolidado.contains("consolidado") && consolidado.contains("0000000010")) << consolidado.toStdString();
  EXPECT_TRUE(pendente.contains("pendente")) << pendente.toStdString();
  EXPECT_TRUE(toolTip(3, "NRCUPOMFIS").contains("devolvida"));
  EXPECT_TRUE(toolTip(3, "IDNOTAFISCAL").contains("devolvida"));
  EXPECT_TRUE(fits(0, "NRCUPOMFIS")) << "a sale not returned has nothing to tell";
  // the grid has no discount column: the total tells how it follows from the row
  EXPECT_EQ(toolTip(2, "TOTITEM"), "2,000 × 8,00 − 0,93 de desconto = 15,07");
  EXPECT_EQ(toolTip(0, "TOTITEM"), "2,000 × 5,50 − 0,00 de desconto = 11,00");

  EXPECT_FALSE(tela.dbgPadrao->verticalHeader()->isVisible()) << "no row indicator";
  EXPECT_EQ(tela.dbgPadrao->editTriggers(), QAbstractItemView::NoEditTriggers);
  EXPECT_EQ(tela.lblCliente->text(), "Cliente Balcão");
  select(1, "NMPRODUTO");
  EXPECT_EQ(tela.cdsPrincipal->RecNo(), 1);
  EXPECT_EQ(tela.lblCliente->text(), "Maria Souza");
}

TEST_F(SalesGrid, EitherPostingFieldMarksTheItemConsolidated) {
  SaleItem lancado, comFilial, pendente;
  lancado.lancamento = "0000000010";
  comFilial.filialEstoque = "0001";
  TfrmGeraNF& tela = listed({lancado, comFilial, pendente});
  const hostkit::TField* status = tela.cdsPrincipal->FieldByName("IDNOTAFISCAL");
  EXPECT_TRUE(status->valueAt(0).toBool()) << "posting number only";
  EXPECT_TRUE(status->valueAt(1).toBool()) << "posting branch only";
  EXPECT_FALSE(status->valueAt(2).toBool()) << "neither";

  select(2, "NMPRODUTO");
  for (int row : {0, 1}) {
    const QImage icon = cell(row, "IDNOTAFISCAL");
    EXPECT_GT(pixelsNear(icon, kIconGreen), 20) << "consolidated icon in row " << row;
    EXPECT_EQ(pixelsNear(icon, kIconRed), 0) << "row " << row;
  }
  const QImage pending = cell(2, "IDNOTAFISCAL");
  EXPECT_GT(pixelsNear(pending, kIconRed), 20);
  EXPECT_EQ(pixelsNear(pending, kIconGreen), 0);
  EXPECT_EQ(pixelsNear(pending, QColor(128, 128, 0)), 0) << "the olive corners are see-through";
}

TEST_F(SalesGrid, CellTextsUseTheGridsOwnFormats) {
  hostkit::TDataSet itens(nullptr, "cdsPrincipal");
  defineCdsPrincipal(itens);
  SaleItem cheio, vazio;
  cheio.quantidade = 1234.5;
  cheio.unitario = 1234.567;
  vazio.quantidade.reset();
  vazio.unitario.reset();
  vazio.arvore.clear();
  itens.SetData(principalPacket({cheio, vazio}));
  const QString mascara = host->productTreePicture;
  const auto text = [&](const char* field, int row) { return gridCellText(*itens.FieldByName(field), row, mascara); };

  EXPECT_EQ(text("QTPRODVEND", 0).text, "1234,500") << "three decimals, no thousands separator";
  EXPECT_TRUE(text("QTPRODVEND", 0).alignRight);
  EXPECT_EQ(text("VRUNITVEND", 0).text, "1234,57");
  EXPECT_TRUE(text("VRUNITVEND", 0).alignRight);
  EXPECT_EQ(text("TOTITEM", 0).text, "1524072,96");
  EXPECT_EQ(text("CDARVPROD", 0).text, "1.01.02.012") << "through the product tree picture";
  EXPECT_FALSE(text("CDARVPROD", 0).alignRight);
  EXPECT_EQ(text("CDCAIXA", 0).text, "001");
  EXPECT_FALSE(text("CDCAIXA", 0).alignRight);

  EXPECT_EQ(text("QTPRODVEND", 1).text, "") << "a null quantity is no 0.000";
  EXPECT_FALSE(text("QTPRODVEND", 1).alignRight);
  EXPECT_EQ(text("VRUNITVEND", 1).text, "");
  EXPECT_EQ(text("CDARVPROD", 1).text, "");
  EXPECT_EQ(text("QtEstoque", 0).text, "") << "computed by nobody: always empty";
  EXPECT_EQ(text("VrSaldo", 0).text, "");
}

TEST_F(SalesGrid, QuantityIsDrawnRightAlignedAndANullOneDrawsNothing) {
  SaleItem cheio, vazio;
  cheio.quantidade = 1234.5;
  vazio.quantidade.reset();
  TfrmGeraNF& tela = listed({cheio, vazio, SaleItem{}});
  select(2, "NMPRODUTO");
  const int width = tela.dbgPadrao->columnWidth(column("QTPRODVEND"));

  const QImage quantidade = cell(0, "QTPRODVEND");
  const auto [left, right] = inkSpan(quantidade, infoBackground());
  const int textWidth = tela.dbgPadrao->fontMetrics().horizontalAdvance("1234,500");
  EXPECT_GE(right, width - 2 - 4) << "ends two pixels from the right border";
  EXPECT_LT(right, width - 1);
  EXPECT_NEAR(left, width - 2 - textWidth, 3);

  const QImage nula = cell(1, "QTPRODVEND");
  EXPECT_EQ(inkSpan(nula, infoBackground()).second, -1) << "nothing but the info background";
  EXPECT_EQ(nula.pixelColor(nula.width() / 2, nula.height() / 2), infoBackground());

  const auto [caixaLeft, caixaRight] = inkSpan(cell(0, "CDCAIXA"), infoBackground());
  EXPECT_GE(caixaLeft, 2) << "left-aligned with the indent of two pixels";
  EXPECT_LE(caixaLeft, 4);
  EXPECT_GT(caixaRight, caixaLeft);
  EXPECT_EQ(inkSpan(cell(0, "QtEstoque"), infoBackground()).second, -1) << "the stock column stays empty";
}

TEST_F(SalesGrid, ReturnedSalesArePurpleExceptTheSelectedCell) {
  SaleItem devolvida, normal;
  devolvida.situacao = "D";
  devolvida.nome = "Feijão devolvido";
  devolvida.cliente = "Devolução Mercado";
  normal.nome = "Feijão vendido";
  TfrmGeraNF& tela = listed({devolvida, normal});
  tela.dbgPadrao->setFocus();
  select(0, "NMPRODUTO");
  const QPalette palette = tela.dbgPadrao->palette();
  const QColor highlightText = palette.color(QPalette::Active, QPalette::HighlightedText);

  const QImage selecionada = cell(0, "NMPRODUTO");
  EXPECT_EQ(pixelsNear(selecionada, kPurple, 40), 0) << "the highlight wins over purple";
  EXPECT_GT(pixelsNear(selecionada, highlightText, 40), 5);
  EXPECT_NE(selecionada.pixelColor(selecionada.width() - 3, selecionada.height() - 3), infoBackground())
      << "the selected cell has the highlight background";

  for (const char* field : {"NRCUPOMFIS", "NMRAZSOCCLIE", "CDCAIXA"}) {
    const QImage outra = cell(0, field);
    EXPECT_GT(pixelsNear(outra, kPurple, 40), 5) << field << ": the rest of the returned sale is purple";
    EXPECT_EQ(outra.pixelColor(outra.width() - 3, outra.height() - 3), infoBackground()) << field;
  }
  const QImage comum = cell(1, "NMPRODUTO");
  EXPECT_EQ(pixelsNear(comum, kPurple, 40), 0) << "other sales keep the text colour";
  EXPECT_GT(pixelsNear(comum, palette.color(QPalette::Text), 60), 5);
}

TEST_F(SalesGrid, FailedLoadKeepsTheRowsAndClosesTheAnimation) {
  TfrmGeraNF& tela = listed({SaleItem{}, SaleItem{}});
  ASSERT_TRUE(tela.sbtGeraNF->isEnabled());
  failPrincipal("Servidor de vendas indisponível.");
  host->clearRecords();
  tela.sbtVerificar->click();
  EXPECT_EQ(host->messageTexts(), QStringList{"Servidor de vendas indisponível."});
  EXPECT_EQ(host->messages.value(0).kind, hostkit::ShownMessage::Exception);
  EXPECT_EQ(host->busyOpened, 1);
  EXPECT_TRUE(host->busyBalanced());
  EXPECT_TRUE(tela.cdsPrincipal->Active());
  EXPECT_EQ(tela.cdsPrincipal->RecordCount(), 2);
  EXPECT_EQ(tela.dbgPadrao->model()->rowCount(), 2);
  EXPECT_TRUE(tela.sbtGeraNF->isEnabled());
}

TEST_F(SalesGrid, EmptyResultDisablesConsolidation) {
  TfrmGeraNF& tela = listed({SaleItem{}});
  ASSERT_TRUE(tela.sbtGeraNF->isEnabled());
  ASSERT_TRUE(tela.mnuGeraNota->isEnabled());
  replyItems({});
  tela.sbtVerificar->click();
  EXPECT_TRUE(host->messages.isEmpty());
  EXPECT_TRUE(tela.cdsPrincipal->Active());
  EXPECT_EQ(tela.dbgPadrao->model()->rowCount(), 0);
  EXPECT_FALSE(tela.sbtGeraNF->isEnabled());
  EXPECT_FALSE(tela.mnuGeraNota->isEnabled());
  EXPECT_TRUE(tela.sbtVerificar->isEnabled()) << "the list is open: it can be verified again";
  EXPECT_TRUE(host->busyBalanced());

  replyItems({SaleItem{}});
  tela.mnuVerificar->trigger();
  EXPECT_TRUE(tela.sbtGeraNF->isEnabled());
}

TEST_F(SalesGrid, LoadSendsTheEntriesAndTheFilter) {
  listed({SaleItem{}});
  const auto calls = fixture.server.callsOf("GetPrincipal");
  ASSERT_EQ(calls.size(), 1u);
  using A = contract::GetPrincipal;
  const RecordedCall& call = calls[0];
  ASSERT_EQ(call.args.size(), 21u);
  EXPECT_EQ(call.arg(A::Filial).text(), "0001");
  EXPECT_EQ(call.arg(A::DtInicial).date(), hostkit::Date());
  EXPECT_EQ(call.arg(A::TodasNF).text(), "N") << "pending only";
  EXPECT_EQ(call.arg(A::TodasNF2).text(), "N");
  EXPECT_EQ(call.arg(A::TodasVendas).text(), "S") << "all sales";
  EXPECT_EQ(call.arg(A::Loja).text(), "01");
  EXPECT_TRUE(call.arg(A::BoTodosCaixa).boolean());
}

TEST_F(SalesGrid, FilterButtonReloadsWhetherTheDialogIsConfirmedOrCancelled) {
  TfrmGeraNF& tela = listed({SaleItem{}});
  ASSERT_TRUE(tela.sbtFiltro->isEnabled());
  const size_t before = callsOf("GetPrincipal");
  {
    hostkit::ModalAnswer cancela([](QWidget* dialog) { qobject_cast<TfrmFiltroGeraNF*>(dialog)->sbtCancel->click(); });
    tela.sbtFiltro->click();
    EXPECT_EQ(cancela.opened(), 1);
  }
  EXPECT_EQ(callsOf("GetPrincipal"), before + 1) << "cancelled: loaded once, after the dialog";

  activate();
  {
    hostkit::ModalAnswer confirma(
        [](QWidget* dialog) { qobject_cast<TfrmFiltroGeraNF*>(dialog)->sbtConfirma->click(); });
    tela.mnuFiltrar->trigger();
    EXPECT_EQ(confirma.opened(), 1);
  }
  EXPECT_EQ(callsOf("GetPrincipal"), before + 3) << "confirmed: by the dialog and again after it";
  EXPECT_TRUE(host->busyBalanced());
}

TEST_F(SalesGrid, PrintOpensTheReportAndSearchGoesToTheHost) {
  TfrmGeraNF& tela = listed({SaleItem{}, SaleItem{}});
  QString aberto;
  hostkit::ModalAnswer fecha([&](QWidget* dialog) {
    if (qobject_cast<TfrmRelProdEvol*>(dialog)) aberto = dialog->windowTitle();
    dialog->close();
  });
  tela.sbtImprimir->click();
  EXPECT_EQ(aberto, "Produtos não Evoluídos em Estoque");

  activate();
  tela.sbtProcurar->click();
  ASSERT_EQ(host->procuraCalls.size(), 1);
  EXPECT_EQ(host->procuraCalls[0].dataset, "cdsPrincipal");
  EXPECT_EQ(host->procuraCalls[0].rows, 2);
}

TEST_F(SalesGrid, ScreenshotWithData) {
  std::vector<SaleItem> items;
  const char* nomes[] = {"Arroz tipo 1 5kg",   "Feijão carioca 1kg", "Óleo de soja 900ml", "Café torrado 500g",
                         "Açúcar cristal 2kg", "Leite integral 1l",  "Macarrão espaguete", "Farinha de trigo 1kg"};
  for (int i = 0; i < 8; ++i) {
    SaleItem item;
    item.caixa = i < 4 ? "001" : "002";
    item.venda = QString::number(1000 + i / 2).rightJustified(10, '0').toStdString();
    item.cupom = QString::number(4500 + i / 2).rightJustified(6, '0').toStdString();
    item.produto = "P" + std::to_string(i + 1);
    item.arvore = QString::number(10102000 + i).toStdString();
    item.nome = nomes[i];
    item.quantidade = 1 + i * 1.5;
    item.unitario = 3.49 + i * 2.1;
    item.cliente = i % 3 == 0 ? "Mercado Bom Preço Ltda" : "Consumidor final";
    if (i < 3) item.lancamento = std::to_string(70 + i);
    if (i == 5) item.situacao = "D";
    items.push_back(item);
  }
  TfrmGeraNF& tela = listed(items);
  tela.frameWindow()->resize(1180, 560);
  tela.dbgPadrao->setFocus();
  select(3, "NMPRODUTO");
  QApplication::processEvents();
  const QImage shot = tela.frameWindow()->grab().toImage();
  ASSERT_FALSE(shot.isNull());
  const QString folder = QDir(binPath(QStringLiteral("../screenshots"))).absolutePath();
  ASSERT_TRUE(QDir().mkpath(folder));
  const QString file = folder + "/consolidacao.png";
  ASSERT_TRUE(shot.save(file)) << file.toStdString();
  EXPECT_GT(QFileInfo(file).size(), 1000);
  EXPECT_GT(pixelsNear(shot, kIconGreen), 3 * 20) << "three consolidated items";
  EXPECT_GT(pixelsNear(shot, kIconRed), 5 * 20) << "five pending items";
  EXPECT_GT(pixelsNear(shot, kPurple, 40), 5) << "one returned sale";
}

}  // namespace
