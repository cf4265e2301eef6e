// Columnar packets: what the server encodes is what the client rebuilds,
// across chunk boundaries, with nulls; damaged chunks are errors, not crashes.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include <proto/packet_codec.h>
#include <proto/qfx31700.pb.h>

using namespace qfx;
using packet::FieldType;

static packet::Packet sample(int rows) {
  packet::Packet p({{"CODE", FieldType::Text, 10},
                    {"QTY", FieldType::Float, 0},
                    {"N", FieldType::Integer, 0},
                    {"OK", FieldType::Boolean, 0},
                    {"DAY", FieldType::DateTime, 0}});
  for (int r = 0; r < rows; ++r) {
    if (r % 7 == 3)
      p.columns[0].appendNull();
    else
      p.columns[0].appendText("código-" + std::to_string(r));
    p.columns[1].appendNumber(r * 1.5);
    if (r % 5 == 0)
      p.columns[2].appendNull();
    else
      p.columns[2].appendInteger(-r);
    p.columns[3].appendBoolean(r % 2);
    p.columns[4].appendNumber(46000 + r);
  }
  return p;
}

static std::optional<std::string> roundTrip(const packet::Packet& in, size_t chunkBytes, packet::Packet& out,
                                            int* chunks = nullptr) {
  rpc::PacketHeader header;
  packet::fillHeader(in, 7, &header);
  packet::PacketAssembler assembler;
  if (auto e = assembler.begin(header)) return e;
  std::optional<std::string> error;
  packet::encodeChunks(in, 7, chunkBytes, [&](rpc::PacketChunk&& c) {
    if (chunks) ++*chunks;
    if (!error) error = assembler.add(c);
  });
  if (error) return error;
  if (auto e = assembler.finish()) return e;
  out = assembler.take(7);
  return std::nullopt;
}

TEST(PacketCodec, RowsNullsAndTypesSurviveChunking) {
  const packet::Packet in = sample(1000);
  packet::Packet out;
  int chunks = 0;
  ASSERT_FALSE(roundTrip(in, 2000, out, &chunks));
  EXPECT_GT(chunks, 10);
  ASSERT_EQ(out.rowCount(), 1000u);
  for (size_t r = 0; r < 1000; ++r) {
    EXPECT_EQ(out.columns[0].isNull(r), r % 7 == 3);
    if (!out.columns[0].isNull(r)) {
      EXPECT_EQ(out.columns[0].text(r), in.columns[0].text(r));
    }
    EXPECT_DOUBLE_EQ(out.columns[1].number(r), r * 1.5);
    EXPECT_EQ(out.columns[2].isNull(r), r % 5 == 0);
    if (r % 5) {
      EXPECT_EQ(out.columns[2].integer(r), -int64_t(r));
    }
    EXPECT_EQ(out.columns[3].boolean(r), bool(r % 2));
    EXPECT_DOUBLE_EQ(out.columns[4].number(r), 46000.0 + r);
  }
}

TEST(PacketCodec, ValuesAfterTheLastNullStayValues) {
  packet::Packet p({{"CODE", FieldType::Text, 10}, {"QTY", FieldType::Float, 0}});
  p.columns[0].appendNull();
  p.columns[1].appendNull();
  for (int r = 1; r < 2000; ++r) {
    p.columns[0].appendText("c" + std::to_string(r));
    p.columns[1].appendNumber(r);
  }
  for (size_t r = 1; r < 2000; ++r) {
    ASSERT_FALSE(p.columns[0].isNull(r)) << "row " << r;
    ASSERT_FALSE(p.columns[1].isNull(r)) << "row " << r;
  }
  packet::Packet out;
  ASSERT_FALSE(roundTrip(p, 64, out));
  ASSERT_EQ(out.rowCount(), 2000u);
  EXPECT_TRUE(out.columns[0].isNull(0));
  for (size_t r = 1; r < 2000; ++r) {
    ASSERT_FALSE(out.columns[0].isNull(r)) << "row " << r;
    ASSERT_EQ(out.columns[0].text(r), "c" + std::to_string(r));
    ASSERT_FALSE(out.columns[1].isNull(r)) << "row " << r;
  }
}

TEST(PacketCodec, EmptyPacketKeepsItsFields) {
  packet::Packet out;
  ASSERT_FALSE(roundTrip(sample(0), 1 << 20, out));
  EXPECT_EQ(out.rowCount(), 0u);
  ASSERT_EQ(out.fields.size(), 5u);
  EXPECT_EQ(out.fieldIndex("qty"), 1);
  EXPECT_EQ(out.fieldIndex("MISSING"), -1);
}

