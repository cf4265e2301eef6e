#include "common/nfce_reader.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QSet>
#include <QXmlStreamReader>
#include <charconv>
#include <cmath>
#include <map>
#include <optional>

#include "common/csv_reader.h"

namespace qfx::server {

namespace {

const QString kNfeNamespace = QStringLiteral("http://www.portalfiscal.inf.br/nfe");
constexpr const char* kLayout = "4.00";

// The values the document is read into, by the element's path below the
// document (`nfeProc/` left out, so a bare `NFe` reads the same).
struct Collected {
  QString rootName, rootNamespace;
  QString version, id;
  std::map<QString, QString> ide, issuer, dest, totals, protocol;
  std::map<QString, QString> event, eventReturn;
  bool hasProtocol = false, hasEventReturn = false;
  std::vector<NfceItem> items;
  struct ItemText {
    QString code, gtin, quantity, unitPrice, discount, value;
  } current;             // the item being read: prod's values, as written
  QString paymentValue;  // the payment being read: its vPag
  std::vector<NfcePayment> payments;
  std::vector<QString> itemValues;     // each item's vProd, as written
  std::map<QString, uint64_t> lineOf;  // the first line of the paths a refusal names
};

// A decimal of the layout: digits, a point, an optional sign; nothing else
// (no comma, exponent, blank or name).
std::optional<double> decimal(QStringView text) {
  char digits[64];
  if (text.isEmpty() || text.size() >= qsizetype(sizeof digits)) return std::nullopt;
  for (qsizetype i = 0; i < text.size(); ++i) {
    const char16_t ch = text[i].unicode();
    const bool allowed = (ch >= u'0' && ch <= u'9') || ch == u'.' || ((ch == u'-' || ch == u'+') && i == 0);
    if (!allowed) return std::nullopt;
    digits[i] = char(ch);
  }
  const char* from = digits + (digits[0] == '+' ? 1 : 0);
  double v = 0;
  const auto [end, error] = std::from_chars(from, digits + text.size(), v);
  if (error != std::errc() || end != digits + text.size() || !std::isfinite(v)) return std::nullopt;
  return v;
}

long long cents(double v) { return std::llround(v * 100.0); }

std::string brMoney(long long c) {
  const long long a = c < 0 ? -c : c;
  return (c < 0 ? "-" : "") + std::to_string(a / 100) + "," + (a % 100 < 10 ? "0" : "") + std::to_string(a % 100);
}

std::string str(const QString& s) { return s.toStdString(); }

// The elements the reader knows, each by its place in the document: an
// element is found among its parent's children by name (no path is built
// and compared), and only the texts the document is read into are kept.
enum class Node : uint8_t {
  Other,  // nothing of the sale: its text and its children are passed over
  Top,    // above the root
  Proc,   // nfeProc: its children read as if they were the root
  NFe,
  InfNFe,
  Ide,
  Emit,
  Dest,
  Det,
  Prod,
  Total,
  IcmsTot,
  IssqnTot,
  Pag,
  DetPag,
  ProtNFe,
  InfProt,
  ProcEvento,
  Evento,
  EventInfo,
  RetEvento,
  RetInfo,
};

struct Child {
  Node parent;
  QLatin1String name;
  Node node;
  const char* keptLine;  // the path a refusal may name this element's line by
};

const Child kChildren[] = {
    {Node::Top, QLatin1String("nfeProc"), Node::Proc, nullptr},
    {Node::Top, QLatin1String("NFe"), Node::NFe, nullptr},
    {Node::Top, QLatin1String("protNFe"), Node::ProtNFe, nullptr},
    {Node::Top, QLatin1String("procEventoNFe"), Node::ProcEvento, nullptr},
    {Node::Proc, QLatin1String("NFe"), Node::NFe, nullptr},
    {Node::Proc, QLatin1String("protNFe"), Node::ProtNFe, nullptr},
    {Node::Proc, QLatin1String("procEventoNFe"), Node::ProcEvento, nullptr},
    {Node::NFe, QLatin1String("infNFe"), Node::InfNFe, "NFe/infNFe"},
    {Node::InfNFe, QLatin1String("ide"), Node::Ide, "NFe/infNFe/ide"},
    {Node::InfNFe, QLatin1String("emit"), Node::Emit, "NFe/infNFe/emit"},
    {Node::InfNFe, QLatin1String("dest"), Node::Dest, nullptr},
    {Node::InfNFe, QLatin1String("det"), Node::Det, nullptr},
    {Node::InfNFe, QLatin1String("total"), Node::Total, nullptr},
    {Node::InfNFe, QLatin1String("pag"), Node::Pag, nullptr},
    {Node::Det, QLatin1String("prod"), Node::Prod, nullptr},
    {Node::Total, QLatin1String("ICMSTot"), Node::IcmsTot, "NFe/infNFe/total/ICMSTot"},
    {Node::Total, QLatin1String("ISSQNtot"), Node::IssqnTot, nullptr},
    {Node::Pag, QLatin1String("detPag"), Node::DetPag, "NFe/infNFe/pag/detPag"},
    {Node::ProtNFe, QLatin1String("infProt"), Node::InfProt, "protNFe/infProt"},
    {Node::ProcEvento, QLatin1String("evento"), Node::Evento, nullptr},
    {Node::ProcEvento, QLatin1String("retEvento"), Node::RetEvento, "procEventoNFe/retEvento"},
    {Node::Evento, QLatin1String("infEvento"), Node::EventInfo, "procEventoNFe/evento/infEvento"},
    {Node::RetEvento, QLatin1String("infEvento"), Node::RetInfo, nullptr},
};

// The values whose line a refusal names, below their parent.
struct KeptLeaf {
  Node parent;
  QLatin1String name;
  const char* path;
};

const KeptLeaf kKeptLeaves[] = {
    {Node::Ide, QLatin1String("mod"), "NFe/infNFe/ide/mod"},
    {Node::Ide, QLatin1String("tpAmb"), "NFe/infNFe/ide/tpAmb"},
    {Node::Ide, QLatin1String("dhEmi"), "NFe/infNFe/ide/dhEmi"},
    {Node::InfProt, QLatin1String("cStat"), "protNFe/infProt/cStat"},
    {Node::InfProt, QLatin1String("chNFe"), "protNFe/infProt/chNFe"},
    {Node::EventInfo, QLatin1String("tpEvento"), "procEventoNFe/evento/infEvento/tpEvento"},
    {Node::EventInfo, QLatin1String("chNFe"), "procEventoNFe/evento/infEvento/chNFe"},
};

bool oneOf(QStringView name, std::initializer_list<const char*> names) {
  for (const char* n : names)
    if (name == QLatin1String(n)) return true;
  return false;
}

class Walker {
 public:
  // The reader is the thread's own, cleared for each document: making one
  // costs as much as a good part of reading a small document.
  explicit Walker(const std::string& bytes) : xml_(threadReader()) {
    xml_.clear();
    xml_.addData(QByteArray::fromRawData(bytes.data(), qsizetype(bytes.size())));
  }

