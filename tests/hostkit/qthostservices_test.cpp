// The host application's services with real dialogs, driven like the operator.
#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTableView>

#include "fixtures.h"
#include "modaldriver.h"
#include <hostkit/core/abort.h>
#include <hostkit/widgets/qthostservices.h>
#include <hostkit/widgets/runscreens.h>

using namespace hostkit;

namespace {

class QtServices : public ::testing::Test {
 protected:
  QtServices() {
    HostSession session;
    session.operador = "OPER";
    services = std::make_shared<QtHostServices>(session);
    installHostServices(services);
    window.resize(400, 300);
  }
  void SetUp() override { ASSERT_TRUE(showActive(window)); }

  std::shared_ptr<QtHostServices> services;
  QWidget window;
};

QStringList buttonTexts(QWidget* dialog) {
  QStringList texts;
  for (auto* b : dialog->findChildren<QAbstractButton*>())
    if (b->isVisible()) texts << b->text();
  texts.sort();
  return texts;
}

void fillCashRegisters(TDataSet& ds) {
  fillTextDataSet(ds, {{"CDCAIXA", "Código"}, {"NMCAIXA", "Nome"}, {"CODIGO", "", false}},
                  {{"001", "Caixa um", "A"}, {"002", "Caixa dois", "B"}, {"003", "Caixa tres", "C"}});
}

QTableView* listIn(QWidget* dialog) { return dialog->findChild<QTableView*>("grdLista"); }

// ---- message dialogs --------------------------------------------------------------

TEST_F(QtServices, QuestionHasPortugueseButtonsAndAnswersWithThePlatformNumbers) {
  QStringList shown;
  onNextModal([&](QWidget* box) {
    shown = buttonTexts(box);
    clickButton(box, "Não");
  });
  EXPECT_EQ(MessageDlg("Confirma operação?", MsgDlgType::Confirmation, mbYes | mbNo, 0), mrNo);
  EXPECT_EQ(shown, QStringList({"Não", "Sim"}));

  onNextModal([](QWidget* box) { clickButton(box, "Sim"); });
  EXPECT_EQ(MessageDlg("Confirma operação?", MsgDlgType::Confirmation, mbYes | mbNo, 0), mrYes);
  onNextModal([](QWidget* box) { clickButton(box, "Cancelar"); });
  EXPECT_EQ(MessageDlg("Continua?", MsgDlgType::Warning, mbOK | mbCancel, 0), mrCancel);
  onNextModal([](QWidget* box) { clickButton(box, "OK"); });
  EXPECT_EQ(MessageDlg("Pronto.", MsgDlgType::Information, mbOK, 0), mrOk);
  onNextModal([](QWidget* box) { QTest::keyClick(box, Qt::Key_Escape); });
  EXPECT_EQ(MessageDlg("Confirma?", MsgDlgType::Confirmation, mbYes | mbNo, 0), mrNo);
}

TEST_F(QtServices, ErrorBoxIsTitledErroAndExceptionShowsDetailsOnRequest) {
  QString title, text;
  onNextModal([&](QWidget* box) {
    title = box->windowTitle();
    text = static_cast<QMessageBox*>(box)->text();
    clickButton(box, "OK");
  });
  MensErro("Loja não cadastrada.", false);
  EXPECT_EQ(title, "Erro");
  EXPECT_EQ(text, "Loja não cadastrada.");

  bool hiddenFirst = false, shownAfter = false;
  onNextModal([&](QWidget* dialog) {
    auto* details = dialog->findChild<QPlainTextEdit*>("txtDetalhes");
    hiddenFirst = details->isHidden();
    clickButton(dialog, "Detalhes");
    shownAfter = details->isVisible() && details->toPlainText() == "pilha";
    clickButton(dialog, "OK");
  });
  services->showException("Falha de comunicação.", "pilha");
  EXPECT_TRUE(hiddenFirst);
  EXPECT_TRUE(shownAfter);
}

// ---- list picker ------------------------------------------------------------------

class ListPicker : public QtServices {
 protected:
  ListPicker() {
    fillCashRegisters(registers);
    source.SetDataSet(&registers);
  }
  TDataSet registers{nullptr, "qryCaixa"};
  TDataSource source{nullptr, "dtsCaixa"};
};

TEST_F(ListPicker, MarkedKeysAreWrittenInListOrderAndPreviousKeysComeMarked) {
  QString list = "_B_";
  QString caption;
  onNextModal([&](QWidget* dialog) {
    caption = dialog->windowTitle();
    QTableView* view = listIn(dialog);
    QTest::keyClick(view, Qt::Key_Space);  // marks A (first row)
    QTest::keyClick(view, Qt::Key_Down);
    QTest::keyClick(view, Qt::Key_Space);  // unmarks B, which came marked
    QTest::keyClick(view, Qt::Key_Down);
    QTest::keyClick(view, Qt::Key_Space);  // marks C
    clickButton(dialog, "OK");
  });
  EXPECT_TRUE(PesquisaLista(&source, "CODIGO", "Caixa|Não há caixa cadastrado.", false, list));
  EXPECT_EQ(list, "_A__C_");
  EXPECT_EQ(caption, "Caixa");
}

TEST_F(ListPicker, CancelKeepsThePreviousList) {
  QString list = "_A__B_";
  onNextModal([](QWidget* dialog) {
    clickButton(dialog, "Desmarcar todos");
    clickButton(dialog, "Cancelar");
  });
  EXPECT_FALSE(PesquisaLista(&source, "CODIGO", "Caixa", false, list));
  EXPECT_EQ(list, "_A__B_");
}

TEST_F(ListPicker, NothingMarkedWritesAnEmptyList) {
  QString list = "_C_";
  onNextModal([](QWidget* dialog) {
    clickButton(dialog, "Desmarcar todos");
    QTest::keyClick(listIn(dialog), Qt::Key_Return);
  });
  EXPECT_TRUE(PesquisaLista(&source, "CODIGO", "Caixa", false, list));
  EXPECT_EQ(list, "");
}

TEST_F(ListPicker, QuickFilterNarrowsWhatMarkAllMarks) {
  QString list;
  int shownRows = 0;
  onNextModal([&](QWidget* dialog) {
    QTest::keyClicks(dialog->findChild<QLineEdit*>("edtFiltro"), "DOIS");
    shownRows = listIn(dialog)->model()->rowCount();
    clickButton(dialog, "Marcar todos");
    clickButton(dialog, "OK");
  });
  EXPECT_TRUE(PesquisaLista(&source, "CODIGO", "Caixa", false, list));
  EXPECT_EQ(shownRows, 1);
  EXPECT_EQ(list, "_B_");
}

TEST_F(ListPicker, ClosedListIsOpenedFirst) {
  TDataSet consumption(nullptr, "qryTipoCons");
  FieldSpec code;
  code.name = "CDTIPOCONS";
  consumption.AddField(code);
  bool openedWhenShown = false;
  consumption.BeforeOpen = [&](TDataSet&) { openedWhenShown = true; };
  TDataSource consumptionSource(nullptr, "dtsTipoCons");
  consumptionSource.SetDataSet(&consumption);
  QString list = "_1_";
  onNextModal([](QWidget* dialog) { clickButton(dialog, "OK"); });
  EXPECT_TRUE(PesquisaLista(&consumptionSource, "CDTIPOCONS", "Tipo de Consumidor", false, list));
  EXPECT_TRUE(openedWhenShown);
  EXPECT_TRUE(consumption.Active());
  EXPECT_EQ(list, "");
}

TEST_F(ListPicker, EmptyListShowsItsEmptyTextAndKeepsTheList) {
  registers.EmptyDataSet();
  QString list = "_A_", shown;
  onNextModal([&](QWidget* box) {
    shown = static_cast<QMessageBox*>(box)->text();
    clickButton(box, "OK");
  });
  EXPECT_FALSE(PesquisaLista(&source, "CODIGO", "Venda|Não há vendas concluídas.", false, list));
  EXPECT_EQ(shown, "Não há vendas concluídas.");
  EXPECT_EQ(list, "_A_");
}

// As operators type: accents and case aside, in the quick filter and the
// record search. The server's own mark column is not shown (the check boxes
// are the marks), and the columns show their texts whole while there is room.
TEST_F(ListPicker, FiltersIgnoreAccentsTheServersMarkIsNotShownAndNothingIsCut) {
  TDataSet products(nullptr, "cdsProdutos");
  const QString longName = "Açúcar cristal especial, pacote de cinco quilos com tampa";
  fillTextDataSet(products, {{"IDMARCADO"}, {"CDPRODUTO", "Código"}, {"NMPRODUTO", "Nome"}},
                  {{"N", "P1", longName}, {"N", "P2", "Café torrado"}, {"N", "P3", "Passagem Rodoviária"}});
  TDataSource productsSource(nullptr, "dtsProdutos");
  productsSource.SetDataSet(&products);
  QStringList titles;
  QMap<QString, int> shownFor;
  bool whole = true;
  onNextModal([&](QWidget* dialog) {
    QTableView* view = listIn(dialog);
    for (int c = 0; c < view->model()->columnCount(); ++c) {
      titles << view->model()->headerData(c, Qt::Horizontal).toString();
      for (int r = 0; r < view->model()->rowCount(); ++r) {
        const QString text = view->model()->index(r, c).data().toString();
        whole = whole && view->columnWidth(c) > view->fontMetrics().horizontalAdvance(text);
      }
    }
    whole = whole && dialog->width() <= dialog->screen()->availableSize().width();
    auto* filter = dialog->findChild<QLineEdit*>("edtFiltro");
    for (const char* typed : {"acucar", "ACÚCAR", "rodovia", "cafe", "açucar crist", "feijao"}) {
      filter->setText(QString::fromUtf8(typed));
      shownFor[QString::fromUtf8(typed)] = view->model()->rowCount();
    }
    filter->setText("rodovia");
    clickButton(dialog, "Marcar todos");
    clickButton(dialog, "OK");
  });
  QString list;
  EXPECT_TRUE(PesquisaLista(&productsSource, "CDPRODUTO", "Produtos", false, list));
  EXPECT_EQ(titles, (QStringList{"Código", "Nome"})) << "no IDMARCADO column";
  EXPECT_TRUE(whole) << "a cut column while the screen has room";
  const QMap<QString, int> expected = {{"acucar", 1}, {"ACÚCAR", 1}, {"rodovia", 1},
                                       {"cafe", 1},   {"feijao", 0}, {QString::fromUtf8("açucar crist"), 1}};
  EXPECT_EQ(shownFor, expected);
  EXPECT_EQ(list, "_P3_");

  const int name = products.FieldByName("NMPRODUTO")->index();
  EXPECT_EQ(findNextRow(products, name, "ACUCAR", -1), 0);
  EXPECT_EQ(findNextRow(products, name, "rodoviaria", 0), 2);
  EXPECT_EQ(findNextRow(products, name, "cafe", 2), 1);
}

// ---- record search ------------------------------------------------------------------

TEST_F(ListPicker, RecordSearchMovesTheCursorToThePickedRow) {
  QString title;
  onNextModal([&](QWidget* dialog) {
    title = dialog->windowTitle();
    QTest::keyClicks(dialog->findChild<QLineEdit*>("edtFiltro"), "tres");
    QTest::keyClick(dialog->findChild<QLineEdit*>("edtFiltro"), Qt::Key_Down);
    QTest::keyClick(listIn(dialog), Qt::Key_Return);
  });
  EXPECT_TRUE(services->pickRecord(&registers, "Caixa", "Não há caixa cadastrado."));
  EXPECT_EQ(registers.RecNo(), 2);
  EXPECT_EQ(title, "Caixa");

  onNextModal([](QWidget* dialog) { clickButton(dialog, "Cancelar"); });
  EXPECT_FALSE(services->pickRecord(&registers, "Caixa", {}));
  EXPECT_EQ(registers.RecNo(), 2);
}

TEST_F(ListPicker, RecordSearchOverAnEmptyListShowsTheEmptyError) {
  registers.EmptyDataSet();
  QString shown;
  onNextModal([&](QWidget* box) {
    shown = static_cast<QMessageBox*>(box)->text();
    clickButton(box, "OK");
  });
  EXPECT_FALSE(services->pickRecord(&registers, "Caixa", "Não há caixa cadastrado."));
  EXPECT_EQ(shown, "Não há caixa cadastrado.");
}

TEST_F(ListPicker, FindNextSearchesTheChosenColumnIgnoringCaseAndWraps) {
  registers.First();
  QStringList messages;
  onNextModal([&](QWidget* dialog) {
    auto* column = dialog->findChild<QComboBox*>("cbbCampo");
    column->setCurrentIndex(column->findText("Nome"));
    QTest::keyClicks(dialog->findChild<QLineEdit*>("edtTexto"), "CAIXA");
    clickButton(dialog, "Procurar");
    EXPECT_EQ(registers.RecNo(), 1);
    clickButton(dialog, "Procurar");
    EXPECT_EQ(registers.RecNo(), 2);
    clickButton(dialog, "Procurar");
    EXPECT_EQ(registers.RecNo(), 0);  // round to the start
    dialog->findChild<QLineEdit*>("edtTexto")->setText("zzz");
    onNextModal([&](QWidget* box) {
      messages << static_cast<QMessageBox*>(box)->text();
      clickButton(box, "OK");
    });
    clickButton(dialog, "Procurar");
    clickButton(dialog, "Fechar");
  });
  Procura(&registers, &window);
  EXPECT_EQ(messages, QStringList({"Não encontrado."}));
  EXPECT_EQ(registers.RecNo(), 0);
  EXPECT_EQ(findNextRow(registers, 0, "00", 2), 0);
  EXPECT_EQ(findNextRow(registers, 0, "", 0), -1);
}

// ---- busy animation, host screens, pictures -----------------------------------------------

TEST_F(QtServices, BusyOverlayCoversTheFormUntilEveryOpenIsClosed) {
  ActiveShowAvi(&window, 6, "Consultando vendas...");
  auto* overlay = window.findChild<QWidget*>("ovlAguarde");
  ASSERT_NE(overlay, nullptr);
  EXPECT_TRUE(overlay->isVisible());
  EXPECT_EQ(overlay->geometry(), window.rect());
  EXPECT_EQ(overlay->findChild<QLabel*>("lblAguarde")->text(), "Consultando vendas...");
  {
    BusyAnimation nested(&window, 6);
    EXPECT_EQ(services->busyDepth(), 2);
  }
  EXPECT_NE(window.findChild<QWidget*>("ovlAguarde"), nullptr);
  DeactiveShowAvi();
  EXPECT_EQ(window.findChild<QWidget*>("ovlAguarde"), nullptr);
  DeactiveShowAvi();  // one close too many does no harm
  EXPECT_EQ(services->busyDepth(), 0);
}

// The run's two screens: what happened in words, plain titles, no error
// code, the balance in Brazilian form, and the list for a spreadsheet.
TEST_F(QtServices, RunScreensSayWhatHappenedAndCopyTheListForASpreadsheet) {
  TDataSet irregular(&window, "cdsIrregEst");
  fillTextDataSet(irregular,
                  {{"CdErro"},
                   {"CdObjeto"},
                   {"CdObjeto2"},
                   {"CdObjeto3"},
                   {"CdObjeto4"},
                   {"CdObjeto5"},
                   {"QtLancEstq"},
                   {"QtSaldoFinal"}},
                  {{"LIB00200_3", "0001", "000037 Panetone; 500g", "000001", "000001", "0", "1234.5", "-1234.5"}});
  QString heading;
  QStringList titles, cells;
  onNextModal([&](QWidget* dialog) {
    auto* grid = dialog->findChild<QTableView*>("grdDados");
    for (int c = 0; c < grid->model()->columnCount(); ++c) {
      titles << grid->model()->headerData(c, Qt::Horizontal).toString();
      cells << grid->model()->index(0, c).data().toString();
    }
    heading = dialog->findChild<QLabel*>("lblTitulo")->text();
    clickButton(dialog, "Copiar");
    clickButton(dialog, "Fechar");
  });
  CriaLancIrreg("37", &window);
  EXPECT_TRUE(heading.contains("37")) << heading.toStdString();
  EXPECT_EQ(titles.size(), 7);
  EXPECT_FALSE(cells.contains("LIB00200_3"));
  EXPECT_EQ(cells.mid(4), (QStringList{"0,000", "1.234,500", "-1.234,500"})) << "before, taken out, after";
  const QStringList copied = QApplication::clipboard()->text().split('\n');
  EXPECT_EQ(copied.value(0), titles.join('\t'));
  EXPECT_EQ(copied.value(1), cells.join('\t'));
  EXPECT_EQ(runListText(irregular, irregularStockScreen("37").columns, ';').split('\n').value(1),
            "0001;\"000037 Panetone; 500g\";000001;000001;0,000;1.234,500;-1.234,500");

  onNextModal([&](QWidget* dialog) {
    heading = dialog->findChild<QLabel*>("lblTitulo")->text();
    clickButton(dialog, "Fechar");
  });
  CriaLancIrreg("0", &window);
  EXPECT_FALSE(heading.contains("lançamento 0")) << "nothing was posted: " << heading.toStdString();
  EXPECT_NE(heading, irregularStockScreen("37").heading);

  EXPECT_THROW(CriaBloqConsolida(&window), EHostError);  // the owner has no cdsBloqConsolida
}

TEST_F(QtServices, PicturesForProductTreeAndPersonTypes) {
  EXPECT_EQ(DBPict(0), "9.99.99.999;0;_");
  EXPECT_EQ(DBPict(1), "");
  EXPECT_EQ(PictPess("F"), "999.999.999-99;0;_");
  EXPECT_EQ(PictPess("J"), "99.999.999/9999-99;0;_");
  EXPECT_EQ(PictPess("X"), "");
  EXPECT_EQ(Operador(), "OPER");
}

}  // namespace
