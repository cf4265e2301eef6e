// The import's NFC-e: documents read into sales, their cancellations, and
// the documents recorded per register and day.

#include "domain/importer_state.h"

#include <QDateTime>
#include <QSqlQuery>
#include <QVariant>
#include <cmath>
#include <utility>
#include <variant>

#include "common/nfce_reader.h"
#include "common/wire_date.h"
#include "db/row_writer.h"
#include "db/rows.h"
#include "db/sql.h"
#include "domain/number_series.h"

namespace qfx::server {

namespace {

using importing::ColumnType;
using importing::joinKey;
using importing::kPostgresSalesPerBatch;
using importing::kSqliteSalesPerBatch;
using importing::Row;
using importing::Sale;
using importing::saleName;

long long centsOf(double v) { return std::llround(v * 100.0); }

// The sale keeps one payment form, a character: the document's largest
// payment's tPag, 01 to 09 as their digit and 10 onward as letters from A.
QVariant paymentForm(const std::vector<NfcePayment>& payments) {
  const NfcePayment* largest = nullptr;
  for (const auto& p : payments)
    if (!largest || p.value > largest->value) largest = &p;
  if (!largest) return sql::nullText();
  const int code = largest->type.toInt();
  if (code >= 1 && code <= 9) return QString(QChar(u'0' + code));
  if (code >= 10 && code <= 35) return QString(QChar(u'A' + (code - 10)));
  return QStringLiteral("Z");  // 90 no payment, 99 others
}

QString withoutLeadingZeros(const QString& text) {
  qsizetype at = 0;
  while (at + 1 < text.size() && text[at] == QLatin1Char('0')) ++at;
  return text.mid(at);
}

// The number series whose row lock orders the imports that number a branch's new NFC-e sales.
const char* const kNfceSaleSeries = "VENDANFCE";

// The issuer's CNPJ, the 7th to the 20th digit of an access key.
QString issuerOf(const QString& key) { return key.mid(6, 14); }

}  // namespace

// What one NFC-e file read to, in the order the files came: a refusal, a
// cancellation applied once the documents are in, or a sale.
void Importer::State::settleNfce(const std::string& name, const server::NfceRead& read) {
  const std::string current = std::exchange(fileName, name);
  if (const auto* refusal = std::get_if<NfceRefusal>(&read)) {
    problem(refusal->line, refusal->element, refusal->reason);
    ++count().refused;
  } else if (const auto* cancelled = std::get_if<NfceCancellation>(&read)) {
    cancellations.emplace_back(fileName, cancelled->key);
  } else {
    importNfce(std::get<NfceDocument>(read));
  }
  fileName = current;
}

void Importer::State::queueNfce(std::string name, server::NfceRead read) {
  nfceWaiting.emplace_back(std::move(name), std::move(read));
  if (nfceWaiting.size() >= (dialect == Dialect::SQLite ? kSqliteSalesPerBatch : kPostgresSalesPerBatch))
    if (auto settled = settleWaitingNfce(); !settled) failed(settled.error());
}

Status Importer::State::settleWaitingNfce() {
  if (auto found = findStoredNfce(); !found) return found;
  for (const auto& [name, read] : nfceWaiting) {
    settleNfce(name, read);
    if (failure) return *failure;
  }
  nfceWaiting.clear();
  nfceStoredSales.clear();
  nfceStoredRecords.clear();
  return success();
}

// The sales and records the waiting documents' access keys already have.
Status Importer::State::findStoredNfce() {
  std::vector<std::optional<std::string>> keys;
  keys.reserve(nfceWaiting.size());
  for (const auto& waiting : nfceWaiting)
    if (const auto* doc = std::get_if<NfceDocument>(&waiting.second)) keys.emplace_back(doc->key.toStdString());
  if (keys.empty()) return success();
  std::string marks;
  for (size_t i = 0; i < keys.size(); ++i) marks += i ? ", ?" : "?";
  // a full group's texts are the same every time: SQLite keeps them prepared
  const auto reuse =
      dialect == Dialect::SQLite && keys.size() == kSqliteSalesPerBatch ? sql::Reuse::Kept : sql::Reuse::No;
  const auto textOf = [](const sql::Cells& row, int i) { return sql::toQString(row.text(i)); };
  {
    auto sales = sql::openRows(
        db, "SELECT CDCHAVENFCE, NRSEQVENDA, VRTOTNFCE FROM VENDA WHERE CDCHAVENFCE IN (" + marks + ")", keys, reuse);
    if (!sales) return sales.error();
    auto read = sql::forEachRow(**sales, [&](const sql::Cells& row) {
      nfceStoredSales.insert_or_assign(std::string(row.text(0)),
                                       StoredNfceSale{textOf(row, 1), row.isNull(2) ? -1 : centsOf(row.number(2))});
    });
    if (!read) return read;
  }
  auto records = sql::openRows(db,
                               "SELECT CDCHAVENFCE, CDFILIAL, CDCAIXA, DTVENDA, VRCENTNFCE, IDCANCELADA FROM "
                               "NFCEDOCUMENTO WHERE CDCHAVENFCE IN (" +
                                   marks + ")",
                               keys, reuse);
  if (!records) return records.error();
  return sql::forEachRow(**records, [&](const sql::Cells& row) {
    nfceStoredRecords.insert_or_assign(std::string(row.text(0)),
                                       NfceRecord{textOf(row, 1), textOf(row, 2), textOf(row, 3).left(10),
                                                  qint64(std::llround(row.number(4))), row.text(5) == "S"});
  });
}

bool Importer::State::nfceProblem(uint64_t line, const char* element, std::string reason) {
  problem(line, element, std::move(reason));
  return false;
}

Result<std::optional<Importer::State::NfceBranch>*> Importer::State::nfceBranchOf(const QString& cnpj) {
  const std::string key = cnpj.toStdString();
  if (auto it = nfceBranches.find(key); it != nfceBranches.end()) return &it->second;
  std::optional<NfceBranch> found;
  auto q = sql::run(db,
                    QStringLiteral("SELECT F.CDFILIAL, P.IDNFCEGTIN FROM FILIAL F LEFT JOIN PARAMFILIAL P "
                                   "ON P.CDFILIAL = F.CDFILIAL WHERE F.NRCNPJFILI = ? ORDER BY F.CDFILIAL"),
                    {cnpj});
  if (!q) return q.error();
  if (q->next()) found = NfceBranch{q->value(0).toString(), q->value(1).toString() == QLatin1String("S"), {}};
  if (found) {
    auto regs = sql::run(db,
                         QStringLiteral("SELECT CDSERIENFCE, CDCAIXA, CDLOJA FROM CAIXA "
                                        "WHERE CDFILIAL = ? AND CDSERIENFCE IS NOT NULL ORDER BY CDCAIXA"),
                         {found->code});
    if (!regs) return regs.error();
    while (regs->next())
      found->registers.push_back({withoutLeadingZeros(regs->value(0).toString().trimmed()), regs->value(1).toString(),
                                  regs->value(2).toString()});
  }
  return &nfceBranches.emplace(key, std::move(found)).first->second;
}

// The sale an access key already is, or the branch's next number: the key,
// not the number, is what makes an NFC-e the same sale again.
Result<Importer::State::NfceSale> Importer::State::nfceSale(const QString& branch, const QString& key) {
  if (auto found = nfceStoredSales.find(key.toStdString()); found != nfceStoredSales.end()) {
    NfceSale sale;
    sale.number = found->second.number;
    sale.storedCents = found->second.cents;
    // numbers past the greatest before this import are the ones it took
    const auto numbers = saleNumbers.find(branch.toStdString());
    sale.ofThisImport = numbers != saleNumbers.end() && sale.number.toLongLong() > numbers->second.before;
    return sale;
  }
  auto last = saleNumbers.find(branch.toStdString());
  if (last == saleNumbers.end()) {
    // another import numbering the branch's documents waits here until it
    // commits, then reads the greatest number it left (PostgreSQL read committed)
    if (auto locked = series::lock(db, branch, kNfceSaleSeries); !locked) return locked.error();
    auto greatest =
        sql::run(db, QStringLiteral("SELECT MAX(NRSEQVENDA) FROM VENDA WHERE CDFILIAL = ? AND LENGTH(NRSEQVENDA) = 10"),
                 {branch});
    if (!greatest) return greatest.error();
    qlonglong n = 0;
    if (greatest->next() && !greatest->value(0).isNull()) {
      bool ok = false;
      n = greatest->value(0).toString().toLongLong(&ok);
      if (!ok)
        return internalError("a filial " + branch.toStdString() + " tem a venda " +
                             greatest->value(0).toString().toStdString() +
                             ", que não é um número: as NFC-e não têm como numerar as suas vendas");
    }
    last = saleNumbers.emplace(branch.toStdString(), SaleNumbers{n, n}).first;
  }
  return NfceSale{QStringLiteral("%1").arg(++last->second.last, 10, 10, QLatin1Char('0')), std::nullopt, false};
}

Result<QString> Importer::State::nfceProduct(const NfceBranch& branch, const NfceItem& item) {
  const bool hasGtin = !item.gtin.isEmpty() && item.gtin != QLatin1String("SEM GTIN");
  if (!branch.byGtin || !hasGtin) return item.code;
  const std::string gtin = item.gtin.toStdString();
  if (auto it = productByGtin.find(gtin); it != productByGtin.end()) return it->second;
  auto q = sql::run(db, QStringLiteral("SELECT CDPRODUTO FROM PRODUTO WHERE CDGTINPROD = ? ORDER BY CDPRODUTO"),
                    {item.gtin});
  if (!q) return q.error();
  const QString code = q->next() ? q->value(0).toString() : QString();
  productByGtin.emplace(gtin, code);
  return code;
}

Result<QString> Importer::State::nfceCustomer(const QString& document) {
  const std::string key = document.toStdString();
  if (auto it = customerByDocument.find(key); it != customerByDocument.end()) return it->second;
  auto q = sql::run(db, QStringLiteral("SELECT CDCLIENTE FROM CLIENTE WHERE NRINSJURCLIE = ? ORDER BY CDCLIENTE"),
                    {document});
  if (!q) return q.error();
  const QString code = q->next() ? q->value(0).toString() : QString();
  customerByDocument.emplace(key, code);
  return code;
}

void Importer::State::importNfce(const NfceDocument& doc) {
  auto& counts = count();
  counts.items += doc.items.size();
  summary.lines += doc.items.size();
  long long totalCents = centsOf(doc.total);
  const std::string key = doc.key.toStdString();
  if (auto seen = nfceKeysUnwritten.find(key); seen != nfceKeysUnwritten.end()) {
    // the same document copied or renamed: one sale
    if (seen->second.totalCents == totalCents) {
      ++counts.unchanged;
      return;
    }
    nfceProblem(
        0, "NFe/infNFe/@Id",
        "a NFC-e " + key + " já veio no arquivo " + seen->second.file + " com outro valor: um dos dois foi alterado");
    ++counts.refused;
    return;
  }
  std::optional<NfceRecord> recorded;
  if (auto found = nfceStoredRecords.find(key); found != nfceStoredRecords.end()) recorded = found->second;
  const bool cancelledBefore = recorded && recorded->cancelled;
  nfceKeysUnwritten.emplace(key, NfceRead{fileName, totalCents, std::move(recorded)});
  auto refuse = [&] { ++counts.refused; };

  auto branch = nfceBranchOf(doc.issuerCnpj);
  if (!branch) return void(failed(branch.error()));
  if (!**branch) {
    nfceProblem(0, "NFe/infNFe/emit/CNPJ",
                "o emitente (CNPJ " + doc.issuerCnpj.toStdString() +
                    ") não é nenhuma filial: informe o CNPJ da filial (NRCNPJFILI) no cadastro");
    return refuse();
  }
  const NfceBranch& b = ***branch;
  const NfceRegister* reg = nullptr;
  for (const auto& r : b.registers)
    if (r.series == withoutLeadingZeros(doc.series)) reg = &r;
  if (!reg) {
    nfceProblem(0, "NFe/infNFe/ide/serie",
                "a série " + doc.series.toStdString() + " não é de nenhum caixa da filial " + b.code.toStdString() +
                    ": informe a série de NFC-e do caixa (CDSERIENFCE) no cadastro");
    return refuse();
  }
  auto stored = nfceSale(b.code, doc.key);
  if (!stored) return void(failed(stored.error()));
  if (stored->ofThisImport) {
    // the same document copied or renamed, its sale written already
    if (stored->storedCents == totalCents) {
      ++counts.unchanged;
      return;
    }
    nfceProblem(
        0, "NFe/infNFe/@Id",
        "a NFC-e " + key + " já veio em outro arquivo desta importação com outro valor: um dos dois foi alterado");
    return refuse();
  }
  const QString* number = &stored->number;

  Row head;
  head.line = 1;
  head.values.resize(kind->columns.size());
  for (size_t c = 0; c < kind->columns.size(); ++c)
    if (kind->columns[c].type == ColumnType::Text) head.values[c] = sql::nullText();
  auto set = [&](const char* name, QVariant v) { head.values[size_t(column(name))] = std::move(v); };
  set("CDFILIAL", b.code);
  set("NRSEQVENDA", *number);
  set("CDLOJA", reg->store);
  set("CDCAIXA", reg->code);
  set("DTVENDA", doc.day);
  set("DTENTRVENDA", doc.moment);
  set("NRCUPOMFIS", doc.number);
  // a document cancelled before stays cancelled, even if its sale was deleted since
  set("IDSITUVENDA", cancelledBefore ? QStringLiteral("C") : QStringLiteral("F"));
  set("IDTPFORPGVEN", paymentForm(doc.payments));
  set("CDCHAVENFCE", doc.key);
  set("VRTOTNFCE", doc.total);
  QString customer;
  if (!doc.customerDocument.isEmpty()) {
    auto found = nfceCustomer(doc.customerDocument);
    if (!found) return void(failed(found.error()));
    customer = *found;
  }
  if (!customer.isEmpty()) set("CDCLIENTE", customer);
  // a consumer sale keeps the name the document gives (to the column's size)
  else if (!doc.customerName.isEmpty())
    set("NMCONSUMIDOR", doc.customerName.left(50));

  Sale sale{fileName, joinKey({b.code, *number}), 1, {}, {}, false};
  sale.fresh = !stored->storedCents.has_value();
  bool sound = true;
  const importing::Reference product{"PRODUTO", {"CDPRODUTO"}, {"CDPRODUTO"}, "produto"};
  for (const auto& item : doc.items) {
    auto code = nfceProduct(b, item);
    if (!code) return void(failed(code.error()));
    if (code->isEmpty() || code->size() > 10 || !exists(product, {*code})) {
      if (failure) return;
      const bool byGtin = b.byGtin && code->isEmpty();
      nfceProblem(item.line, byGtin ? "NFe/infNFe/det/prod/cEAN" : "NFe/infNFe/det/prod/cProd",
                  "item " + item.number.toStdString() + ": produto " +
                      (byGtin ? "de GTIN " + item.gtin.toStdString() : item.code.toStdString()) + " não cadastrado");
      sound = false;
      continue;
    }
    sale.items.push_back({item.line, {item.number, *code, item.quantity, item.unitPrice, item.discount}});
  }
  if (!sound) return refuse();
  set("CDPRODUTO", sale.items.front().values[1]);
  sale.head = std::move(head);
  this->sale = std::move(sale);
  closeSale();
}

Status Importer::State::applyCancellations() {
  // events of earlier imports whose documents are in now (this import's included)
  auto waiting = sql::run(db, QStringLiteral("SELECT P.CDCHAVENFCE, P.NMARQUIVO FROM NFCECANCPEND P "
                                             "JOIN VENDA V ON V.CDCHAVENFCE = P.CDCHAVENFCE ORDER BY P.CDCHAVENFCE"));
  if (!waiting) return waiting.error();
  while (waiting->next())
    cancellations.emplace_back(waiting->value(1).toString().toStdString(), waiting->value(0).toString());
  for (const auto& [file, key] : cancellations)
    if (auto applied = applyCancellation(file, key); !applied) return applied;
  cancellations.clear();
  return writeNfceDays();
}

// A pending sale is cancelled (never posted, and the Z check counts it as
// nothing); a consolidated one is refused until its consolidation is reversed.
Status Importer::State::applyCancellation(const std::string& file, const QString& key) {
  auto& counts = count();
  const std::string current = fileName;
  fileName = file;
  struct Restore {
    std::string& name;
    std::string value;
    ~Restore() { name = value; }
  } restore{fileName, current};
  const char* element = "procEventoNFe/evento/infEvento/chNFe";
  const QString lock = dialect == Dialect::PostgreSQL ? QStringLiteral(" FOR UPDATE") : QString();
  auto sale = sql::run(db,
                       QStringLiteral("SELECT CDFILIAL, NRSEQVENDA, IDSITUVENDA FROM VENDA "
                                      "WHERE CDCHAVENFCE = ?") +
                           lock,
                       {key});
  if (!sale) return sale.error();
  if (!sale->next()) return keepCancellation(file, key);  // the sale may come, or was deleted
  const QString branch = sale->value(0).toString(), number = sale->value(1).toString();
  if (!boundBranch.empty() && branch.toStdString() != boundBranch) {
    problem(0, element, "a filial " + branch.toStdString() + " não é a do operador (" + boundBranch + ")");
    ++counts.refused;
    return success();
  }
  if (auto done = forgetWaitingCancellation(key); !done) return done;
  if (sale->value(2).toString() == QLatin1String("C")) {
    ++counts.unchanged;
    return cancelNfceRecord(key);
  }
  // a posting run of the branch holds this lock from before it reads the
  // sales to its commit: one under way is waited for (and its postings seen
  // below), one starting now waits for this import and finds the sale cancelled
  if (auto locked = series::lock(db, branch, series::kNote); !locked) return locked;
  auto posted = sql::run(db,
                         QStringLiteral("SELECT COUNT(*) FROM ITVENDA WHERE CDFILIAL = ? AND NRSEQVENDA = ? AND "
                                        "(NRLANCESTQ IS NOT NULL OR CDFILIALEST IS NOT NULL)"),
                         {branch, number});
  if (!posted) return posted.error();
  if (posted->next() && posted->value(0).toLongLong() > 0) {
    problem(0, element,
            saleName(branch, number) + " (NFC-e " + key.toStdString() +
                ") já consolidada: estorne a consolidação e importe o cancelamento de novo");
    ++counts.refused;
    return success();
  }
  auto cancelled = sql::run(
      db, QStringLiteral("UPDATE VENDA SET IDSITUVENDA = 'C' WHERE CDFILIAL = ? AND NRSEQVENDA = ?"), {branch, number});
  if (!cancelled) return cancelled.error();
  ++counts.updated;
  return cancelNfceRecord(key);
}

// The document counts in its register-day as it is imported now, in place
// of what an earlier import recorded of it (its sale deleted since, or
// replaced): the day's record stays the sum of the documents themselves,
// whatever the order of imports, deletions and cancellations.
Status Importer::State::recordNfceDocument(const Sale& s) {
  const QString key = text(s.head, "CDCHAVENFCE");
  const auto read = nfceKeysUnwritten.find(key.toStdString());
  const std::optional<NfceRecord>* before = read == nfceKeysUnwritten.end() ? nullptr : &read->second.recorded;
  const NfceRecord now{text(s.head, "CDFILIAL"), text(s.head, "CDCAIXA"), text(s.head, "DTVENDA"),
                       centsOf(s.head.values[size_t(column("VRTOTNFCE"))].toDouble()),
                       text(s.head, "IDSITUVENDA") == QLatin1String("C")};
  nfceStoredSales.insert_or_assign(key.toStdString(), StoredNfceSale{text(s.head, "NRSEQVENDA"), now.cents});
  if (before && *before) {
    const NfceRecord& old = **before;
    if (old == now) return success();
    countNfceRecord(old, -1);
    countNfceRecord(now, 1);
    auto updated = sql::run(db,
                            QStringLiteral("UPDATE NFCEDOCUMENTO SET CDFILIAL = ?, CDCAIXA = ?, DTVENDA = ?, "
                                           "VRCENTNFCE = ?, IDCANCELADA = ? WHERE CDCHAVENFCE = ?"),
                            {now.branch, now.cashRegister, now.day, now.cents,
                             now.cancelled ? QStringLiteral("S") : QStringLiteral("N"), key});
    if (!updated) return updated.error();
    return success();
  }
  countNfceRecord(now, 1);
  if (!recordRows)
    recordRows = std::make_unique<sql::RowWriter>(
        db, dialect, QStringLiteral("NFCEDOCUMENTO"),
        QStringList{"CDCHAVENFCE", "CDFILIAL", "CDCAIXA", "DTVENDA", "VRCENTNFCE", "IDCANCELADA"});
  return recordRows->add({key, now.branch, now.cashRegister, now.day, qlonglong(now.cents),
                          now.cancelled ? QStringLiteral("S") : QStringLiteral("N")});
}

// A cancellation takes the document out of its register-day once, whether
// its sale is there or was deleted.
Status Importer::State::cancelNfceRecord(const QString& key) {
  if (recordRows)
    if (auto f = recordRows->flush(); !f) return f;
  auto found = sql::run(db,
                        QStringLiteral("SELECT CDFILIAL, CDCAIXA, DTVENDA, VRCENTNFCE FROM NFCEDOCUMENTO "
                                       "WHERE CDCHAVENFCE = ? AND IDCANCELADA = 'N'"),
                        {key});
  if (!found) return found.error();
  if (!found->next()) return success();
  const auto date = wiredate::dayFromDatabase(found->value(2));
  if (!date) return internalError("NFCEDOCUMENTO " + key.toStdString() + ": dia inválido");
  countNfceRecord({found->value(0).toString(), found->value(1).toString(), wiredate::dayText(*date),
                   found->value(3).toLongLong(), false},
                  -1);
  auto cancelled =
      sql::run(db, QStringLiteral("UPDATE NFCEDOCUMENTO SET IDCANCELADA = 'S' WHERE CDCHAVENFCE = ?"), {key});
  if (!cancelled) return cancelled.error();
  return success();
}

void Importer::State::countNfceRecord(const NfceRecord& record, int sign) {
  if (record.cancelled) return;
  auto& [cents, documents] = nfceDayChanges[{record.branch, record.cashRegister, record.day}];
  cents += sign * record.cents;
  documents += sign;
}

// Added to what earlier imports recorded: a register-day's row is made by its
// first document and only changes after.
Status Importer::State::writeNfceDays() {
  for (const auto& [day, change] : nfceDayChanges) {
    const auto& [branch, cashRegister, dayText] = day;
    auto written = sql::run(db,
                            QStringLiteral("INSERT INTO NFCECAIXADIA (CDFILIAL, CDCAIXA, DTVENDA, VRCENTNFCE, QTNFCE) "
                                           "VALUES (?, ?, ?, ?, ?) ON CONFLICT (CDFILIAL, CDCAIXA, DTVENDA) DO UPDATE "
                                           "SET VRCENTNFCE = NFCECAIXADIA.VRCENTNFCE + EXCLUDED.VRCENTNFCE, "
                                           "QTNFCE = NFCECAIXADIA.QTNFCE + EXCLUDED.QTNFCE"),
                            {branch, cashRegister, dayText, change.first, change.second});
    if (!written) return written.error();
  }
  nfceDayChanges.clear();
  return success();
}

// An event before its document: kept until the document comes, in this
// import or a later one. An operator bound to a branch keeps only events of
// its branch's documents (the key names the issuer).
Status Importer::State::keepCancellation(const std::string& file, const QString& key) {
  auto& counts = count();
  if (!boundBranch.empty()) {
    auto branch = nfceBranchOf(issuerOf(key));
    if (!branch) return branch.error();
    if (!**branch || (**branch)->code.toStdString() != boundBranch) {
      problem(0, "procEventoNFe/evento/infEvento/chNFe",
              "a NFC-e " + key.toStdString() + " não é de um emitente da filial do operador (" + boundBranch + ")");
      ++counts.refused;
      return success();
    }
  }
  if (auto done = cancelNfceRecord(key); !done) return done;
  auto kept = sql::run(db,
                       QStringLiteral("INSERT INTO NFCECANCPEND (CDCHAVENFCE, NMARQUIVO, DTRECEBIDO) VALUES (?, ?, ?) "
                                      "ON CONFLICT (CDCHAVENFCE) DO NOTHING"),
                       {key, QString::fromStdString(file).left(255),
                        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))});
  if (!kept) return kept.error();
  if (kept->numRowsAffected() > 0)
    ++counts.inserted;
  else
    ++counts.unchanged;
  return success();
}

Status Importer::State::forgetWaitingCancellation(const QString& key) {
  auto removed = sql::run(db, QStringLiteral("DELETE FROM NFCECANCPEND WHERE CDCHAVENFCE = ?"), {key});
  if (!removed) return removed.error();
  return success();
}

}  // namespace qfx::server