  std::optional<NfceRefusal> walk(Collected& c) {
    std::vector<Open> open;
    open.reserve(16);
    while (!xml_.atEnd()) {
      switch (xml_.readNext()) {
        case QXmlStreamReader::StartElement: {
          if (open.empty() && c.rootName.isEmpty()) {
            c.rootName = xml_.name().toString();
            c.rootNamespace = xml_.namespaceUri().toString();
          }
          if (xml_.namespaceUri() != kNfeNamespace || xml_.name() == QLatin1String("infNFeSupl")) {
            // the signature, the QR code: not the sale's
            xml_.skipCurrentElement();
            break;
          }
          const Node parent = open.empty() ? Node::Top : open.back().node;
          Open element{Node::Other, nullptr};
          if (parent != Node::Other) element = start(c, parent, xml_.name());
          if (element.text) element.text->resize(0);  // the last of a repeated element is kept
          open.push_back(element);
          break;
        }
        case QXmlStreamReader::Characters:
          if (!open.empty() && open.back().text) open.back().text->append(xml_.text());
          break;
        case QXmlStreamReader::EndElement:
          if (!open.empty()) {
            const Open element = open.back();
            open.pop_back();
            if (element.text) *element.text = std::move(*element.text).trimmed();
            end(c, element);
          }
          break;
        default:
          break;
      }
    }
    if (xml_.hasError()) return malformed();
    return std::nullopt;
  }

