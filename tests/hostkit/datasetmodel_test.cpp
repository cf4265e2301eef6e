// The grid model: shows the dataset's rows without copying them, follows
// its states and rows, and keeps the grid's current row and the cursor together.
#include <QHeaderView>
#include <QSignalSpy>
#include <QTableView>

#include "fixtures.h"
#include <hostkit/widgets/datasetmodel.h>

using namespace hostkit;

namespace {

void fillStores(TDataSet& ds) {
  fillTextDataSet(ds, {{"CDLOJA", "Código"}, {"NMLOJA", "Nome"}, {"CDALMOXARIFE", "", false}},
                  {{"01", "Centro", "A1"}, {"02", "Praia", "A2"}, {"03", "Serra", "A3"}});
}

packet::Packet twoColumnPacket(int rows) {
  packet::Packet p({{"CODIGO", FieldType::Text, 4}, {"VALOR", FieldType::Float, 0}});
  for (int r = 0; r < rows; ++r) {
    p.columns[0].appendText(std::to_string(r));
    p.columns[1].appendNumber(r * 1.5);
  }
  return p;
}

}  // namespace

TEST(DataSetModel, DefaultColumnsAreTheVisibleFieldsTitledByTheirLabels) {
  TDataSet ds(nullptr, "qryLoja");
  fillStores(ds);
  TDataSetModel model(&ds, nullptr);

  ASSERT_EQ(model.columnCount(), 2);
  EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), "Código");
  EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), "Nome");
  EXPECT_EQ(model.rowCount(), 3);
  EXPECT_EQ(model.data(model.index(1, 1)).toString(), "Praia");
  EXPECT_EQ(model.data(model.index(2, 0), TDataSetModel::FieldNameRole).toString(), "CDLOJA");
  EXPECT_FALSE(model.flags(model.index(0, 0)) & Qt::ItemIsEditable);
}

TEST(DataSetModel, ExplicitColumnsPickFieldsTitlesWidthsAndAlignment) {
  TDataSet ds(nullptr, "qryLoja");
  fillStores(ds);
  TDataSetModel model(&ds, nullptr);
  model.setColumns({{"CDALMOXARIFE", "Almox.", 40, Qt::AlignRight | Qt::AlignVCenter},
                    {"NMLOJA", "Loja", 0, Qt::AlignLeft | Qt::AlignVCenter},
                    {"SEMCAMPO", "Nada", 10, Qt::AlignLeft}});

  EXPECT_EQ(model.columnCount(), 3);
  EXPECT_EQ(model.data(model.index(0, 0)).toString(), "A1");  // a hidden field can still be a column
  EXPECT_EQ(model.data(model.index(0, 0), Qt::TextAlignmentRole).value<Qt::Alignment>(),
            Qt::AlignRight | Qt::AlignVCenter);
  EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), "Loja");
  EXPECT_EQ(model.fieldAt(2), nullptr);
  EXPECT_EQ(model.data(model.index(0, 2)).toString(), "");
  const QFontMetrics metrics(QApplication::font());
  EXPECT_GE(model.columnWidth(0, metrics) * kLayoutCharWidth, 40 * metrics.averageCharWidth()) << "scaled to the font";
  EXPECT_GE(model.columnWidth(0, metrics), metrics.horizontalAdvance("A1")) << "a short field shows whole";
  EXPECT_GT(model.columnWidth(1, metrics), metrics.horizontalAdvance("Loja"));
}

