#include "demo/demo_generator.h"

#include <QSqlQuery>
#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <vector>

#include "auth/sessions.h"
#include "common/sale_money.h"
#include "common/wire_date.h"
#include "db/batch_insert.h"
#include "db/sql.h"

namespace qfx::server::demo {

namespace {

constexpr int kDays = 30;

// splitmix64: the same sequence for a seed on every platform and library,
// which the standard distributions do not promise.
class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  uint64_t next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  int below(int n) { return int(next() % uint64_t(n)); }
  bool chance(int percent) { return below(100) < percent; }

 private:
  uint64_t state_;
};

struct Product {
  QString code, name, tree, stockCode;
  int priceCents = 0;
  bool active = true, controlsStock = true, weighed = false, drink = false;
  bool carriedBy0004 = true;  // registered for branch 0004 (PRODFILI)
  bool seasonal = false;      // never implanted, sold only where the tour plants it
};

struct Branch {
  QString code, name, company;
  int share;  // percent of the items
};

// 0001 is the ordinary path; 0002 permits negative stock and checks earlier
// sales; 0003 controls no stock; 0004 refuses negative stock and keeps it in
// the centre's warehouse (see demo_tour.cpp for what each shows).
const std::array<Branch, 4> kBranches{{{"0001", "Centro", "01", 50},
                                       {"0002", "Shopping", "01", 25},
                                       {"0003", "Aeroporto", "02", 10},
                                       {"0004", "Rodoviária", "01", 15}}};

struct CashRegister {
  QString branch, store, code;
};

constexpr int kChainRegisters = 8;  // in the store of each of the chain's other branches

// A stock location: branch, warehouse, location.
using Location = std::array<QString, 3>;

QString code(int number, int width) { return QStringLiteral("%1").arg(number, width, 10, QLatin1Char('0')); }

// A branch's CNPJ: its company's root, the branch as its order, and the two
// check digits (modulo 11), so that its NFC-e name a real-looking issuer.
QString cnpjOf(const Branch& b) {
  QString digits = (b.company == QLatin1String("01") ? QStringLiteral("11222333") : QStringLiteral("44555666")) +
                   b.code;  // the branch's four digits: a chain's too
  for (int round = 0; round < 2; ++round) {
    int sum = 0, weight = 2;
    for (qsizetype i = digits.size() - 1; i >= 0; --i) {
      sum += digits[i].digitValue() * weight;
      weight = weight == 9 ? 2 : weight + 1;
    }
    digits += QChar(u'0' + (sum % 11 < 2 ? 0 : 11 - sum % 11));
  }
  return digits;
}

std::vector<Product> makeProducts(int64_t items) {
  struct Base {
    const char* name;
    int price;
    bool weighed, drink;
  };
  static const Base base[] = {
      {"Arroz tipo 1 5kg", 2799, false, false},     {"Feijão carioca 1kg", 899, false, false},
      {"Açúcar cristal 1kg", 459, false, false},    {"Café torrado 500g", 1690, false, false},
      {"Óleo de soja 900ml", 749, false, false},    {"Macarrão espaguete 500g", 529, false, false},
      {"Farinha de trigo 1kg", 569, false, false},  {"Leite integral 1L", 549, false, false},
      {"Manteiga 200g", 1190, false, false},        {"Queijo muçarela kg", 4990, true, false},
      {"Presunto kg", 3890, true, false},           {"Pão francês kg", 1599, true, false},
      {"Banana prata kg", 649, true, false},        {"Tomate kg", 799, true, false},
      {"Ovos dúzia", 1299, false, false},           {"Iogurte natural", 399, false, false},
      {"Biscoito recheado", 299, false, false},     {"Chocolate 90g", 649, false, false},
      {"Sabão em pó 1kg", 1490, false, false},      {"Detergente 500ml", 279, false, false},
      {"Água mineral 500ml", 299, false, true},     {"Refrigerante cola 2L", 1099, false, true},
      {"Suco de laranja 1L", 899, false, true},     {"Cerveja lata 350ml", 499, false, true},
      {"Pão de queijo", 450, false, false},         {"Sanduíche natural", 1590, false, false},
      {"Salada de frutas", 990, false, false},      {"Prato executivo", 3290, false, false},
      {"Bolo de cenoura fatia", 790, false, false}, {"Torta de frango fatia", 990, false, false},
  };
  std::vector<Product> products;
  auto add = [&](const QString& name, int price) -> Product& {
    Product p;
    p.code = code(int(products.size()) + 1, 6);
    p.name = name;
    // product tree code: nine digits without the picture's dots (group,
    // subgroup, family, item: 9.99.99.999)
    p.tree =
        QString::number(int(products.size()) / 10 % 9 + 1) + QStringLiteral("0101") + code(int(products.size()) + 1, 3);
    p.priceCents = price;
    products.push_back(p);
    return products.back();
  };
  for (const Base& b : base) {
    Product& p = add(QString::fromUtf8(b.name), b.price);
    p.weighed = b.weighed;
    p.drink = b.drink;
  }
  add(QStringLiteral("Café expresso"), 650).stockCode = products[3].code;  // moves the coffee stock
  add(QStringLiteral("Combo café da manhã"), 1890).stockCode = products[3].code;
  add(QStringLiteral("Combo família"), 8990).carriedBy0004 = false;
  for (const char* fee : {"Taxa de serviço", "Couvert artístico", "Taxa de entrega"})
    add(QString::fromUtf8(fee), 800).controlsStock = false;
  add(QStringLiteral("Produto descontinuado"), 1000).active = false;
  add(QStringLiteral("Panetone 500g"), 3990).seasonal = true;
  // bigger databases get a longer catalogue
  const int extra = int(std::min<int64_t>(360, items / 5000));
  for (int i = 0; i < extra; ++i)
    add(QStringLiteral("Produto sortido %1").arg(i + 1, 3, 10, QLatin1Char('0')), 199 + (i * 37) % 4800);
  return products;
}

// What the tour plants on purpose, so that every outcome of a consolidation
// can be reached on the demo (see demo_tour.cpp). Days count back from the
// reference date.
enum class Role { Ordinary, Coffee, Fee, Seasonal, Discontinued, NotCarried };

struct PlantedItem {
  Role role;
  double quantity;
};

struct PlantedSale {
  const char* branch;
  const char* store;
  int registerIndex;  // among the store's registers
  int daysBack;
  std::vector<PlantedItem> items;
};

// Z reductions written off the register's sales on purpose.
enum class ZDifference { Missing, OneCent, Large };

struct PlantedZ {
  int registerIndex;  // among branch 0001's store 01 registers
  int daysBack;
  ZDifference difference;
};

const std::vector<PlantedSale>& plantedSales() {
  static const std::vector<PlantedSale> sales = {
      // branch 0001, store 01: the Z differences below have sales to differ from
      {"0001", "01", 0, 7, {{Role::Ordinary, 1}}},
      {"0001", "01", 1, 5, {{Role::Ordinary, 2}}},
      {"0001", "01", 2, 2, {{Role::Ordinary, 1}}},
      // a fee, which no run posts (NF_OK_ZERO)
      {"0001", "01", 0, 8, {{Role::Ordinary, 1}, {Role::Fee, 1}}},
      // store 02 (kiosk): around the adjustment 12 days back, and a product without stock
      {"0001", "02", 0, 13, {{Role::Coffee, 2}}},
      {"0001", "02", 0, 12, {{Role::Coffee, 1}}},
      {"0001", "02", 0, 11, {{Role::Coffee, 3}}},
      {"0001", "02", 0, 5, {{Role::Seasonal, 1}, {Role::Coffee, 1}}},
      // branch 0002: a product without stock early in the month
      {"0002", "01", 0, 25, {{Role::Seasonal, 2}, {Role::Ordinary, 1}}},
      // branch 0004: blocked products, then a product without stock
      {"0004", "01", 0, 20, {{Role::Discontinued, 1}, {Role::Ordinary, 1}}},
      {"0004", "01", 0, 18, {{Role::NotCarried, 1}}},
      {"0004", "01", 0, 6, {{Role::Seasonal, 1}, {Role::Ordinary, 2}}},
  };
  return sales;
}

const std::array<PlantedZ, 3> kPlantedZ{
    {{0, 7, ZDifference::Missing}, {1, 5, ZDifference::OneCent}, {2, 2, ZDifference::Large}}};

// The kiosk's warehouse takes an inventory adjustment on this day: its
// sales of the day can never be consolidated (ULT_LANC_DIA, Lanc_Bloq_Impl).
constexpr int kAdjustmentDaysBack = 12;

class Generator {
 public:
  Generator(QSqlDatabase db, const Options& options)
      : db_(std::move(db)), options_(options), rng_(options.seed), today_(options.today) {
    for (int i = 1; i <= options.chainBranches; ++i)
      chain_.push_back({code(1000 + i, 4), QStringLiteral("Rede %1").arg(i), QStringLiteral("02"), 0});
  }