 private:
  // an open element: what it is, and where its text goes (none: not kept)
  struct Open {
    Node node;
    QString* text;
  };

  uint64_t line() const { return uint64_t(xml_.lineNumber()); }

  void keepLine(Collected& c, const char* path) const { c.lineOf.try_emplace(QLatin1String(path), line()); }

  // A child of a known element: a known element itself, or a value read
  // into the document (the text slot its characters go to).
  Open start(Collected& c, Node parent, QStringView name) {
    for (const auto& child : kChildren)
      if (child.parent == parent && name == child.name) {
        if (child.keptLine) keepLine(c, child.keptLine);
        opened(c, child.node);
        return {child.node, nullptr};
      }
    for (const auto& leaf : kKeptLeaves)
      if (leaf.parent == parent && name == leaf.name) keepLine(c, leaf.path);
    return {Node::Other, valueSlot(c, parent, name)};
  }

  void opened(Collected& c, Node node) {
    switch (node) {
      case Node::InfNFe: {
        const auto attrs = xml_.attributes();
        c.version = attrs.value(QLatin1String("versao")).toString();
        c.id = attrs.value(QLatin1String("Id")).toString();
        break;
      }
      case Node::Det: {
        NfceItem item;
        item.line = line();
        item.number = xml_.attributes().value(QLatin1String("nItem")).toString();
        c.items.push_back(std::move(item));
        c.current = {};
        break;
      }
      case Node::DetPag:
        c.payments.push_back({});
        break;
      case Node::ProtNFe:
        c.hasProtocol = true;
        break;
      case Node::RetEvento:
        c.hasEventReturn = true;
        break;
      default:
        break;
    }
  }

  static QString* keep(std::map<QString, QString>& into, QStringView name) { return &into[name.toString()]; }

  // Where a value's text goes; only the values read are kept, every other
  // element costs a comparison or two.
  static QString* valueSlot(Collected& c, Node parent, QStringView name) {
    switch (parent) {
      case Node::Ide:
        return oneOf(name, {"mod", "serie", "nNF", "dhEmi", "tpAmb", "tpEmis"}) ? keep(c.ide, name) : nullptr;
      case Node::Emit:
        return name == QLatin1String("CNPJ") ? keep(c.issuer, name) : nullptr;
      case Node::Dest:
        return oneOf(name, {"CPF", "CNPJ", "xNome"}) ? keep(c.dest, name) : nullptr;
      case Node::IcmsTot:
        return oneOf(name, {"vProd", "vDesc", "vNF", "vICMSDeson", "vST", "vFCPST", "vFrete", "vSeg", "vOutro", "vII",
                            "vIPI", "vIPIDevol"})
                   ? keep(c.totals, name)
                   : nullptr;
      case Node::IssqnTot:
        return name == QLatin1String("vServ") ? keep(c.totals, name) : nullptr;
      case Node::InfProt:
        return keep(c.protocol, name);
      case Node::EventInfo:
        return keep(c.event, name);
      case Node::RetInfo:
        return keep(c.eventReturn, name);
      case Node::Prod:
        if (c.items.empty()) return nullptr;
        if (name == QLatin1String("cProd")) return &c.current.code;
        if (name == QLatin1String("cEAN")) return &c.current.gtin;
        if (name == QLatin1String("qCom")) return &c.current.quantity;
        if (name == QLatin1String("vUnCom")) return &c.current.unitPrice;
        if (name == QLatin1String("vDesc")) return &c.current.discount;
        if (name == QLatin1String("vProd")) return &c.current.value;
        return nullptr;
      case Node::DetPag:
        if (c.payments.empty()) return nullptr;
        if (name == QLatin1String("tPag")) return &c.payments.back().type;
        if (name == QLatin1String("vPag")) return &c.paymentValue;
        return nullptr;
      default:
        return nullptr;
    }
  }

