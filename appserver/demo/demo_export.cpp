#include "demo/demo_export.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <vector>

#include "common/nfce_reader.h"
#include "db/sql.h"
#include "domain/import_tables.h"

namespace qfx::server::demo {

namespace {

using importing::ColumnType;
using importing::Kind;

// A text field quoted when the reader would otherwise change it: the
// separator, a quote, a line break, or blanks at either end.
QString textField(const QString& text) {
  const bool plain = !text.contains(QLatin1Char(';')) && !text.contains(QLatin1Char('"')) &&
                     !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')) && text.trimmed() == text;
  if (plain) return text;
  QString quoted = text;
  quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
  return QLatin1Char('"') + quoted + QLatin1Char('"');
}

// The forms a Brazilian export writes: dd/mm/aaaa, decimal comma.
QString field(const QVariant& v, ColumnType type) {
  if (v.isNull()) return {};
  switch (type) {
    case ColumnType::Day: {
      const QDate d = v.typeId() == QMetaType::QDate
                          ? v.toDate()
                          : QDate::fromString(v.toString().left(10), QStringLiteral("yyyy-MM-dd"));
      return d.toString(QStringLiteral("dd/MM/yyyy"));
    }
    case ColumnType::Moment: {
      const QDateTime m =
          v.typeId() == QMetaType::QDateTime
              ? v.toDateTime()
              : QDateTime::fromString(v.toString().left(19).replace('T', ' '), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
      return m.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"));
    }
    case ColumnType::Number:
      return QString::number(v.toDouble(), 'g', 17).replace(QLatin1Char('.'), QLatin1Char(','));
    case ColumnType::Integer:
      return QString::number(v.toLongLong());
    case ColumnType::Text:
      return textField(v.toString());
  }
  return {};
}

QString selectOf(const Kind& kind) {
  QStringList columns, keys;
  for (const auto& c : kind.columns) {
    const bool item = kind.name == std::string(importing::kSales) && importing::isItemColumn(c.name);
    columns << (item ? QStringLiteral("I.") : QStringLiteral("T.")) + QLatin1String(c.name);
    if (c.key) keys << (item ? QStringLiteral("I.") : QStringLiteral("T.")) + QLatin1String(c.name);
  }
  QString from = QStringLiteral("%1 T").arg(QLatin1String(kind.table));
  if (kind.name == std::string(importing::kSales))
    from += QStringLiteral(" JOIN ITVENDA I ON I.CDFILIAL = T.CDFILIAL AND I.NRSEQVENDA = T.NRSEQVENDA");
  return QStringLiteral("SELECT %1 FROM %2 ORDER BY %3").arg(columns.join(", "), from, keys.join(", "));
}

Status writeKind(QSqlDatabase& db, const Kind& kind, const QString& folder) {
  QFile file(QDir(folder).filePath(QLatin1String(kind.name) + QStringLiteral(".csv")));
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
    return internalError("não foi possível gravar " + file.fileName().toStdString());
  QStringList header;
  for (const auto& c : kind.columns) header << QLatin1String(c.name);
  file.write((header.join(QLatin1Char(';')) + QLatin1Char('\n')).toUtf8());
  auto rows = sql::run(db, selectOf(kind));
  if (!rows) return rows.error();
  QString line;
  while (rows->next()) {
    line.clear();
    for (int i = 0; i < int(kind.columns.size()); ++i) {
      if (i) line += QLatin1Char(';');
      line += field(rows->value(i), kind.columns[size_t(i)].type);
    }
    line += QLatin1Char('\n');
    if (file.write(line.toUtf8()) < 0) return internalError("erro ao gravar " + file.fileName().toStdString());
  }
  return success();
}

}  // namespace

Status writeImportFiles(QSqlDatabase& db, const QString& folder) {
  if (!QDir().mkpath(folder)) return internalError("não foi possível criar a pasta " + folder.toStdString());
  for (const auto& kind : importing::kinds()) {
    if (kind.name == std::string(importing::kNfce)) continue;  // the demo's sales travel as VENDA files
    if (auto written = writeKind(db, kind, folder); !written) return written;
  }
  return success();
}

namespace {

struct NfceItemRow {
  int number = 0;
  QString product, gtin, name;
  double quantity = 0, price = 0, discount = 0;
};

struct NfceSale {
  QString branch, number, moment, receipt, situation, payment, consumer, key, cnpj, series;
  QString customerDocument, customerName;
  QVariant total;  // the vNF an import kept; none: the items' value
  std::vector<NfceItemRow> items;
};

const char* const kNfceSales =
    "SELECT V.CDFILIAL, V.NRSEQVENDA, V.DTENTRVENDA, V.NRCUPOMFIS, V.IDSITUVENDA, V.IDTPFORPGVEN, V.NMCONSUMIDOR, "
    "V.CDCHAVENFCE, V.VRTOTNFCE, F.NRCNPJFILI, C.CDSERIENFCE, CL.NRINSJURCLIE, CL.NMRAZSOCCLIE, I.NRSEQUITVEND, "
    "I.CDPRODUTO, P.CDGTINPROD, P.NMPRODUTO, I.QTPRODVEND, I.VRUNITVEND, I.VRDESITVEND FROM VENDA V "
    "JOIN FILIAL F ON F.CDFILIAL = V.CDFILIAL "
    "JOIN CAIXA C ON C.CDFILIAL = V.CDFILIAL AND C.CDCAIXA = V.CDCAIXA "
    "JOIN ITVENDA I ON I.CDFILIAL = V.CDFILIAL AND I.NRSEQVENDA = V.NRSEQVENDA "
    "JOIN PRODUTO P ON P.CDPRODUTO = I.CDPRODUTO "
    "LEFT JOIN CLIENTE CL ON CL.CDCLIENTE = V.CDCLIENTE "
    "WHERE V.DTVENDA = ?";

QString momentOf(const QVariant& v) {
  if (v.typeId() == QMetaType::QDateTime) return v.toDateTime().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
  return v.toString().left(19).replace(QLatin1Char(' '), QLatin1Char('T'));
}

QString money(long long cents) {
  return QStringLiteral("%1.%2").arg(cents / 100).arg(cents % 100, 2, 10, QLatin1Char('0'));
}

QString escaped(const QString& text) { return text.toHtmlEscaped(); }

// The sale's payment form back as the layout's tPag: the digits and letters an
// import makes of it, and the demo's own letters (D cash, C credit card, P on
// the store's credit); none: 99, others.
QString paymentCode(const QString& form) {
  if (form.isEmpty()) return QStringLiteral("99");
  const QChar c = form.front();
  if (c >= QLatin1Char('1') && c <= QLatin1Char('9')) return QStringLiteral("0") + c;
  if (c == QLatin1Char('D')) return QStringLiteral("01");
  if (c == QLatin1Char('C')) return QStringLiteral("03");
  if (c == QLatin1Char('P')) return QStringLiteral("05");
  if (c >= QLatin1Char('A') && c < QLatin1Char('Z')) return QString::number(10 + (c.unicode() - u'A'));
  return QStringLiteral("99");
}

// The access key a sale keeps, or the one its document is given: state 35,
// year and month, the issuer, modelo 65, series, number, normal emission,
// a code from the sale's number, and the check digit.
QString accessKey(const NfceSale& s, const QDate& day) {
  if (!s.key.isEmpty()) return s.key;
  const QString first = QStringLiteral("35") + day.toString(QStringLiteral("yyMM")) + s.cnpj + QStringLiteral("65") +
                        QStringLiteral("%1").arg(s.series.toInt(), 3, 10, QLatin1Char('0')) +
                        QStringLiteral("%1").arg(s.receipt.toLongLong(), 9, 10, QLatin1Char('0')) +
                        QStringLiteral("1") +
                        QStringLiteral("%1").arg(s.number.toLongLong() % 100000000, 8, 10, QLatin1Char('0'));
  const std::string digits = first.toStdString();
  return first + QLatin1Char(nfceKeyDigit(digits));
}

bool expressible(const NfceSale& s) {
  bool seriesOk = false, receiptOk = false;
  const int series = s.series.toInt(&seriesOk);
  const qlonglong receipt = s.receipt.toLongLong(&receiptOk);
  return s.situation != QLatin1String("D") && s.cnpj.size() == 14 && seriesOk && series >= 0 && series <= 999 &&
         receiptOk && receipt > 0 && receipt <= 999999999 && !s.items.empty();
}

QByteArray documentXml(const NfceSale& s, const QString& key) {
  const QString emitted = s.moment + QStringLiteral("-03:00");
  QString det;
  long long products = 0, discounts = 0;
  for (const auto& i : s.items) {
    const long long value = std::llround(i.quantity * i.price * 100.0), discount = std::llround(i.discount * 100.0);
    products += value;
    discounts += discount;
    const QString gtin = i.gtin.isEmpty() ? QStringLiteral("SEM GTIN") : i.gtin;
    det += QStringLiteral(
               "<det nItem=\"%1\"><prod><cProd>%2</cProd><cEAN>%3</cEAN><xProd>%4</xProd><NCM>21069090</NCM>"
               "<CFOP>5102</CFOP><uCom>UN</uCom><qCom>%5</qCom><vUnCom>%6</vUnCom><vProd>%7</vProd>"
               "<cEANTrib>%3</cEANTrib><uTrib>UN</uTrib><qTrib>%5</qTrib><vUnTrib>%6</vUnTrib>%8"
               "<indTot>1</indTot></prod><imposto><ICMS><ICMSSN102><orig>0</orig><CSOSN>102</CSOSN>"
               "</ICMSSN102></ICMS></imposto></det>\n")
               .arg(i.number)
               .arg(escaped(i.product), escaped(gtin), escaped(i.name), QString::number(i.quantity, 'f', 4),
                    QString::number(i.price, 'f', 10), money(value),
                    discount ? QStringLiteral("<vDesc>%1</vDesc>").arg(money(discount)) : QString());
  }
  const long long total = s.total.isNull() ? products - discounts : std::llround(s.total.toDouble() * 100.0);
  QString dest;
  if (s.customerDocument.size() == 11 || s.customerDocument.size() == 14) {
    const QString tag = s.customerDocument.size() == 11 ? QStringLiteral("CPF") : QStringLiteral("CNPJ");
    dest = QStringLiteral("<dest><%1>%2</%1><xNome>%3</xNome><indIEDest>9</indIEDest></dest>\n")
               .arg(tag, s.customerDocument, escaped(s.customerName));
  } else if (!s.consumer.isEmpty()) {
    dest = QStringLiteral("<dest><xNome>%1</xNome><indIEDest>9</indIEDest></dest>\n").arg(escaped(s.consumer));
  }
  const QString protocol = QStringLiteral("135") + key.mid(2, 2) + key.mid(25, 10);
  QString x = QStringLiteral(
                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                  "<nfeProc xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"4.00\">\n"
                  "<NFe xmlns=\"http://www.portalfiscal.inf.br/nfe\">\n<infNFe versao=\"4.00\" Id=\"NFe%1\">\n"
                  "<ide><cUF>35</cUF><cNF>%2</cNF><natOp>VENDA</natOp><mod>65</mod><serie>%3</serie><nNF>%4</nNF>"
                  "<dhEmi>%5</dhEmi><tpNF>1</tpNF><idDest>1</idDest><cMunFG>3550308</cMunFG><tpImp>4</tpImp>"
                  "<tpEmis>1</tpEmis><cDV>%6</cDV><tpAmb>1</tpAmb><finNFe>1</finNFe><indFinal>1</indFinal>"
                  "<indPres>1</indPres><procEmi>0</procEmi><verProc>qfxdemo</verProc></ide>\n"
                  "<emit><CNPJ>%7</CNPJ><xNome>Demo</xNome><CRT>1</CRT></emit>\n")
                  .arg(key, key.mid(35, 8), QString::number(s.series.toInt()), QString::number(s.receipt.toLongLong()),
                       emitted, key.right(1), s.cnpj);
  x += dest + det;
  x += QStringLiteral(
           "<total><ICMSTot><vBC>0.00</vBC><vICMS>0.00</vICMS><vProd>%1</vProd><vDesc>%2</vDesc>"
           "<vFrete>0.00</vFrete><vSeg>0.00</vSeg><vOutro>0.00</vOutro><vNF>%3</vNF></ICMSTot></total>\n"
           "<transp><modFrete>9</modFrete></transp>\n"
           "<pag><detPag><tPag>%4</tPag><vPag>%3</vPag></detPag></pag>\n</infNFe>\n"
           "<infNFeSupl><qrCode><![CDATA[https://www.nfce.fazenda.sp.gov.br/qrcode?p=%5|2|1|1|0]]>"
           "</qrCode></infNFeSupl>\n"
           "<Signature xmlns=\"http://www.w3.org/2000/09/xmldsig#\"><SignedInfo><Reference URI=\"#NFe%5\">"
           "<DigestValue>ZGVtbw==</DigestValue></Reference></SignedInfo><SignatureValue>ZGVtbw=="
           "</SignatureValue></Signature>\n</NFe>\n")
           .arg(money(products), money(discounts), money(total), paymentCode(s.payment), key);
  x += QStringLiteral(
           "<protNFe versao=\"4.00\"><infProt><tpAmb>1</tpAmb><chNFe>%1</chNFe><dhRecbto>%2</dhRecbto>"
           "<nProt>%3</nProt><cStat>100</cStat><xMotivo>Autorizado o uso da NF-e</xMotivo></infProt>"
           "</protNFe>\n</nfeProc>\n")
           .arg(key, emitted, protocol);
  return x.toUtf8();
}

QByteArray cancellationXml(const NfceSale& s, const QString& key) {
  const QString emitted = s.moment + QStringLiteral("-03:00");
  return QStringLiteral(
             "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
             "<procEventoNFe xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"1.00\">\n"
             "<evento versao=\"1.00\"><infEvento Id=\"%5\"><cOrgao>35</cOrgao><tpAmb>1</tpAmb>"
             "<CNPJ>%2</CNPJ><chNFe>%1</chNFe><dhEvento>%3</dhEvento><tpEvento>110111</tpEvento>"
             "<nSeqEvento>1</nSeqEvento><verEvento>1.00</verEvento><detEvento versao=\"1.00\">"
             "<descEvento>Cancelamento</descEvento><nProt>%4</nProt><xJust>Venda cancelada no caixa</xJust>"
             "</detEvento></infEvento></evento>\n<retEvento versao=\"1.00\"><infEvento><tpAmb>1</tpAmb>"
             "<cStat>135</cStat><xMotivo>Evento registrado e vinculado a NF-e</xMotivo><chNFe>%1</chNFe>"
             "<tpEvento>110111</tpEvento></infEvento></retEvento>\n</procEventoNFe>\n")
      .arg(key, s.cnpj, emitted, QStringLiteral("135") + key.mid(2, 2) + key.mid(25, 10),
           QStringLiteral("ID110111") + key + QStringLiteral("01"))
      .toUtf8();
}

Status writeFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
    return internalError("não foi possível gravar " + path.toStdString());
  return success();
}

Status writeSale(NfceSale& s, const QDir& folder, const QDate& day, NfceFiles& files) {
  if (!expressible(s)) {
    ++files.leftOut;
    return success();
  }
  std::sort(s.items.begin(), s.items.end(),
            [](const NfceItemRow& a, const NfceItemRow& b) { return a.number < b.number; });
  const QString key = accessKey(s, day);
  if (auto w = writeFile(folder.filePath(key + QStringLiteral("-nfce.xml")), documentXml(s, key)); !w) return w;
  ++files.documents;
  if (s.situation != QLatin1String("C")) return success();
  ++files.cancellations;
  return writeFile(folder.filePath(key + QStringLiteral("-cancelamento.xml")), cancellationXml(s, key));
}

}  // namespace

Result<NfceFiles> writeNfceFiles(QSqlDatabase& db, const QString& folder, const NfceSelection& selection) {
  if (!QDir().mkpath(folder)) return internalError("não foi possível criar a pasta " + folder.toStdString());
  const QDir dir(folder);
  QString text = QString::fromLatin1(kNfceSales);
  QVariantList values{selection.day.toString(QStringLiteral("yyyy-MM-dd"))};
  if (!selection.branch.isEmpty()) {
    text += QStringLiteral(" AND V.CDFILIAL = ?");
    values << selection.branch;
  }
  auto rows = sql::run(db, text + QStringLiteral(" ORDER BY V.CDFILIAL, V.NRSEQVENDA"), values);
  if (!rows) return rows.error();
  NfceFiles files;
  std::optional<NfceSale> sale;
  while (rows->next()) {
    const auto text = [&](int column) { return rows->value(column).toString(); };
    if (!sale || sale->branch != text(0) || sale->number != text(1)) {
      if (sale)
        if (auto w = writeSale(*sale, dir, selection.day, files); !w) return w.error();
      sale = NfceSale{text(0), text(1), momentOf(rows->value(2)), text(3),  text(4),  text(5),        text(6),
                      text(7), text(9), text(10).trimmed(),       text(11), text(12), rows->value(8), {}};
    }
    sale->items.push_back({text(13).toInt(), text(14), text(15), text(16), rows->value(17).toDouble(),
                           rows->value(18).toDouble(), rows->value(19).toDouble()});
  }
  if (sale)
    if (auto w = writeSale(*sale, dir, selection.day, files); !w) return w.error();
  return files;
}

}  // namespace qfx::server::demo
