// The in-memory dataset: packets replace rows, fixed fields are enforced,
// states are signalled, calculated fields are computed per row.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <cmath>
#include <limits>

#include <hostkit/core/abort.h>
#include <hostkit/core/dataset.h>
#include <hostkit/core/netconnection.h>
#include <proto/qfx31700.pb.h>

using namespace hostkit;

static FieldSpec field(const char* name, FieldType type, bool calculated = false) {
  FieldSpec f;
  f.name = QString::fromLatin1(name);
  f.type = type;
  f.calculated = calculated;
  return f;
}

static packet::Packet itemsPacket(std::vector<std::pair<std::string, std::optional<std::string>>> rows) {
  packet::Packet p({{"CDPRODUTO", FieldType::Text, 10},
                    {"NRLANCESTQ", FieldType::Text, 10},
                    {"QTPRODVEND", FieldType::Float, 0},
                    {"EXTRA", FieldType::Integer, 0}});
  for (auto& [code, lanc] : rows) {
    p.columns[0].appendText(code);
    lanc ? p.columns[1].appendText(*lanc) : p.columns[1].appendNull();
    p.columns[2].appendNumber(2.5);
    p.columns[3].appendInteger(1);
  }
  return p;
}

TEST(DataSet, PacketReplacesRowsOpensAndIgnoresExtraColumns) {
  TDataSet ds(nullptr, "cdsItens");
  ds.AddField(field("CDPRODUTO", FieldType::Text));
  ds.AddField(field("NRLANCESTQ", FieldType::Text));
  ds.AddField(field("QTPRODVEND", FieldType::Float));
  EXPECT_FALSE(ds.Active());

  ASSERT_TRUE(ds.LoadPacket(itemsPacket({{"A", std::nullopt}, {"B", "10"}})).ok());
  EXPECT_EQ(ds.State(), DataSetState::Browse);
  EXPECT_EQ(ds.RecordCount(), 2);
  EXPECT_EQ(ds.FieldCount(), 3);
  EXPECT_EQ(ds.FindField("EXTRA"), nullptr);

  ASSERT_TRUE(ds.LoadPacket(itemsPacket({{"C", "1"}})).ok());
  EXPECT_EQ(ds.RecordCount(), 1);
  ds.First();
  EXPECT_EQ(ds.FieldByName("CDPRODUTO")->AsString(), "C");
  EXPECT_DOUBLE_EQ(ds.FieldByName("qtprodvend")->AsFloat(), 2.5);
}

TEST(DataSet, MissingOrIncompatibleFixedFieldIsAnErrorNamingItAndKeepsRows) {
  TDataSet ds(nullptr, "cdsItens");
  ds.AddField(field("CDPRODUTO", FieldType::Text));
  ds.AddField(field("VRSALDO", FieldType::Float));
  packet::Packet good({{"CDPRODUTO", FieldType::Text, 10}, {"VRSALDO", FieldType::Integer, 0}});
  good.columns[0].appendText("X");
  good.columns[1].appendInteger(3);
  ASSERT_TRUE(ds.LoadPacket(std::move(good)).ok());  // integer into float converts
  EXPECT_DOUBLE_EQ(ds.FieldByName("VRSALDO")->AsFloat(), 3.0);

  auto missing = ds.LoadPacket(itemsPacket({{"A", std::nullopt}}));
  ASSERT_FALSE(missing.ok());
  EXPECT_TRUE(missing.error().contains("VRSALDO"));
  EXPECT_EQ(ds.RecordCount(), 1);
  EXPECT_EQ(ds.FieldByName("CDPRODUTO")->AsString(), "X");

  packet::Packet wrongType({{"CDPRODUTO", FieldType::Boolean, 0}, {"VRSALDO", FieldType::Float, 0}});
  auto incompatible = ds.LoadPacket(std::move(wrongType));
  ASSERT_FALSE(incompatible.ok());
  EXPECT_TRUE(incompatible.error().contains("CDPRODUTO"));
  EXPECT_THROW(ds.FieldByName("NOPE"), EDatabaseError);
}