  static void end(Collected& c, const Open& element) {
    if (element.node == Node::Det && !c.items.empty()) finishItem(c);
    if (element.text == &c.paymentValue && !c.payments.empty())
      c.payments.back().value = decimal(c.paymentValue).value_or(NAN);
  }

  static void finishItem(Collected& c) {
    auto& item = c.items.back();
    item.code = c.current.code;
    item.gtin = c.current.gtin;
    // the numbers are checked with the totals, where a bad one is named
    item.quantity = decimal(c.current.quantity).value_or(NAN);
    item.unitPrice = decimal(c.current.unitPrice).value_or(NAN);
    item.discount = c.current.discount.isEmpty() ? 0 : decimal(c.current.discount).value_or(NAN);
    // vProd is kept aside to check the item against its own product value
    c.itemValues.resize(c.items.size());
    c.itemValues.back() = c.current.value;
  }

  NfceRefusal malformed() const {
    const uint64_t at = line();
    const std::string where = "linha " + std::to_string(at) + ", coluna " + std::to_string(xml_.columnNumber());
    if (xml_.error() == QXmlStreamReader::PrematureEndOfDocumentError)
      return {at, "", "arquivo incompleto: o XML termina antes de fechar os seus elementos (" + where + ")"};
    return {at, "", "XML malformado (" + where + "): " + str(xml_.errorString())};
  }

  static QXmlStreamReader& threadReader() {
    thread_local QXmlStreamReader reader;
    return reader;
  }

  QXmlStreamReader& xml_;
};

// The encoding the XML declaration names; empty: none named (UTF-8).
QString declaredEncoding(const std::string& bytes) {
  static const QRegularExpression declaration(QStringLiteral("^\\s*<\\?xml[^>]*encoding\\s*=\\s*[\"']([^\"']+)[\"']"));
  const auto head = QString::fromLatin1(bytes.data(), qsizetype(std::min<size_t>(bytes.size(), 200)));
  const auto m = declaration.match(head);
  return m.hasMatch() ? m.captured(1).toUpper() : QString();
}

std::optional<NfceRefusal> encodingProblem(const std::string& bytes) {
  // well-formed UTF-8 (every document as issued) needs no look at its declaration
  if (isUtf8(bytes)) return std::nullopt;
  const QString declared = declaredEncoding(bytes);
  const bool utf8 = declared.isEmpty() || declared == QLatin1String("UTF-8") || declared == QLatin1String("UTF8");
  if (!utf8) return std::nullopt;
  uint64_t line = 1;
  size_t from = 0;
  for (;;) {
    const size_t to = bytes.find('\n', from);
    const std::string_view text(bytes.data() + from, (to == std::string::npos ? bytes.size() : to) - from);
    if (!isUtf8(text) || to == std::string::npos) break;
    from = to + 1;
    ++line;
  }
  return NfceRefusal{line, "",
                     "o arquivo declara a codificação " + str(declared.isEmpty() ? "UTF-8" : declared) +
                         " mas a linha " + std::to_string(line) + " não está nela (outra codificação?)"};
}

struct Checker {
  const Collected& c;

  uint64_t lineOf(const QString& path) const {
    auto it = c.lineOf.find(path);
    return it == c.lineOf.end() ? 0 : it->second;
  }

  static QString get(const std::map<QString, QString>& m, const char* name) {
    auto it = m.find(QLatin1String(name));
    return it == m.end() ? QString() : it->second;
  }

  std::optional<NfceRefusal> missing(const std::map<QString, QString>& m, const char* parent,
                                     std::initializer_list<const char*> names) const {
    for (const char* n : names)
      if (get(m, n).isEmpty())
        return NfceRefusal{lineOf(QLatin1String(parent)), std::string(parent) + "/" + n,
                           std::string("falta o elemento ") + n + " (ou está vazio)"};
    return std::nullopt;
  }

