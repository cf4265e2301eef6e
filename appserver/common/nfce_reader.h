// Reads one authorised NFC-e (modelo 65, layout 4.00) as the point of sale
// keeps it: `nfeProc` with its `NFe` and `protNFe`; or its cancellation,
// `procEventoNFe` with the event and the authority's return. The document is checked
// on its own terms here (model, layout, environment, authorisation, the
// access key, the totals); what it names in the database is the importer's.
//
// Qt's streaming XML reader walks the document: only elements of the NF-e
// namespace are read, so the signature block (another namespace) and
// `infNFeSupl` (the QR code, often CDATA) are skipped whole.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <QString>

namespace qfx::server {

struct NfceItem {
  uint64_t line = 0;  // of its `det`
  QString number;     // det/@nItem
  QString code, gtin;
  double quantity = 0, unitPrice = 0, discount = 0;
};

struct NfcePayment {
  QString type;  // tPag, two digits
  double value = 0;
};

struct NfceDocument {
  QString key;  // the 44 digits of infNFe/@Id
  QString issuerCnpj, series, number;
  QString moment;  // local, as the document states it: yyyy-MM-dd HH:mm:ss
  QString day;     // that moment's local day: yyyy-MM-dd
  QString customerDocument, customerName;
  bool contingency = false;  // emitted offline (tpEmis 9), authorised later
  double total = 0;          // vNF
  std::vector<NfceItem> items;
  std::vector<NfcePayment> payments;
};

// An authorised cancellation (event 110111, registered by the authority):
// the document of that key is no sale.
struct NfceCancellation {
  QString key;
};

// Why a file is not a sale: the element at fault (empty: the file as a
// whole) and the reason, in the operator's words.
struct NfceRefusal {
  uint64_t line = 0;
  std::string element;
  std::string reason;
};

using NfceRead = std::variant<NfceDocument, NfceCancellation, NfceRefusal>;

// Bytes of one document at most; an NFC-e of the largest item count the
// layout allows stays well below.
inline constexpr size_t kMaxNfceBytes = 8u << 20;

class NfceReader {
 public:
  // false once the file is past the limit (nothing more is kept).
  bool feed(std::string_view bytes);
  NfceRead finish();

 private:
  std::string bytes_;
  bool tooLarge_ = false;
};

// The access key's check digit (modulo 11 over its first 43 digits).
char nfceKeyDigit(std::string_view first43);

}  // namespace qfx::server