TEST(DataSet, DatasetWithoutFixedFieldsTakesThePacketsFields) {
  TDataSet ds(nullptr, "cdsErroConsolida");
  ASSERT_TRUE(ds.LoadPacket(itemsPacket({{"A", "1"}})).ok());
  EXPECT_EQ(ds.FieldCount(), 4);
  EXPECT_EQ(ds.FieldByName("EXTRA")->AsInteger(), 1);
}

TEST(DataSet, StateChangeSignalsOnOpenCloseAndLoad) {
  TDataSet ds(nullptr, "cds");
  ds.AddField(field("CDPRODUTO", FieldType::Text));
  QSignalSpy states(&ds, &TDataSet::stateChanged);
  QSignalSpy resets(&ds, &TDataSet::dataReset);
  ds.Open();
  EXPECT_EQ(states.count(), 1);
  ds.EmptyDataSet();
  EXPECT_EQ(states.count(), 1);  // emptying keeps the state
  EXPECT_GE(resets.count(), 2);
  packet::Packet p({{"CDPRODUTO", FieldType::Text, 10}});
  ASSERT_TRUE(ds.LoadPacket(std::move(p)).ok());
  EXPECT_EQ(states.count(), 3);  // closed, then browsing again
  ds.Close();
  EXPECT_EQ(states.count(), 4);
  EXPECT_EQ(ds.RecordCount(), 0);
}

TEST(DataSet, CalculatedFieldsAreComputedPerRowAndOnPost) {
  TDataSet ds(nullptr, "cdsPrincipal");
  ds.AddField(field("CDPRODUTO", FieldType::Text));
  ds.AddField(field("NRLANCESTQ", FieldType::Text));
  ds.AddField(field("IDNOTAFISCAL", FieldType::Boolean, true));
  ds.OnCalcFields = [](TDataSet& d) {
    d.FieldByName("IDNOTAFISCAL")->SetAsBoolean(!d.FieldByName("NRLANCESTQ")->IsNull());
  };
  ASSERT_TRUE(ds.LoadPacket(itemsPacket({{"A", std::nullopt}, {"B", "77"}, {"C", std::nullopt}})).ok());
  std::vector<bool> status;
  for (ds.First(); !ds.Eof(); ds.Next()) status.push_back(ds.FieldByName("IDNOTAFISCAL")->AsBoolean());
  EXPECT_EQ(status, (std::vector<bool>{false, true, false}));

  ds.Append();
  ds.FieldByName("CDPRODUTO")->SetAsString("D");
  ds.FieldByName("NRLANCESTQ")->SetAsString("5");
  ds.Post();
  EXPECT_EQ(ds.RecordCount(), 4);
  EXPECT_TRUE(ds.FieldByName("IDNOTAFISCAL")->AsBoolean());
  EXPECT_THROW(ds.FieldByName("CDPRODUTO")->SetAsString("no edit state"), EDatabaseError);
}