  std::optional<NfceRefusal> header() const {
    if (c.rootName.isEmpty()) return NfceRefusal{0, "", "arquivo sem nenhum elemento XML"};
    if (c.rootNamespace != kNfeNamespace)
      return NfceRefusal{
          1, str(c.rootName),
          "não é uma NFC-e: o elemento raiz " + str(c.rootName) + " não está no espaço de nomes " + str(kNfeNamespace)};
    if (c.rootName != QLatin1String("nfeProc") && c.rootName != QLatin1String("NFe"))
      return NfceRefusal{1, str(c.rootName),
                         "não é uma NFC-e: o elemento raiz é " + str(c.rootName) + ", não nfeProc nem procEventoNFe"};
    if (lineOf(QStringLiteral("NFe/infNFe")) == 0)
      return NfceRefusal{1, "NFe/infNFe",
                         "não é uma NFC-e: falta o elemento infNFe no espaço de nomes " + str(kNfeNamespace)};
    if (c.version != QLatin1String(kLayout))
      return NfceRefusal{lineOf(QStringLiteral("NFe/infNFe")), "NFe/infNFe/@versao",
                         "leiaute " + str(c.version) + " não é lido: só o leiaute " + kLayout};
    if (auto m = missing(c.ide, "NFe/infNFe/ide", {"mod", "serie", "nNF", "dhEmi", "tpAmb", "tpEmis"})) return m;
    const QString model = get(c.ide, "mod");
    if (model != QLatin1String("65"))
      return NfceRefusal{lineOf(QStringLiteral("NFe/infNFe/ide/mod")), "NFe/infNFe/ide/mod",
                         "modelo " + str(model) + " não é NFC-e (modelo 65)"};
    if (get(c.ide, "tpAmb") != QLatin1String("1"))
      return NfceRefusal{lineOf(QStringLiteral("NFe/infNFe/ide/tpAmb")), "NFe/infNFe/ide/tpAmb",
                         "documento do ambiente de homologação (tpAmb " + str(get(c.ide, "tpAmb")) +
                             "): um documento de teste não é uma venda"};
    return std::nullopt;
  }

  std::optional<NfceRefusal> key() const {
    static const QRegularExpression id(QStringLiteral("^NFe([0-9]{44})$"));
    const auto m = id.match(c.id);
    const uint64_t at = lineOf(QStringLiteral("NFe/infNFe"));
    if (!m.hasMatch())
      return NfceRefusal{at, "NFe/infNFe/@Id",
                         "chave de acesso \"" + str(c.id) + "\" inválida: NFe seguido de 44 algarismos"};
    const std::string k = str(m.captured(1));
    if (nfceKeyDigit(std::string_view(k).substr(0, 43)) != k[43])
      return NfceRefusal{at, "NFe/infNFe/@Id",
                         "chave de acesso " + k + " com dígito verificador errado (arquivo danificado?)"};
    return std::nullopt;
  }

  std::optional<NfceRefusal> authorisation(const QString& key) const {
    if (!c.hasProtocol)
      return NfceRefusal{0, "protNFe",
                         "NFC-e sem protocolo de autorização (protNFe): só documentos autorizados são vendas"};
    if (auto m = missing(c.protocol, "protNFe/infProt", {"cStat", "chNFe"})) return m;
    const QString status = get(c.protocol, "cStat");
    // 100 authorised; 150 authorised after the deadline (contingency)
    if (status != QLatin1String("100") && status != QLatin1String("150"))
      return NfceRefusal{
          lineOf(QStringLiteral("protNFe/infProt/cStat")), "protNFe/infProt/cStat",
          "NFC-e não autorizada: situação " + str(status) + " (" + str(get(c.protocol, "xMotivo")) + ")"};
    if (get(c.protocol, "chNFe") != key)
      return NfceRefusal{lineOf(QStringLiteral("protNFe/infProt/chNFe")), "protNFe/infProt/chNFe",
                         "o protocolo é da chave " + str(get(c.protocol, "chNFe")) + ", não da " + str(key)};
    return std::nullopt;
  }

