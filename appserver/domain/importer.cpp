#include "domain/importer.h"

#include <QSqlQuery>
#include <QVariant>
#include <algorithm>
#include <utility>

#include "common/import_values.h"
#include "db/sql.h"
#include "domain/importer_state.h"

namespace qfx::server {

namespace {

using importing::Column;
using importing::ColumnType;
using importing::kItemColumns;
using importing::Row;

}  // namespace

// ---- files ----

Status Importer::State::begin(const std::string& name, const std::string& kindName) {
  if (auto ended = end(kindName); !ended) return ended;
  fileName = name;
  firstProblemOfFile = summary.problems.size();
  kind = importing::findKind(kindName);
  columnByName.clear();
  fieldAbove.clear();
  valueAbove.clear();
  lastFound.clear();
  headerRead = false;
  skipFile = false;
  columnAt.clear();
  fileColumnOf.clear();
  if (!kind) {
    // counted under no kind: the file is named in the problem
    ++summary.problemCount;
    if (summary.problems.size() < kMaxImportProblems)
      summary.problems.push_back({name, 0, "",
                                  "tipo de arquivo desconhecido \"" + kindName +
                                      "\": o nome do arquivo começa pela tabela que ele alimenta (VENDA, "
                                      "REDUCAOZ, PRODUTO, ...)"});
    skipFile = true;
    reader.reset();
    return success();
  }
  count();
  if (kind->name == std::string(importing::kNfce)) {
    // every column is the importer's to fill from the document
    fileColumnOf.resize(kind->columns.size());
    for (size_t c = 0; c < fileColumnOf.size(); ++c) fileColumnOf[c] = int(c);
    nfce = std::make_unique<NfceReader>();
    nfceBytes = 0;
    return success();
  }
  reader = std::make_unique<CsvReader>([this](const CsvRecord& r) { return onRecord(r); });
  return success();
}

Status Importer::State::end(const std::string& nextKind) {
  if (kind && nfce) {
    // the documents are read on a thread of their own while this one writes
    // the ones read before; the rest are waited for once the NFC-e files end
    if (!readAhead) readAhead = std::make_unique<NfceReadAhead>();
    while (!readAhead->hasRoom(nfceBytes)) {
      auto read = readAhead->take(true);
      queueNfce(std::move(read->first), std::move(read->second));
      if (failure) return *failure;
    }
    readAhead->put(fileName, std::move(*nfce), nfceBytes);
    nfce.reset();
    const bool lastOfThem = nextKind != importing::kNfce;
    while (auto read = readAhead->take(lastOfThem)) {
      queueNfce(std::move(read->first), std::move(read->second));
      if (failure) return *failure;
    }
    // documents come one a file: their sales are written a batch at a time
    // while NFC-e files follow one another
    if (lastOfThem) {
      if (auto settled = settleWaitingNfce(); !settled) return settled;
      if (auto written = writeBatch(); !written) return written;
      for (auto* rows : {saleRows.get(), itemRows.get(), recordRows.get()})
        if (rows)
          if (auto f = rows->flush(); !f) return f;
      if (auto applied = applyCancellations(); !applied) return applied;
      kind = nullptr;
    }
    return success();
  }
  if (!kind || !reader) {
    kind = nullptr;
    reader.reset();
    return success();
  }
  reader->finish();
  if (auto p = reader->problem()) {
    std::string column;
    if (p->field > 0 && p->field <= columnAt.size() && columnAt[p->field - 1] >= 0)
      column = kind->columns[size_t(columnAt[p->field - 1])].name;
    problem(p->line, column, p->reason);
    ++count().refused;
  }
  if (failure) return *failure;
  if (importing::isSalesKind(kind->name)) {
    closeSale();
    if (failure) return *failure;
    if (auto written = writeBatch(); !written) return written;
  }
  // a sale's problems are found when its last line is read: in line order for the reader
  std::stable_sort(summary.problems.begin() + std::ptrdiff_t(firstProblemOfFile), summary.problems.end(),
                   [](const ImportProblem& a, const ImportProblem& b) { return a.line < b.line; });
  if (saleRows)
    if (auto f = saleRows->flush(); !f) return f;
  if (itemRows)
    if (auto f = itemRows->flush(); !f) return f;
  reader.reset();
  kind = nullptr;
  return success();
}

bool Importer::State::onRecord(const CsvRecord& record) {
  if (!headerRead) return readHeader(record);
  // a line of blanks separates nothing: it is skipped
  if (record.fields.size() == 1 && record.fields[0].empty()) return true;
  ++summary.lines;
  auto row = parse(record);
  if (!row) {
    if (kind->name == std::string(importing::kSales)) return refuseSaleLine(record);
    ++count().refused;
    return !failure;
  }
  if (kind->name == std::string(importing::kSales)) return addSaleLine(std::move(*row));
  return importRegistration(std::move(*row));
}

bool Importer::State::readHeader(const CsvRecord& record) {
  headerRead = true;
  fileColumnOf.assign(kind->columns.size(), -1);
  bool sound = true;
  for (size_t i = 0; i < record.fields.size(); ++i) {
    const QString name = QString::fromStdString(record.fields[i]).trimmed().toUpper();
    const int c = columnNamed(name.toStdString());
    columnAt.push_back(c);
    if (c < 0) {
      problem(record.line, name.toStdString(),
              "coluna desconhecida \"" + name.toStdString() + "\" num arquivo de " + kind->name);
      sound = false;
    } else if (fileColumnOf[size_t(c)] >= 0) {
      problem(record.line, name.toStdString(), "coluna repetida no cabeçalho");
      sound = false;
    } else {
      fileColumnOf[size_t(c)] = int(i);
    }
  }
  for (size_t c = 0; c < kind->columns.size(); ++c) {
    if (kind->columns[c].required && fileColumnOf[c] < 0) {
      problem(record.line, kind->columns[c].name,
              std::string("falta a coluna obrigatória ") + kind->columns[c].name + " no cabeçalho");
      sound = false;
    }
  }
  if (!sound) {
    ++count().refused;
    skipFile = true;
  }
  if (sound && importing::isSalesKind(kind->name)) findSaleColumns();
  return sound;
}

void Importer::State::findSaleColumns() {
  saleColumns.branch = column("CDFILIAL");
  saleColumns.number = column("NRSEQVENDA");
  for (size_t i = 0; i < std::size(kItemColumns); ++i) saleColumns.item[i] = column(kItemColumns[i]);
  saleColumns.repeated.clear();
  for (size_t c = 0; c < kind->columns.size(); ++c)
    if (present(int(c)) && !importing::isItemColumn(kind->columns[c].name)) saleColumns.repeated.push_back(c);
}

std::optional<QVariant> Importer::State::value(const Column& c, const std::string& field, uint64_t line) {
  const std::string_view raw = field.empty() && c.fallback ? std::string_view(c.fallback) : std::string_view(field);
  if (raw.empty()) {
    if (c.required) {
      problem(line, c.name, "valor obrigatório em branco");
      return std::nullopt;
    }
    return c.type == ColumnType::Text ? sql::nullText() : QVariant();
  }
  switch (c.type) {
    case ColumnType::Text: {
      const QString text = QString::fromUtf8(raw.data(), qsizetype(raw.size()));
      if (text.size() > c.size) {
        problem(line, c.name,
                "texto \"" + std::string(raw) + "\" com mais de " + std::to_string(c.size) + " caracteres");
        return std::nullopt;
      }
      return text;
    }
    case ColumnType::Day:
      if (auto d = importvalue::isoDay(raw)) return *d;
      problem(line, c.name, "data inválida \"" + std::string(raw) + "\" (use dd/mm/aaaa ou aaaa-mm-dd)");
      return std::nullopt;
    case ColumnType::Moment:
      if (auto m = importvalue::isoMoment(raw)) return *m;
      problem(line, c.name,
              "data e hora inválidas \"" + std::string(raw) + "\" (use dd/mm/aaaa hh:mm:ss ou aaaa-mm-dd hh:mm:ss)");
      return std::nullopt;
    case ColumnType::Number:
      if (auto n = importvalue::number(raw)) return *n;
      problem(line, c.name,
              "número inválido \"" + std::string(raw) + "\" (só algarismos, sinal e uma vírgula ou um ponto decimal)");
      return std::nullopt;
    case ColumnType::Integer:
      if (auto n = importvalue::integer(raw)) return QVariant(qlonglong(*n));
      problem(line, c.name, "número inteiro inválido \"" + std::string(raw) + "\"");
      return std::nullopt;
  }
  return std::nullopt;
}

std::optional<Row> Importer::State::parse(const CsvRecord& record) {
  if (record.fields.size() != columnAt.size()) {
    problem(record.line, "",
            "linha com " + std::to_string(record.fields.size()) + " campos; o cabeçalho tem " +
                std::to_string(columnAt.size()));
    return std::nullopt;
  }
  Row row;
  row.line = record.line;
  row.values.resize(kind->columns.size());
  bool sound = true;
  if (fieldAbove.size() != kind->columns.size()) {
    fieldAbove.assign(kind->columns.size(), {});
    valueAbove.assign(kind->columns.size(), {});
  }
  for (size_t c = 0; c < kind->columns.size(); ++c) {
    const int at = fileColumnOf[c];
    if (at < 0) continue;
    const std::string& field = record.fields[size_t(at)];
    // a field as on the line above (a sale's columns, on each of its lines) is
    // that line's value: read, checked and converted once
    if (!valueAbove[c].isNull() && field == fieldAbove[c]) {
      row.values[c] = valueAbove[c];
      continue;
    }
    auto v = value(kind->columns[c], field, record.line);
    if (!v) {
      sound = false;
      continue;
    }
    fieldAbove[c] = field;
    valueAbove[c] = *v;
    row.values[c] = std::move(*v);
  }
  if (!sound) return std::nullopt;
  return row;
}

// ---- the import ----

Importer::Importer(std::unique_ptr<State> state) : s_(std::move(state)) {}
Importer::~Importer() = default;

Result<std::unique_ptr<Importer>> Importer::start(QSqlDatabase db, Dialect dialect, const std::string& operatorCode,
                                                  const std::string& boundBranch, bool dryRun) {
  bool allowed = false;
  {
    // read and let go before the transaction: on SQLite a read still open
    // would make BEGIN IMMEDIATE fail at once instead of waiting its turn
    auto right = sql::run(db, QStringLiteral("SELECT IDIMPORTA FROM OPERADOR WHERE CDOPERADOR = ?"),
                          {QString::fromStdString(operatorCode)});
    if (!right) return right.error();
    allowed = right->next() && right->value(0).toString() == QLatin1String("S");
  }
  if (!allowed)
    return Error{ErrorKind::PermissionDenied,
                 "o operador " + operatorCode +
                     " não tem o direito de importar dados (qfxserver --set-operator ... --operator-import S)"};
  auto state = std::make_unique<State>();
  state->db = db;
  state->dialect = dialect;
  state->boundBranch = boundBranch;
  state->dryRun = dryRun;
  auto transaction = sql::Transaction::begin(db, dialect);
  if (!transaction) return transaction.error();
  state->transaction.emplace(std::move(*transaction));
  return std::unique_ptr<Importer>(new Importer(std::move(state)));
}

Status Importer::beginFile(const std::string& name, const std::string& kind) { return s_->begin(name, kind); }

Status Importer::feed(std::string_view bytes) {
  if (s_->nfce) {
    if (s_->nfce->feed(bytes)) s_->nfceBytes += bytes.size();
    return success();
  }
  if (s_->skipFile || !s_->reader) return success();
  s_->reader->feed(bytes);
  if (s_->failure) return *s_->failure;
  return success();
}

uint64_t Importer::lines() const { return s_->summary.lines; }

Result<ImportSummary> Importer::finish() {
  if (auto ended = s_->end(""); !ended) return ended.error();
  auto& summary = s_->summary;
  if (summary.problemCount == 0 && !s_->dryRun) {
    if (auto committed = s_->transaction->commit(); !committed) return committed.error();
    summary.written = true;
  } else {
    s_->transaction->rollback();
  }
  return summary;
}

}  // namespace qfx::server