  Result<Summary> run();

 private:
  Status insert(const QString& table, const QStringList& columns, const std::vector<QVariantList>& rows);
  Status writeBranches();
  Status writeCodes();
  Status writeCustomers();
  Status writeProducts();
  Status writeParameters();
  Status writePeriods();
  Status writeSales();
  Status writeBranchDay(const Branch& branch, const QDate& day, int64_t quota, sql::BatchInsert& sales,
                        sql::BatchInsert& items);
  Status writePlantedSales(const Branch& branch, const QDate& day, sql::BatchInsert& sales, sql::BatchInsert& items);
  Status writeSale(const CashRegister& r, const QDateTime& moment, const std::vector<PlantedItem>& planted,
                   int randomItems, sql::BatchInsert& sales, sql::BatchInsert& items);
  Status writeStock();
  Status writeReductions();
  Status writeOperators();

  const Product& pickProduct(const QString& branch);
  const Product& productFor(Role role) const;
  const CashRegister& registerOf(const QString& branch, const QString& store, int index) const;
  Location stockLocation(const QString& branch, const QString& store) const;

  QSqlDatabase db_;
  Options options_;
  std::vector<Branch> chain_;  // the chain's other branches (Options::chainBranches)
  Rng rng_;
  QDate today_;
  std::vector<Product> products_;
  std::vector<CashRegister> registers_;
  std::vector<QString> customers_;       // codes
  std::vector<bool> customerIsCompany_;  // has cost centres
  std::map<QString, int64_t> saleNumbers_, receiptNumbers_;
  std::map<std::tuple<QString, QString, QDate>, int64_t> dayCents_;  // net sales per register-day, for the Z
  std::map<std::pair<Location, QString>, double> soldQuantity_;      // for the stock balances
  Summary summary_;
};

Status Generator::insert(const QString& table, const QStringList& columns, const std::vector<QVariantList>& rows) {
  sql::BatchInsert batch(db_, table, columns);
  for (const auto& row : rows)
    if (auto added = batch.add(row); !added) return added;
  return batch.flush();
}

// The centre's own warehouse for store 01, the kiosk's for store 02, and a
// central warehouse of the centre (000003) for branch 0004's central stock.
Location Generator::stockLocation(const QString& branch, const QString& store) const {
  if (branch == QLatin1String("0004"))
    return {QStringLiteral("0001"), QStringLiteral("000003"), QStringLiteral("000003")};
  if (store == QLatin1String("02")) return {branch, QStringLiteral("000002"), QStringLiteral("000002")};
  return {branch, QStringLiteral("000001"), QStringLiteral("000001")};
}

Status Generator::writeBranches() {
  if (auto s = insert("EMPRESA", {"CDEMPRESA", "NMEMPRESA", "NMRAZSOCEMPR"},
                      {{"01", "Demo Alimentos", "Demo Alimentos Comércio Ltda"},
                       {"02", "Demo Aeroportos", "Demo Aeroportos Serviços S.A."}});
      !s)
    return s;
  std::vector<QVariantList> branches, stores, registers;
  const int registersPerStore = options_.registersPerStore > 0 ? options_.registersPerStore
                                                               : 3 + int(std::min<int64_t>(6, options_.items / 200000));
  for (const Branch& b : kBranches) {
    branches.push_back({b.code, b.name, b.company, QStringLiteral("1040%1").arg(b.code), "1",
                        QStringLiteral("55%1").arg(b.code), cnpjOf(b)});
    stores.push_back({b.code, "01", QStringLiteral("Loja %1").arg(b.name), "000001", "000001", "01"});
    for (int r = 1; r <= registersPerStore; ++r) registers_.push_back({b.code, "01", code(r, 3)});
  }
  stores.push_back({"0001", "02", "Quiosque Praça", "000002", "000002", "01"});
  registers_.push_back({"0001", "02", code(registersPerStore + 1, 3)});
  for (const Branch& b : chain_) {
    branches.push_back({b.code, b.name, b.company, QStringLiteral("1040%1").arg(b.code), "1",
                        QStringLiteral("55%1").arg(b.code), cnpjOf(b)});
    stores.push_back({b.code, "01", QStringLiteral("Loja %1").arg(b.name), "000001", "000001", "01"});
    for (int r = 1; r <= kChainRegisters; ++r) registers_.push_back({b.code, "01", code(r, 3)});
  }
  // each register issues NFC-e under the series of its number (qfxdemo --nfce)
  for (const auto& r : registers_)
    registers.push_back(
        {r.branch, r.store, r.code, QStringLiteral("Caixa %1").arg(r.code), QString::number(r.code.toInt())});
  if (auto s =
          insert("FILIAL", {"CDFILIAL", "NMFILIAL", "CDEMPRESA", "CDINSCESTA", "CDSERIE", "CDINSCMUNI", "NRCNPJFILI"},
                 branches);
      !s)
    return s;
  if (auto s = insert("LOJA", {"CDFILIAL", "CDLOJA", "NMLOJA", "CDALMOXARIFE", "CDLOCALESTOQ", "CDTIPOOPER"}, stores);
      !s)
    return s;
  return insert("CAIXA", {"CDFILIAL", "CDLOJA", "CDCAIXA", "NMCAIXA", "CDSERIENFCE"}, registers);
}

Status Generator::writeCodes() {
  if (auto s = insert("TIPOCONS", {"CDTIPOCONS", "NMTIPOCONS"},
                      {{"01", "Balcão"}, {"02", "Mesa"}, {"03", "Delivery"}, {"04", "Viagem"}});
      !s)
    return s;
  if (auto s = insert("TIPORETI", {"CDTIPORETI", "NMTIPORETI"},
                      {{"01", "Venda ao consumidor"}, {"02", "Consumo interno de bebidas"}, {"03", "Perda ou quebra"}});
      !s)
    return s;
  return insert("SETOR", {"CDSETOR", "SGSETOR", "NMSETOR"},
                {{"0001", "SAL", "Salão"}, {"0002", "COZ", "Cozinha"}, {"0003", "BAR", "Bar"}});
}

// Companies (with two cost centres each) and people.
Status Generator::writeCustomers() {
  static const char* companies[] = {"ALFA COMERCIO LTDA", "BETA SERVICOS LTDA",      "CONSTRUTORA GAMA S.A.",
                                    "DELTA EVENTOS ME",   "EPSILON TECNOLOGIA LTDA", "ZETA TRANSPORTES LTDA"};
  static const char* people[] = {"Ana Paula Ribeiro", "Bruno Carvalho", "Carla Mendes",   "Diego Fernandes",
                                 "Eduarda Lima",      "Fábio Rocha",    "Gabriela Alves", "Heitor Martins",
                                 "Isabela Costa",     "João Pereira",   "Karina Duarte",  "Lucas D'Ávila"};
  std::vector<QVariantList> customers, centres;
  auto digits = [&](int n) {
    QString s;
    for (int i = 0; i < n; ++i) s += QChar(u'0' + rng_.below(10));
    return s;
  };
  auto add = [&](const char* name, bool company) {
    const QString c = code(int(customers_.size()) + 1, 6);
    customers.push_back({c, digits(company ? 14 : 11), company ? "J" : "F", QString::fromUtf8(name)});
    if (company) {
      centres.push_back({c, "01", "Administrativo"});
      centres.push_back({c, "02", "Operacional"});
    }
    customers_.push_back(c);
    customerIsCompany_.push_back(company);
  };
  for (const char* name : companies) add(name, true);
  for (const char* name : people) add(name, false);
  summary_.customers = int64_t(customers_.size());
  if (auto s = insert("CLIENTE", {"CDCLIENTE", "NRINSJURCLIE", "IDTPIJURCLIE", "NMRAZSOCCLIE"}, customers); !s)
    return s;
  return insert("CCUSCLIE", {"CDCLIENTE", "CDCCUSCLIE", "NMCCUSCLIE"}, centres);
}

Status Generator::writeProducts() {
  products_ = makeProducts(options_.items);
  summary_.products = int64_t(products_.size());
  std::vector<QVariantList> products, perBranch, perType;
  for (const Product& p : products_) {
    products.push_back(
        {p.code, p.name, p.tree, sql::textOrNull(p.stockCode), p.active ? "S" : "N", p.controlsStock ? "S" : "N"});
    for (const Branch& b : kBranches)
      if (b.code != QLatin1String("0004") || p.carriedBy0004) perBranch.push_back({b.code, p.code});
    for (const Branch& b : chain_) perBranch.push_back({b.code, p.code});
    if (p.drink) perType.push_back({"02", p.code});  // type 02 moves drinks only
  }
  if (auto s =
          insert("PRODUTO", {"CDPRODUTO", "NMPRODUTO", "CDARVPROD", "CDPRODESTO", "IDATIVO", "IDCTRLESTQ"}, products);
      !s)
    return s;
  if (auto s = insert("PRODFILI", {"CDFILIAL", "CDPRODUTO"}, perBranch); !s) return s;
  return insert("PRODTIPORETI", {"CDTIPORETI", "CDPRODUTO"}, perType);
}

Status Generator::writeParameters() {
  const QVariant none(QMetaType::fromType<QString>());
  // the stock is closed up to 40 days back: a period from before it is refused (Data_Men)
  const QString closed = wiredate::dayText(today_.addDays(-40));
  const QString consolidationStart = wiredate::dayText(today_.addDays(-(kDays - 1)));
  std::vector<QVariantList> branches{
      {"0001", "S", "S", "S", "N", "S", none, closed, 31},
      {"0002", "S", "N", "S", "S", "S", none, closed, 31},
      {"0003", "N", "N", "N", "N", "N", none, none, QVariant(QMetaType::fromType<int>())},
      {"0004", "S", "S", "S", "N", "S", none, closed, 31}};
  std::vector<QVariantList> sales{
      {"0001", "N", consolidationStart, "01", "S", "S", "N", "01", "S", "0001", "N", "N", none, none, none},
      {"0002", "1", consolidationStart, "01", "S", "N", "N", "01", "N", "0003", "N", "N", none, none, none},
      {"0003", "N", none, "01", "N", "S", "N", "01", "S", "0001", "N", "N", none, none, none},
      {"0004", "N", consolidationStart, "01", "S", "S", "N", "01", "N", "0001", "N", "S", "0001", "000003", "000003"}};
  for (const Branch& b : chain_) {  // as branch 0003
    branches.push_back(branches[2]);
    branches.back()[0] = b.code;
    sales.push_back(sales[2]);
    sales.back()[0] = b.code;
  }
  if (auto s = insert("PARAMFILIAL",
                      {"CDFILIAL", "IDUTILALMOX", "IDUTILLCESTQ", "IDCTRLESTQ", "IDPERMESTNEG", "IDMENSESTNEG",
                       "DTPROCESSAMENTO", "DTFECHAESTQ", "NRDIASMAXCONS"},
                      branches);
      !s)
    return s;
  return insert("PARAVEND",
                {"CDFILIAL", "IDCONSUMIOBR", "DTINITESCONS", "CDLOJA", "IDATUEST", "IDGERANFVENPROD", "IDBLOQCONSOLIDA",
                 "CDTIPORETI", "IDPERCONVESTNEG", "CDSETOR", "CONSOIMPAJUS", "IDUTILESTCENT", "CDFILIESTCENT",
                 "CDALMOXESTCENT", "CDLOCALESTCENT"},
                sales);
}

Status Generator::writePeriods() {
  // Monthly periods around today: open from two months back on, closed before.
  std::vector<QVariantList> rows;
  const QDate thisMonth(today_.year(), today_.month(), 1);
  std::vector<Branch> all(kBranches.begin(), kBranches.end());
  all.insert(all.end(), chain_.begin(), chain_.end());
  for (const Branch& b : all) {
    for (int m = -3; m <= 1; ++m) {
      const QDate start = thisMonth.addMonths(m);
      const QDate end = start.addMonths(1).addDays(-1);
      rows.push_back({b.code, wiredate::dayText(start), wiredate::dayText(end), m >= -2 ? "A" : "F"});
    }
  }
  return insert("PERIODOCTB", {"CDFILIAL", "DTINIPERCTB", "DTFIMPERCTB", "IDSITPERCTB"}, rows);
}

// Popular products first: the square favours low indexes. Never a product
// the branch cannot sell, nor one only the tour sells.
const Product& Generator::pickProduct(const QString& branch) {
  const bool is0004 = branch == QLatin1String("0004");
  for (;;) {
    const double u = double(rng_.below(10000)) / 10000.0;
    const Product& p = products_[size_t(u * u * double(products_.size()))];
    if (!p.active || p.seasonal || (is0004 && !p.carriedBy0004)) continue;
    return p;
  }
}

const Product& Generator::productFor(Role role) const {
  const auto first = [this](auto&& wanted) -> const Product& {
    return *std::find_if(products_.begin(), products_.end(), wanted);
  };
  switch (role) {
    case Role::Coffee:
      return first([](const Product& p) { return !p.stockCode.isEmpty(); });
    case Role::Fee:
      return first([](const Product& p) { return !p.controlsStock; });
    case Role::Seasonal:
      return first([](const Product& p) { return p.seasonal; });
    case Role::Discontinued:
      return first([](const Product& p) { return !p.active; });
    case Role::NotCarried:
      return first([](const Product& p) { return !p.carriedBy0004; });
    case Role::Ordinary:
      break;
  }
  return products_.front();
}

const CashRegister& Generator::registerOf(const QString& branch, const QString& store, int index) const {
  std::vector<const CashRegister*> found;
  for (const auto& r : registers_)
    if (r.branch == branch && r.store == store) found.push_back(&r);
  return *found[size_t(std::min(index, int(found.size()) - 1))];
}

// One sale and its items: the planted ones, then `randomItems` picked.
Status Generator::writeSale(const CashRegister& r, const QDateTime& moment, const std::vector<PlantedItem>& planted,
                            int randomItems, sql::BatchInsert& sales, sql::BatchInsert& items) {
  const QVariant none(QMetaType::fromType<QString>());
  static const char* consumers[] = {"Rafael", "Sônia", "Tiago", "Vera", "Wagner"};
  static const char* payments[] = {"D", "C", "P"};
  const QString number = code(int(++saleNumbers_[r.branch]), 10);
  const QString receipt = code(int(++receiptNumbers_[r.branch + r.code]), 6);
  QVariant customer = none, centre = none;
  if (rng_.chance(25)) {
    const int c = rng_.below(int(customers_.size()));
    customer = customers_[size_t(c)];
    if (customerIsCompany_[size_t(c)] && rng_.chance(70)) centre = code(1 + rng_.below(2), 2);
  }
  // one ordinary sale in forty comes back
  const bool returned = planted.empty() && saleNumbers_[r.branch] % 40 == 7;
  const std::string_view situation = returned ? salemoney::kReturned : std::string_view("F");
  if (auto s =
          sales.add({r.branch, number, r.store, r.code, wiredate::dayText(moment.date()), wiredate::momentText(moment),
                     receipt, customer, centre, code(1 + rng_.below(4), 2),
                     rng_.chance(10) ? QVariant(QString::fromUtf8(consumers[rng_.below(5)])) : none,
                     QString::fromLatin1(situation.data(), qsizetype(situation.size())), payments[rng_.below(3)], "F"});
      !s)
    return s;
  ++summary_.sales;
  const Location location = stockLocation(r.branch, r.store);
  int item = 0;
  const auto add = [&](const Product& p, double quantity) -> Status {
    const double price = p.priceCents / 100.0;
    const double discount = planted.empty() && rng_.chance(5) ? double(rng_.below(100)) / 100.0 : 0.0;
    if (auto s = items.add({r.branch, number, code(++item, 3), p.code, quantity, price, discount}); !s) return s;
    ++summary_.items;
    // the register's net sales by the same rule as the Z check's
    dayCents_[{r.branch, r.code, moment.date()}] +=
        salemoney::netSalesCents(situation, salemoney::itemCents(quantity, price, discount));
    if (p.controlsStock) {
      const QString stockProduct = p.stockCode.isEmpty() ? p.code : p.stockCode;
      soldQuantity_[{location, stockProduct}] += returned ? -quantity : quantity;
    }
    return success();
  };
  for (const PlantedItem& i : planted)
    if (auto s = add(productFor(i.role), i.quantity); !s) return s;
  for (int i = 0; i < randomItems; ++i) {
    const Product& p = pickProduct(r.branch);
    const double quantity = p.weighed ? double(100 + rng_.below(1900)) / 1000.0 : double(1 + rng_.below(3));
    if (auto s = add(p, quantity); !s) return s;
  }
  return success();
}

Status Generator::writeBranchDay(const Branch& branch, const QDate& day, int64_t quota, sql::BatchInsert& sales,
                                 sql::BatchInsert& items) {
  std::vector<const CashRegister*> registers;
  for (const auto& r : registers_)
    if (r.branch == branch.code) registers.push_back(&r);
  // the sales of the day, numbered in time order
  std::vector<std::pair<int, int>> saleTimes;  // seconds of the day, items
  for (int64_t planned = 0; planned < quota;) {
    const int count = int(std::min<int64_t>(1 + rng_.below(6), quota - planned));
    saleTimes.emplace_back(8 * 3600 + rng_.below(14 * 3600), count);
    planned += count;
  }
  std::sort(saleTimes.begin(), saleTimes.end());
  for (const auto& [seconds, count] : saleTimes) {
    const CashRegister& r = *registers[size_t(rng_.below(int(registers.size())))];
    if (auto s = writeSale(r, QDateTime(day, QTime(0, 0).addSecs(seconds)), {}, count, sales, items); !s) return s;
  }
  return writePlantedSales(branch, day, sales, items);
}

// The tour's sales of the day, after the day's last ordinary sale.
Status Generator::writePlantedSales(const Branch& branch, const QDate& day, sql::BatchInsert& sales,
                                    sql::BatchInsert& items) {
  int minute = 0;
  for (const PlantedSale& p : plantedSales()) {
    if (branch.code != QLatin1String(p.branch) || today_.addDays(-p.daysBack) != day) continue;
    const CashRegister& r = registerOf(branch.code, QString::fromLatin1(p.store), p.registerIndex);
    if (auto s = writeSale(r, QDateTime(day, QTime(22, 30).addSecs(60 * minute++)), p.items, 0, sales, items); !s)
      return s;
  }
  return success();
}

Status Generator::writeSales() {
  sql::BatchInsert sales(
      db_, "VENDA",
      {"CDFILIAL", "NRSEQVENDA", "CDLOJA", "CDCAIXA", "DTVENDA", "DTENTRVENDA", "NRCUPOMFIS", "CDCLIENTE", "CDCCUSCLIE",
       "CDTIPOCONS", "NMCONSUMIDOR", "IDSITUVENDA", "IDTPFORPGVEN", "IDTIPOIMPV"});
  sql::BatchInsert items(
      db_, "ITVENDA",
      {"CDFILIAL", "NRSEQVENDA", "NRSEQUITVEND", "CDPRODUTO", "QTPRODVEND", "VRUNITVEND", "VRDESITVEND"});
  items.setBeforeWrite([&sales] { return sales.flush(); });  // items only after their sale
  for (int d = kDays - 1; d >= 0; --d) {
    const QDate day = today_.addDays(-d);
    const bool weekend = day.dayOfWeek() >= 6;
    for (const Branch& b : kBranches) {
      const double perDay = double(options_.items) * b.share / 100.0 / kDays;
      const int64_t quota = std::max<int64_t>(1, std::llround(perDay * (weekend ? 1.25 : 0.9)));
      if (auto s = writeBranchDay(b, day, quota, sales, items); !s) return s;
    }
  }
  // the rest of the chain after the demo's own, which stay as they are without it
  const double chainPerDay = chain_.empty() ? 0.0 : double(options_.chainItems) / double(chain_.size()) / kDays;
  for (int d = kDays - 1; d >= 0 && !chain_.empty(); --d) {
    const QDate day = today_.addDays(-d);
    const bool weekend = day.dayOfWeek() >= 6;
    for (const Branch& b : chain_) {
      const int64_t quota = std::max<int64_t>(1, std::llround(chainPerDay * (weekend ? 1.25 : 0.9)));
      if (auto s = writeBranchDay(b, day, quota, sales, items); !s) return s;
    }
  }
  if (auto s = sales.flush(); !s) return s;
  return items.flush();
}

Status Generator::writeStock() {
  // Balances are the implantation 60 days ago: every product covers the
  // month's sales with room to spare, but the seasonal product, which was
  // never implanted (see plantedSales). The kiosk's warehouse also takes an
  // inventory adjustment kAdjustmentDaysBack days ago.
  std::map<Location, std::vector<std::pair<QString, double>>> initial;
  const QString seasonal = productFor(Role::Seasonal).code;
  for (const auto& [key, sold] : soldQuantity_) {
    const auto& [location, product] = key;
    if (product == seasonal) continue;
    initial[location].emplace_back(product, std::ceil(std::max(0.0, sold) * 1.5) + 10);
  }
  const Location kiosk = stockLocation(QStringLiteral("0001"), QStringLiteral("02"));
  std::map<QString, int64_t> postings;
  sql::BatchInsert headers(db_, "LANCESTQ",
                           {"CDFILIAL", "NRLANCESTQ", "DTLANCESTQ", "IDTIPOLANC", "CDALMOXARIFE", "CDLOCALESTOQ",
                            "CDTIPORETI", "CDSETOR", "CDOPERADOR", "CDFILIALVENDA", "CDLOJA", "DTINCLUSAO"});
  sql::BatchInsert lines(db_, "ITLANCESTQ", {"CDFILIAL", "NRLANCESTQ", "CDPRODUTO", "QTLANCESTQ"});
  lines.setBeforeWrite([&headers] { return headers.flush(); });
  sql::BatchInsert balances(db_, "SALDOESTQ", {"CDFILIAL", "CDALMOXARIFE", "CDLOCALESTOQ", "CDPRODUTO", "QTSALDOESTQ"});
  const QVariant none(QMetaType::fromType<QString>());
  auto posting = [&](const Location& l, const QDate& day, const char* type) -> Result<QString> {
    const QString number = code(int(++postings[l[0]]), 10);
    auto s = headers.add({l[0], number, wiredate::dayText(day), type, l[1], l[2], none, none, "demo", none, none,
                          wiredate::momentText(QDateTime(day, QTime(7, 0)))});
    if (!s) return s.error();
    return number;
  };
  for (const auto& [location, products] : initial) {
    auto implantation = posting(location, today_.addDays(-60), "I");
    if (!implantation) return implantation.error();
    const bool adjusted = location == kiosk;
    for (const auto& [product, amount] : products) {
      // the inventory count added 5 units of the first product
      const double extra = adjusted && product == products.front().first ? 5.0 : 0.0;
      // lines hold the quantity taken out: an entry is negative
      if (auto s = lines.add({location[0], *implantation, product, -amount}); !s) return s;
      if (auto s = balances.add({location[0], location[1], location[2], product, amount + extra}); !s) return s;
    }
    if (!adjusted) continue;
    auto adjustment = posting(location, today_.addDays(-kAdjustmentDaysBack), "A");
    if (!adjustment) return adjustment.error();
    if (auto s = lines.add({location[0], *adjustment, products.front().first, -5.0}); !s) return s;
  }
  if (auto s = headers.flush(); !s) return s;
  if (auto s = lines.flush(); !s) return s;
  if (auto s = balances.flush(); !s) return s;
  std::vector<QVariantList> counters;
  for (const auto& [branch, last] : postings) counters.push_back({branch, "LANCESTQ", qint64(last)});
  return insert("NUMERADOR", {"CDFILIAL", "NMNUMERADOR", "NRULTIMO"}, counters);
}

Status Generator::writeReductions() {
  // Each register's Z reduction carries its net sales of the day (see
  // salemoney::netSalesCents), but for the differences the tour plants.
  std::map<std::tuple<QString, QString, QDate>, ZDifference> planted;
  for (const PlantedZ& z : kPlantedZ)
    planted[{QStringLiteral("0001"), registerOf(QStringLiteral("0001"), QStringLiteral("01"), z.registerIndex).code,
             today_.addDays(-z.daysBack)}] = z.difference;
  sql::BatchInsert z(db_, "REDUCAOZ", {"CDFILIAL", "CDCAIXA", "DTREDUCAOZ", "VRVENLIQREDZ"});
  for (const auto& [key, cents] : dayCents_) {
    const auto& [branch, cashRegister, day] = key;
    int64_t value = cents;
    if (auto p = planted.find(key); p != planted.end()) {
      if (p->second == ZDifference::Missing) continue;
      value += p->second == ZDifference::OneCent ? 1 : -5000;
    }
    if (auto s = z.add({branch, cashRegister, wiredate::dayText(day), double(value) / 100.0}); !s) return s;
    ++summary_.zReductions;
  }
  return z.flush();
}

Status Generator::writeOperators() {
  if (auto s = SessionStore::saveOperator(db_, kDemoOperator, "Operador de demonstração", kDemoPassword, ""); !s)
    return s;
  if (auto s = SessionStore::saveOperator(db_, kBranchOperator, "Operador da loja 0001", kBranchPassword,
                                          kBranchOperatorBranch);
      !s)
    return s;
  // both may import: the demo operator anything, the store's only its branch's rows
  if (auto s = SessionStore::setImportRight(db_, kDemoOperator, true); !s) return s;
  return SessionStore::setImportRight(db_, kBranchOperator, true);
}

Result<Summary> Generator::run() {
  for (auto step :
       {&Generator::writeBranches, &Generator::writeCodes, &Generator::writeCustomers, &Generator::writeProducts,
        &Generator::writeParameters, &Generator::writePeriods, &Generator::writeSales, &Generator::writeStock,
        &Generator::writeReductions, &Generator::writeOperators}) {
    if (auto s = (this->*step)(); !s) return s.error();
  }
  return summary_;
}

}  // namespace