  std::optional<NfceRefusal> moment(NfceDocument& doc) const {
    static const QRegularExpression form(
        QStringLiteral("^([0-9]{4}-[0-9]{2}-[0-9]{2})T([0-9]{2}:[0-9]{2}:[0-9]{2})([+-][0-9]{2}:[0-9]{2})$"));
    const QString text = get(c.ide, "dhEmi");
    const auto m = form.match(text);
    const auto number = [&](int group, int from, int size) { return m.capturedView(group).mid(from, size).toInt(); };
    const bool valid = m.hasMatch() && QDate::isValid(number(1, 0, 4), number(1, 5, 2), number(1, 8, 2)) &&
                       QTime::isValid(number(2, 0, 2), number(2, 3, 2), number(2, 6, 2));
    if (!valid)
      return NfceRefusal{lineOf(QStringLiteral("NFe/infNFe/ide/dhEmi")), "NFe/infNFe/ide/dhEmi",
                         "data e hora de emissão \"" + str(text) + "\" inválidas (aaaa-mm-ddThh:mm:ss-03:00)"};
    // the moment as the store lived it: the offset the document states is its own
    doc.moment = m.captured(1) + QLatin1Char(' ') + m.captured(2);
    doc.day = m.captured(1);
    return std::nullopt;
  }

  std::optional<NfceRefusal> items(const NfceDocument& doc, long long* products, long long* discounts) const {
    if (doc.items.empty())
      return NfceRefusal{lineOf(QStringLiteral("NFe/infNFe")), "NFe/infNFe/det", "NFC-e sem itens"};
    for (size_t i = 0; i < doc.items.size(); ++i) {
      const auto& it = doc.items[i];
      const std::string name = "det nItem=\"" + str(it.number) + "\"";
      if (it.number.isEmpty() || it.code.isEmpty())
        return NfceRefusal{it.line, "NFe/infNFe/det/prod/cProd",
                           "item sem número (nItem) ou sem código do produto (cProd)"};
      for (auto [v, what] : {std::pair{it.quantity, "qCom"}, {it.unitPrice, "vUnCom"}, {it.discount, "vDesc"}})
        if (!std::isfinite(v) || v < 0)
          return NfceRefusal{it.line, std::string("NFe/infNFe/det/prod/") + what,
                             name + ": " + what + " não é um número válido"};
      const auto value = decimal(i < c.itemValues.size() ? c.itemValues[i] : QString());
      if (!value || std::llabs(cents(*value) - cents(it.quantity * it.unitPrice)) > 1)
        return NfceRefusal{it.line, "NFe/infNFe/det/prod/vProd",
                           name + ": vProd não é qCom × vUnCom (arquivo danificado ou editado à mão)"};
      *products += cents(*value);
      *discounts += cents(it.discount);
    }
    return std::nullopt;
  }

  // vNF as the layout composes it from the totals, and the totals from the items
  std::optional<NfceRefusal> totals(NfceDocument& doc, long long products, long long discounts) const {
    const uint64_t at = lineOf(QStringLiteral("NFe/infNFe/total/ICMSTot"));
    if (at == 0) return NfceRefusal{0, "NFe/infNFe/total/ICMSTot", "faltam os totais (ICMSTot)"};
    auto total = [&](const char* name) -> std::optional<long long> {
      const QString text = get(c.totals, name);
      if (text.isEmpty()) return 0LL;
      auto v = decimal(text);
      if (!v) return std::nullopt;
      return cents(*v);
    };
    std::map<std::string, long long> t;
    for (const char* name : {"vProd", "vDesc", "vNF", "vICMSDeson", "vST", "vFCPST", "vFrete", "vSeg", "vOutro", "vII",
                             "vIPI", "vIPIDevol", "vServ"}) {
      auto v = total(name);
      if (!v)
        return NfceRefusal{at, std::string("NFe/infNFe/total/ICMSTot/") + name,
                           std::string(name) + " não é um número válido"};
      t[name] = *v;
    }
    const std::string damaged = " (arquivo danificado ou editado à mão)";
    if (t["vProd"] != products)
      return NfceRefusal{
          at, "NFe/infNFe/total/ICMSTot/vProd",
          "vProd " + brMoney(t["vProd"]) + " não é a soma dos itens (" + brMoney(products) + ")" + damaged};
    if (t["vDesc"] != discounts)
      return NfceRefusal{at, "NFe/infNFe/total/ICMSTot/vDesc",
                         "vDesc " + brMoney(t["vDesc"]) + " não é a soma dos descontos dos itens (" +
                             brMoney(discounts) + ")" + damaged};
    const long long composed = t["vProd"] - t["vDesc"] - t["vICMSDeson"] + t["vST"] + t["vFCPST"] + t["vFrete"] +
                               t["vSeg"] + t["vOutro"] + t["vII"] + t["vIPI"] + t["vIPIDevol"] + t["vServ"];
    if (t["vNF"] != composed)
      return NfceRefusal{
          at, "NFe/infNFe/total/ICMSTot/vNF",
          "vNF " + brMoney(t["vNF"]) + " não fecha com os outros totais (" + brMoney(composed) + ")" + damaged};
    doc.total = double(t["vNF"]) / 100.0;
    return std::nullopt;
  }