TEST(DataSetModel, FollowsCloseOpenAppendAndPacketLoads) {
  TDataSet ds(nullptr, "cdsLista");
  TDataSetModel model(&ds, nullptr);
  QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
  QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);

  ASSERT_TRUE(ds.LoadPacket(twoColumnPacket(5)).ok());
  EXPECT_EQ(model.rowCount(), 5);
  EXPECT_EQ(model.columnCount(), 2);  // fields taken from the packet
  EXPECT_EQ(model.data(model.index(4, 0)).toString(), "4");
  EXPECT_EQ(model.data(model.index(4, 1), Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignRight,
            Qt::AlignRight);

  ds.Close();
  EXPECT_EQ(model.rowCount(), 0);  // a closed list shows no rows
  ds.Open();
  ds.Append();
  ds.FieldByName("CODIGO")->SetAsString("novo");
  ds.Post();
  EXPECT_EQ(model.rowCount(), 1);
  EXPECT_EQ(inserted.count(), 1);
  EXPECT_EQ(model.data(model.index(0, 0)).toString(), "novo");

  ASSERT_TRUE(ds.LoadPacket(twoColumnPacket(2)).ok());
  EXPECT_EQ(model.rowCount(), 2);
  EXPECT_GE(resets.count(), 3);
}

TEST(DataSetModel, FollowsTheDataSetOfItsDataSource) {
  TDataSet first(nullptr, "cdsA"), second(nullptr, "cdsB");
  fillStores(first);
  ASSERT_TRUE(second.LoadPacket(twoColumnPacket(7)).ok());
  TDataSource source(nullptr, "dtsLista");
  source.SetDataSet(&first);
  TDataSetModel model(&source, nullptr);
  EXPECT_EQ(model.rowCount(), 3);

  source.SetDataSet(&second);
  second.Close();
  second.Open();  // its next notification tells the model about the new dataset
  EXPECT_EQ(model.dataSet(), &second);
  EXPECT_EQ(model.columnCount(), 2);
}

TEST(DataSetGrid, SetupGivesFixedRowsNoIndicatorReadOnlyRowSelection) {
  QTableView view;
  setupGrid(&view);
  EXPECT_TRUE(view.verticalHeader()->isHidden());
  EXPECT_EQ(view.verticalHeader()->sectionResizeMode(0), QHeaderView::Fixed);
  EXPECT_EQ(view.editTriggers(), QAbstractItemView::NoEditTriggers);
  EXPECT_EQ(view.selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_EQ(view.selectionMode(), QAbstractItemView::SingleSelection);
  EXPECT_FALSE(view.horizontalHeader()->isHidden());
}

TEST(DataSetGrid, CurrentRowAndCursorFollowEachOther) {
  TDataSet ds(nullptr, "qryLoja");
  fillStores(ds);
  QTableView view;
  setupGrid(&view);
  TDataSetModel model(&ds, nullptr);
  bindGrid(&view, &model);
  view.resize(400, 200);
  ASSERT_TRUE(showActive(view));
  EXPECT_EQ(view.currentIndex().row(), 0);

  ds.SetRecNo(2);
  EXPECT_EQ(view.currentIndex().row(), 2);

  view.setFocus();
  QTest::keyClick(&view, Qt::Key_Up);
  EXPECT_EQ(ds.RecNo(), 1);
  EXPECT_EQ(ds.FieldByName("NMLOJA")->AsString(), "Praia");

  const QRect firstRow = view.visualRect(model.index(0, 1));
  QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, firstRow.center());
  EXPECT_EQ(ds.RecNo(), 0);
  EXPECT_GE(view.columnWidth(0), model.columnWidth(0, view.fontMetrics()));
  EXPECT_GE(view.columnWidth(0), view.horizontalHeader()->sectionSizeHint(0)) << "the title whole";
}

TEST(DataSetGrid, LargeListIsShownWithoutTouchingEveryRow) {
  TDataSet ds(nullptr, "cdsPrincipal");
  ASSERT_TRUE(ds.LoadPacket(twoColumnPacket(200000)).ok());
  QTableView view;
  setupGrid(&view);
  TDataSetModel model(&ds, nullptr);
  bindGrid(&view, &model);
  view.resize(400, 300);
  ASSERT_TRUE(showActive(view));
  EXPECT_EQ(model.rowCount(), 200000);
  // Fixed heights: the last row's position follows from the row count alone.
  EXPECT_EQ(view.rowViewportPosition(199999) - view.rowViewportPosition(0),
            199999 * view.verticalHeader()->defaultSectionSize());
  ds.Last();
  EXPECT_EQ(view.currentIndex().row(), 199999);
}