TEST(PacketCodec, DamagedChunksAreRefused) {
  const packet::Packet in = sample(10);
  rpc::PacketHeader header;
  packet::fillHeader(in, 1, &header);
  std::vector<rpc::PacketChunk> chunks;
  packet::encodeChunks(in, 1, 1 << 20, [&](rpc::PacketChunk&& c) { chunks.push_back(c); });
  ASSERT_EQ(chunks.size(), 1u);

  auto tryWith = [&](auto damage) {
    packet::PacketAssembler a;
    EXPECT_FALSE(a.begin(header));
    rpc::PacketChunk c = chunks[0];
    damage(c);
    auto e = a.add(c);
    return e ? e : a.finish();
  };
  EXPECT_TRUE(tryWith([](rpc::PacketChunk& c) { c.mutable_columns(0)->mutable_text_data()->append("x"); }));
  EXPECT_TRUE(tryWith([](rpc::PacketChunk& c) { c.mutable_columns(1)->mutable_numbers()->RemoveLast(); }));
  EXPECT_TRUE(tryWith([](rpc::PacketChunk& c) { c.set_rows(11); }));
  EXPECT_TRUE(tryWith([](rpc::PacketChunk& c) { c.mutable_columns()->RemoveLast(); }));
  EXPECT_TRUE(tryWith([](rpc::PacketChunk& c) { c.set_packet(99); }));
  EXPECT_TRUE(tryWith([](rpc::PacketChunk& c) { c.mutable_columns(2)->set_nulls("\x01"); }));
  EXPECT_TRUE(tryWith([](rpc::PacketChunk& c) { c.set_row_count(11); }));  // a count above the rows that came
  EXPECT_TRUE(tryWith([](rpc::PacketChunk& c) { c.set_row_count(9); }));   // and below them
  EXPECT_TRUE(tryWith([](rpc::PacketChunk& c) { c.set_last(false); }));    // the end never comes
  EXPECT_FALSE(tryWith([](rpc::PacketChunk&) {}));
  {
    packet::PacketAssembler a;
    ASSERT_FALSE(a.begin(header));
    ASSERT_FALSE(a.add(chunks[0]));
    EXPECT_TRUE(a.add(chunks[0]));  // rows after the end
  }

  rpc::PacketHeader badType = header;
  badType.mutable_fields(0)->set_type(rpc::FieldType(42));
  packet::PacketAssembler a;
  EXPECT_TRUE(a.begin(badType));
}

TEST(PacketCodec, RefusedChunkLeavesEveryColumnWithTheSameRows) {
  const packet::Packet in = sample(10);
  rpc::PacketHeader header;
  packet::fillHeader(in, 1, &header);
  std::vector<rpc::PacketChunk> chunks;
  packet::encodeChunks(in, 1, 200, [&](rpc::PacketChunk&& c) { chunks.push_back(c); });
  ASSERT_GT(chunks.size(), 1u);

  packet::PacketAssembler a;
  ASSERT_FALSE(a.begin(header));
  // the texts and numbers are fine, the integers short by one: nothing may be kept
  rpc::PacketChunk damaged = chunks[0];
  damaged.mutable_columns(2)->mutable_integers()->RemoveLast();
  EXPECT_TRUE(a.add(damaged));
  for (const auto& c : chunks) EXPECT_FALSE(a.add(c));
  EXPECT_FALSE(a.finish());
  const packet::Packet out = a.take(1);
  ASSERT_EQ(out.rowCount(), 10u);
  for (const auto& column : out.columns) EXPECT_EQ(column.rows(), 10u);
  EXPECT_EQ(out.columns[0].text(9), in.columns[0].text(9));
  EXPECT_EQ(out.columns[2].integer(9), -9);
}