  static bool keyIsSound(const QString& key) {
    static const QRegularExpression digits(QStringLiteral("^[0-9]{44}$"));
    if (!digits.match(key).hasMatch()) return false;
    const std::string k = str(key);
    return nfceKeyDigit(std::string_view(k).substr(0, 43)) == k[43];
  }

  NfceRead cancellation() const {
    const char* info = "procEventoNFe/evento/infEvento";
    const uint64_t at = lineOf(QLatin1String(info));
    if (at == 0)
      return NfceRefusal{1, info, "evento sem o elemento infEvento no espaço de nomes " + str(kNfeNamespace)};
    if (auto m = missing(c.event, info, {"tpEvento", "chNFe", "tpAmb"})) return *m;
    const QString type = get(c.event, "tpEvento"), key = get(c.event, "chNFe");
    if (type != QLatin1String("110111"))
      return NfceRefusal{lineOf(QStringLiteral("procEventoNFe/evento/infEvento/tpEvento")),
                         "procEventoNFe/evento/infEvento/tpEvento",
                         "evento " + str(type) + " não é um cancelamento (110111): não é importado"};
    if (get(c.event, "tpAmb") != QLatin1String("1"))
      return NfceRefusal{at, "procEventoNFe/evento/infEvento/tpAmb",
                         "evento do ambiente de homologação: um documento de teste não é uma venda"};
    if (!keyIsSound(key))
      return NfceRefusal{lineOf(QStringLiteral("procEventoNFe/evento/infEvento/chNFe")),
                         "procEventoNFe/evento/infEvento/chNFe",
                         "chave de acesso " + str(key) + " inválida (44 algarismos com o seu dígito verificador)"};
    const QString status = get(c.eventReturn, "cStat");
    // 135 registered; 155 registered after the deadline
    if (!c.hasEventReturn || (status != QLatin1String("135") && status != QLatin1String("155")))
      return NfceRefusal{
          lineOf(QStringLiteral("procEventoNFe/retEvento")), "procEventoNFe/retEvento/infEvento/cStat",
          "cancelamento não registrado pela autoridade" +
              (status.isEmpty() ? std::string(" (sem retEvento)")
                                : ": situação " + str(status) + " (" + str(get(c.eventReturn, "xMotivo")) + ")")};
    return NfceCancellation{key};
  }

