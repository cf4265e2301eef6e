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

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
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

// Documents read on a thread of their own while the caller writes the ones
// read before: handed in whole, taken back read, in the order they came.
// Memory stays bounded: the caller takes documents back (waiting for them)
// until there is room for the next one: `depth` documents, `bytes` bytes.
class NfceReadAhead {
 public:
  explicit NfceReadAhead(size_t depth = 64, size_t bytes = 16u << 20);
  ~NfceReadAhead();  // lets the document being read end, drops the rest
  NfceReadAhead(const NfceReadAhead&) = delete;
  NfceReadAhead& operator=(const NfceReadAhead&) = delete;

  bool hasRoom(size_t size) const;
  void put(std::string name, NfceReader document, size_t size);
  // The oldest document and its read: at once when it is read (nullopt
  // otherwise, or when none waits), or after waiting for it with `wait`.
  std::optional<std::pair<std::string, NfceRead>> take(bool wait);
  bool empty() const;

 private:
  struct Job {
    std::string name;
    NfceReader document;
    size_t size = 0;
    std::optional<NfceRead> read;
  };
  void work();

  const size_t depth_, bytes_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Job> jobs_;
  size_t unread_ = 0;  // jobs_ from the end not read yet
  size_t queuedBytes_ = 0;
  bool stopping_ = false;
  std::thread worker_;
};

// The access key's check digit (modulo 11 over its first 43 digits).
char nfceKeyDigit(std::string_view first43);

}  // namespace qfx::server