TEST(PacketCodec, NumbersBeyondIntegersReadAsTheNearestInteger) {
  packet::Packet p({{"DAY", FieldType::DateTime, 0}, {"QTY", FieldType::Float, 0}});
  for (double v : {1e300, -1e300, std::nan(""), 9.2e18, -45000.75}) {
    p.columns[0].appendNumber(v);
    p.columns[1].appendNumber(v);
  }
  for (const auto& c : p.columns) {
    EXPECT_EQ(c.integer(0), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(c.integer(1), std::numeric_limits<int64_t>::min());
    EXPECT_EQ(c.integer(2), 0);
    EXPECT_EQ(c.integer(3), int64_t(9.2e18));
    EXPECT_EQ(c.integer(4), -45000);
  }
}

// Rows handed to the streamer one by one leave in chunks while more come,
// only the last carrying the count, and arrive as the whole packet would.
TEST(PacketCodec, StreamedRowsLeaveByChunksAndTheCountComesLast) {
  const packet::Packet in = sample(3000);
  std::vector<rpc::PacketChunk> chunks;
  packet::ChunkStreamer out(in.fields, 3, 4000, [&](rpc::PacketChunk&& c) { chunks.push_back(std::move(c)); });
  for (size_t r = 0; r < in.rowCount(); ++r) {
    packet::Packet& rows = out.rows();
    in.columns[0].isNull(r) ? rows.columns[0].appendNull() : rows.columns[0].appendText(in.columns[0].text(r));
    rows.columns[1].appendNumber(in.columns[1].number(r));
    in.columns[2].isNull(r) ? rows.columns[2].appendNull() : rows.columns[2].appendInteger(in.columns[2].integer(r));
    rows.columns[3].appendBoolean(in.columns[3].boolean(r));
    rows.columns[4].appendNumber(in.columns[4].number(r));
    out.rowAdded();
    // at most one chunk's rows are held
    ASSERT_LT(rows.rowCount(), 400u) << r;
  }
  const size_t beforeEnd = chunks.size();
  EXPECT_GT(beforeEnd, 10u);
  out.finish();
  ASSERT_EQ(chunks.size(), beforeEnd + 1);
  EXPECT_EQ(out.rowCount(), 3000u);
  for (size_t i = 0; i + 1 < chunks.size(); ++i) EXPECT_FALSE(chunks[i].last()) << i;
  EXPECT_TRUE(chunks.back().last());
  EXPECT_EQ(chunks.back().row_count(), 3000u);

  rpc::PacketHeader header;
  packet::fillHeader(in, 3, &header);
  packet::PacketAssembler a;
  ASSERT_FALSE(a.begin(header));
  for (const auto& c : chunks) ASSERT_FALSE(a.add(c));
  ASSERT_FALSE(a.finish());
  const packet::Packet got = a.take(3);
  ASSERT_EQ(got.rowCount(), 3000u);
  for (size_t r = 0; r < 3000; ++r) {
    ASSERT_EQ(got.columns[0].isNull(r), in.columns[0].isNull(r)) << r;
    ASSERT_EQ(got.columns[0].text(r), in.columns[0].text(r)) << r;
    ASSERT_EQ(got.columns[2].isNull(r), in.columns[2].isNull(r)) << r;
    ASSERT_EQ(got.columns[2].integer(r), in.columns[2].integer(r)) << r;
    ASSERT_EQ(got.columns[4].number(r), in.columns[4].number(r)) << r;
  }

  // a stream cut before its last chunk is damaged, whatever rows came
  packet::PacketAssembler cut;
  ASSERT_FALSE(cut.begin(header));
  for (size_t i = 0; i + 1 < chunks.size(); ++i) ASSERT_FALSE(cut.add(chunks[i]));
  const auto missingEnd = cut.finish();
  ASSERT_TRUE(missingEnd);
  EXPECT_NE(missingEnd->find("fim"), std::string::npos);
}

// A received column of few distinct values keeps each once and a code a row;
// it reads exactly as before, travels again, and takes appends and nulls.
TEST(PacketCodec, FewDistinctTextsAreStoredOnceAndReadTheSame) {
  packet::Packet in({{"FLAG", FieldType::Text, 1}, {"CODE", FieldType::Text, 12}});
  const std::vector<std::string> flags{"S", "N", "ç", ""};
  for (int r = 0; r < 3000; ++r) {
    if (r % 11 == 4)
      in.columns[0].appendNull();
    else
      in.columns[0].appendText(flags[size_t(r / 100) % flags.size()]);
    in.columns[1].appendText("código-" + std::to_string(r));
  }
  packet::Packet out;
  ASSERT_FALSE(roundTrip(in, 4000, out));
  packet::Column& flag = out.columns[0];
  EXPECT_TRUE(flag.isDictionary());
  EXPECT_FALSE(out.columns[1].isDictionary());  // all different: stays one text a row
  EXPECT_LT(flag.byteSize(), size_t(3000 * 4));
  for (size_t r = 0; r < 3000; ++r) {
    ASSERT_EQ(flag.isNull(r), in.columns[0].isNull(r)) << r;
    ASSERT_EQ(flag.text(r), in.columns[0].text(r)) << r;
    ASSERT_EQ(out.columns[1].text(r), in.columns[1].text(r)) << r;
  }

  // sent on from the compact form, the same values arrive
  packet::Packet again;
  ASSERT_FALSE(roundTrip(out, 1000, again));
  for (size_t r = 0; r < 3000; ++r) {
    ASSERT_EQ(again.columns[0].isNull(r), in.columns[0].isNull(r)) << r;
    ASSERT_EQ(again.columns[0].text(r), in.columns[0].text(r)) << r;
  }

  // rows appended after it: a new value, an old one and a null
  flag.appendText("novo");
  flag.appendText("S");
  flag.appendNull();
  EXPECT_FALSE(flag.isDictionary());
  ASSERT_EQ(flag.rows(), 3003u);
  for (size_t r = 0; r < 3000; ++r) ASSERT_EQ(flag.text(r), in.columns[0].text(r)) << r;
  EXPECT_EQ(flag.text(3000), "novo");
  EXPECT_EQ(flag.text(3001), "S");
  EXPECT_TRUE(flag.isNull(3002));
  EXPECT_FALSE(flag.isNull(3001));
}

// More distinct values than a byte can code: the column stays as it was.
TEST(PacketCodec, ManyDistinctShortTextsStayOneTextARow) {
  packet::Column c(FieldType::Text);
  for (int r = 0; r < 2000; ++r) c.appendText(std::to_string(r % 300));
  c.compact();
  EXPECT_FALSE(c.isDictionary());
  for (size_t r = 0; r < 2000; ++r) ASSERT_EQ(c.text(r), std::to_string(r % 300));
}