  NfceRead document() const {
    if (c.rootName == QLatin1String("procEventoNFe") && c.rootNamespace == kNfeNamespace) return cancellation();
    if (auto r = header()) return *r;
    NfceDocument doc;
    if (auto r = key()) return *r;
    doc.key = c.id.mid(3);
    if (auto r = authorisation(doc.key)) return *r;
    if (auto r = missing(c.issuer, "NFe/infNFe/emit", {"CNPJ"})) return *r;
    if (auto r = moment(doc)) return *r;
    doc.issuerCnpj = get(c.issuer, "CNPJ");
    doc.series = get(c.ide, "serie");
    doc.number = get(c.ide, "nNF");
    doc.contingency = get(c.ide, "tpEmis") == QLatin1String("9");
    doc.customerDocument = get(c.dest, "CPF").isEmpty() ? get(c.dest, "CNPJ") : get(c.dest, "CPF");
    doc.customerName = get(c.dest, "xNome");
    doc.items = c.items;
    doc.payments = c.payments;
    long long products = 0, discounts = 0;
    if (auto r = items(doc, &products, &discounts)) return *r;
    if (auto r = totals(doc, products, discounts)) return *r;
    for (const auto& p : doc.payments)
      if (p.type.size() != 2 || !std::isfinite(p.value))
        return NfceRefusal{lineOf(QStringLiteral("NFe/infNFe/pag/detPag")), "NFe/infNFe/pag/detPag",
                           "forma de pagamento (tPag \"" + str(p.type) + "\") ou valor (vPag) inválidos"};
    return doc;
  }
};

}  // namespace

char nfceKeyDigit(std::string_view first43) {
  int sum = 0, weight = 2;
  for (auto it = first43.rbegin(); it != first43.rend(); ++it) {
    sum += (*it - '0') * weight;
    weight = weight == 9 ? 2 : weight + 1;
  }
  const int digit = 11 - sum % 11;
  return char('0' + (digit >= 10 ? 0 : digit));
}

bool NfceReader::feed(std::string_view bytes) {
  if (tooLarge_) return false;
  if (bytes_.size() + bytes.size() > kMaxNfceBytes) {
    tooLarge_ = true;
    bytes_.clear();
    bytes_.shrink_to_fit();
    return false;
  }
  bytes_.append(bytes);
  return true;
}

NfceRead NfceReader::finish() {
  if (tooLarge_)
    return NfceRefusal{0, "", "arquivo maior que " + std::to_string(kMaxNfceBytes >> 20) + " MiB: não é uma NFC-e"};
  if (bytes_.empty()) return NfceRefusal{0, "", "arquivo vazio"};
  if (auto bad = encodingProblem(bytes_)) return *bad;
  Collected collected;
  if (auto bad = Walker(bytes_).walk(collected)) return *bad;
  return Checker{collected}.document();
}

NfceReadAhead::NfceReadAhead(size_t depth, size_t bytes)
    : depth_(std::max<size_t>(1, depth)), bytes_(bytes), worker_([this] { work(); }) {}

NfceReadAhead::~NfceReadAhead() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  worker_.join();
}

bool NfceReadAhead::hasRoom(size_t size) const {
  std::lock_guard lock(mutex_);
  return jobs_.empty() || (jobs_.size() < depth_ && queuedBytes_ + size <= bytes_);
}

void NfceReadAhead::put(std::string name, NfceReader document, size_t size) {
  std::unique_lock lock(mutex_);
  jobs_.push_back(Job{std::move(name), std::move(document), size, std::nullopt});
  ++unread_;
  queuedBytes_ += size;
  lock.unlock();
  changed_.notify_all();
}

std::optional<std::pair<std::string, NfceRead>> NfceReadAhead::take(bool wait) {
  std::unique_lock lock(mutex_);
  if (jobs_.empty()) return std::nullopt;
  if (wait) changed_.wait(lock, [&] { return jobs_.front().read.has_value(); });
  if (!jobs_.front().read) return std::nullopt;
  Job job = std::move(jobs_.front());
  jobs_.pop_front();
  queuedBytes_ -= job.size;
  lock.unlock();
  changed_.notify_all();
  return std::make_pair(std::move(job.name), std::move(*job.read));
}

bool NfceReadAhead::empty() const {
  std::lock_guard lock(mutex_);
  return jobs_.empty();
}

void NfceReadAhead::work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return stopping_ || unread_ > 0; });
    if (stopping_) return;
    // the deque's elements stay where they are while others are pushed or popped at its ends
    Job& job = jobs_[jobs_.size() - unread_];
    lock.unlock();
    NfceRead read = job.document.finish();
    lock.lock();
    job.read = std::move(read);
    job.document = NfceReader();  // its bytes go as soon as it is read
    --unread_;
    changed_.notify_all();
  }
}

}  // namespace qfx::server