// Null and blank as the calculated fields ask them, per row: from the stored
// columns, from the record being edited, and on an empty or closed dataset;
// a date beyond range is null as its value is.
TEST(DataSet, NullAndBlankFromStoredRowsTheEditedRecordAndNoRow) {
  TDataSet ds(nullptr, "cdsItens");
  ds.AddField(field("CDPRODUTO", FieldType::Text));
  ds.AddField(field("NRLANCESTQ", FieldType::Text));
  ds.AddField(field("QTPRODVEND", FieldType::Float));
  TField* posting = ds.FieldByName("NRLANCESTQ");
  TField* quantity = ds.FieldByName("QTPRODVEND");
  EXPECT_TRUE(posting->IsNull());  // closed: no row
  EXPECT_TRUE(posting->IsBlank());
  ASSERT_TRUE(ds.LoadPacket(itemsPacket({{"A", std::nullopt}, {"B", ""}, {"C", "10"}})).ok());
  std::vector<std::pair<bool, bool>> seen;
  for (ds.First(); !ds.Eof(); ds.Next()) seen.emplace_back(posting->IsNull(), posting->IsBlank());
  EXPECT_EQ(seen, (std::vector<std::pair<bool, bool>>{{true, true}, {false, true}, {false, false}}));
  EXPECT_FALSE(quantity->IsNull());
  EXPECT_FALSE(quantity->IsBlank());

  ds.First();
  ds.Edit();
  posting->SetAsString("77");
  EXPECT_FALSE(posting->IsNull());
  EXPECT_FALSE(posting->IsBlank());
  posting->SetAsString("");
  EXPECT_FALSE(posting->IsNull());
  EXPECT_TRUE(posting->IsBlank());
  posting->Clear();
  EXPECT_TRUE(posting->IsNull());
  ds.Cancel();
  EXPECT_TRUE(posting->IsNull());

  packet::Packet dates({{"DTVENDA", FieldType::DateTime, 0}});
  dates.columns[0].appendNumber(1e300);
  dates.columns[0].appendNumber(toDateTime(QDate(2024, 3, 10)));
  TDataSet sales(nullptr, "cdsVendas");
  ASSERT_TRUE(sales.LoadPacket(std::move(dates)).ok());
  sales.First();
  EXPECT_TRUE(sales.FieldByName("DTVENDA")->IsNull());
  sales.Next();
  EXPECT_FALSE(sales.FieldByName("DTVENDA")->IsNull());

  ASSERT_TRUE(ds.LoadPacket(itemsPacket({})).ok());
  EXPECT_TRUE(posting->IsNull());
  EXPECT_TRUE(posting->IsBlank());
}

TEST(DataSet, CursorAndEditing) {
  TDataSet ds(nullptr, "cds");
  ds.AddField(field("CODE", FieldType::Text));
  ds.AddField(field("QTY", FieldType::Float));
  ds.CreateDataSet();
  EXPECT_TRUE(ds.Eof());
  for (const char* code : {"a", "b", "c"}) {
    ds.Append();
    ds.FieldByName("CODE")->SetAsString(QString::fromLatin1(code));
    ds.FieldByName("QTY")->SetAsFloat(1);
    ds.Post();
  }
  ds.First();
  ds.Next();
  ds.Edit();
  ds.FieldByName("CODE")->SetAsString("bee");
  ds.Post();
  QStringList codes;
  for (ds.First(); !ds.Eof(); ds.Next()) codes << ds.FieldByName("CODE")->AsString();
  EXPECT_EQ(codes, QStringList({"a", "bee", "c"}));
  ds.Last();
  EXPECT_EQ(ds.FieldByName("CODE")->AsString(), "c");
  ds.Append();
  ds.Cancel();
  EXPECT_EQ(ds.RecordCount(), 3);
}

TEST(DataSet, DateTimeValuesCountDaysFrom1899) {
  EXPECT_DOUBLE_EQ(toDateTime(QDate(1899, 12, 30)), 0.0);
  EXPECT_DOUBLE_EQ(toDateTime(QDate(1900, 1, 1)), 2.0);
  EXPECT_DOUBLE_EQ(toDateTime(QDate(1899, 1, 1)), -363.0);
  const QDateTime noon(QDate(2026, 12, 8), QTime(12, 0));
  EXPECT_DOUBLE_EQ(toDateTime(noon) - toDateTime(QDate(2026, 12, 8)), 0.5);
  EXPECT_EQ(fromDateTime(toDateTime(noon)), noon);
  // before the epoch the fraction still adds the time of day, as the server reads it
  const QDateTime early(QDate(1899, 12, 29), QTime(6, 0));
  EXPECT_DOUBLE_EQ(toDateTime(early), -1.25);
  EXPECT_EQ(fromDateTime(-1.25), early);
}