Result<Summary> generate(Database& database, const Options& options) {
  if (options.items < 1) return invalidArgument("a escala deve ser de pelo menos 1 item");
  if (!options.today.isValid()) return invalidArgument("data de referência inválida");
  // register codes have three digits, and store 02 takes the one after store 01's
  if (options.registersPerStore < 0 || options.registersPerStore > 998)
    return invalidArgument("caixas por loja: de 1 a 998 (0: conforme a escala)");
  // branch codes have four digits, from 1001 on
  if (options.chainBranches < 0 || options.chainBranches > 8999 || options.chainItems < 0)
    return invalidArgument("filiais da rede: de 0 a 8 999, com itens de venda a partir de 0");
  auto db = database.connection();
  if (!db) return db.error();
  auto existing = sql::run(*db, QStringLiteral("SELECT COUNT(*) FROM FILIAL"));
  if (!existing) return existing.error();
  if (existing->next() && existing->value(0).toLongLong() > 0)
    return invalidArgument("o banco já tem filiais cadastradas; gere a demonstração num banco vazio");
  existing->finish();
  auto tx = sql::Transaction::begin(*db, database.dialect());
  if (!tx) return tx.error();
  const bool postgres = database.dialect() == Dialect::PostgreSQL;
  if (postgres) {
    // The foreign-key checks are planned while the new tables look empty and
    // would scan them for every row inserted; index lookups keep the load linear.
    if (auto s = sql::command(*db, QStringLiteral("SET LOCAL enable_seqscan = off")); !s) return s.error();
  }
  Generator generator(*db, options);
  auto summary = generator.run();
  if (!summary) return summary;
  if (auto committed = tx->commit(); !committed) return committed.error();
  // fresh statistics for the planner after a bulk load
  if (postgres) {
    if (auto s = sql::command(*db, QStringLiteral("ANALYZE")); !s) return s.error();
  }
  return summary;
}

std::string credentialsText() {
  return std::string("operadores de demonstração: ") + kDemoOperator + "/" + kDemoPassword + " (qualquer filial), " +
         kBranchOperator + "/" + kBranchPassword + " (só a filial " + kBranchOperatorBranch + ")";
}

}  // namespace qfx::server::demo