// A server may send any double: out-of-range dates read as null, numbers
// beyond 64 bits as the nearest integer, in the dataset and in a call's result.
TEST(DataSet, NumbersAndDatesBeyondRangeFromTheServer) {
  packet::Packet p({{"DTVENDA", FieldType::DateTime, 0}, {"QTPRODVEND", FieldType::Float, 0}});
  const double day = toDateTime(QDate(2024, 3, 10));
  for (double v : {1e300, -1e300, std::nan(""), day + 0.5}) {
    p.columns[0].appendNumber(v);
    p.columns[1].appendNumber(v);
  }
  TDataSet ds(nullptr, "cdsVendas");
  ASSERT_TRUE(ds.LoadPacket(std::move(p)).ok());
  const TField* date = ds.FieldByName("DTVENDA");
  const TField* quantity = ds.FieldByName("QTPRODVEND");
  for (int r = 0; r < 3; ++r) {
    EXPECT_FALSE(date->valueAt(r).isValid()) << "linha " << r;
    EXPECT_EQ(date->textAt(r), "") << "linha " << r;
  }
  EXPECT_EQ(date->valueAt(3).toDateTime(), QDateTime(QDate(2024, 3, 10), QTime(12, 0)));
  ds.First();
  EXPECT_EQ(quantity->AsInteger(), std::numeric_limits<qint64>::max());
  ds.Next();
  EXPECT_EQ(quantity->AsInteger(), std::numeric_limits<qint64>::min());
  ds.Next();
  EXPECT_EQ(quantity->AsInteger(), 0);
  EXPECT_FALSE(fromDateTime(std::numeric_limits<double>::infinity()).isValid());

  EXPECT_EQ(RemoteValue(1e300).toInteger(), std::numeric_limits<qint64>::max());
  EXPECT_EQ(RemoteValue(std::nan("")).toInteger(), 0);
  EXPECT_EQ(RemoteValue(-42.9).toInteger(), -42);
}

// A list loaded from the server keeps its one-letter and code columns in the
// compact form; reading, editing and appending rows behave as on any column.
TEST(DataSet, CompactColumnsFromTheServerReadAndEditAsAnyOther) {
  packet::Packet sent({{"CDPRODUTO", FieldType::Text, 10}, {"IDSITUVENDA", FieldType::Text, 1}});
  for (int r = 0; r < 500; ++r) {
    sent.columns[0].appendText("P" + std::to_string(r));
    r % 9 == 0 ? sent.columns[1].appendNull() : sent.columns[1].appendText(r % 2 ? "V" : "D");
  }
  // through the wire's assembler, as the client receives it
  qfx::rpc::PacketHeader header;
  packet::fillHeader(sent, 1, &header);
  packet::PacketAssembler assembler;
  ASSERT_FALSE(assembler.begin(header));
  packet::encodeChunks(sent, 1, 1 << 20, [&](qfx::rpc::PacketChunk&& chunk) { ASSERT_FALSE(assembler.add(chunk)); });
  ASSERT_FALSE(assembler.finish());

  TDataSet ds(nullptr, "cds");
  ASSERT_TRUE(ds.LoadPacket(assembler.take(1)).ok());
  ASSERT_TRUE(ds.column(1).isDictionary());
  ASSERT_EQ(ds.RecordCount(), 500);
  ds.First();
  ds.Next();
  EXPECT_EQ(ds.FieldByName("IDSITUVENDA")->AsString(), "V");
  ds.Edit();
  ds.FieldByName("IDSITUVENDA")->SetAsString("X");
  ds.Post();
  ds.Append();
  ds.FieldByName("CDPRODUTO")->SetAsString("NOVO");
  ds.FieldByName("IDSITUVENDA")->SetAsString("D");
  ds.Post();
  ASSERT_EQ(ds.RecordCount(), 501);
  int row = 0;
  for (ds.First(); !ds.Eof(); ds.Next(), ++row) {
    TField* situation = ds.FieldByName("IDSITUVENDA");
    if (row == 500) {
      EXPECT_EQ(ds.FieldByName("CDPRODUTO")->AsString(), "NOVO");
      EXPECT_EQ(situation->AsString(), "D");
    } else if (row == 1) {
      EXPECT_EQ(situation->AsString(), "X");
    } else {
      ASSERT_EQ(situation->IsNull(), row % 9 == 0) << row;
      if (row % 9) {
        ASSERT_EQ(situation->AsString(), row % 2 ? "V" : "D") << row;
      }
      ASSERT_EQ(ds.FieldByName("CDPRODUTO")->AsString().toStdString(), "P" + std::to_string(row));
    }
  }
}
