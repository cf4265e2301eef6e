// The client side of the import: which files, in which order, streamed to
// the application server in pieces, with the progress as they go. Used by
// the qfximport command; no widgets, no event loop.
#pragma once

#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <hostkit/core/result.h>
#include <proto/qfx31700.grpc.pb.h>

namespace qfximport {

namespace rpc = qfx::rpc;
using hostkit::Result;
using hostkit::Status;

struct ImportFile {
  QString path;
  QString kind;  // from the file's name
  qint64 bytes = 0;
};

// The kind a file's name gives: its start up to the first character that is
// not a letter, in capitals ("venda-2026-12-01.csv" is VENDA); empty when
// that is no kind of import file.
QString kindOfFileName(const QString& fileName);

// The files named, folders by their *.csv files, in the order they must be
// imported (by kind, then by name). A name that is neither a readable file
// nor a folder, or a file of no known kind, is an error naming it.
Result<std::vector<ImportFile>> collectFiles(const QStringList& paths);

struct Progress {
  qint64 bytesSent = 0, bytesTotal = 0;
  qint64 lines = 0;  // line breaks sent: about one a row (a sale item)
  QString file;
};

// More than a Result: a failure also says whether the server was lost.
struct Outcome {
  bool ok = false;          // the server answered; reply holds what it did
  QString error;            // otherwise why not
  bool serverLost = false;  // unreachable, or gone before it answered: nothing was written
  rpc::ImportaDadosResposta reply;
};

struct Connection {
  std::shared_ptr<grpc::Channel> channel;
  std::string token;
};

// Stops an import from another thread: the call is cut at once and nothing
// is written. A piece already handed to a server that stopped reading stays
// on its way until that server reads again or goes away (the synchronous
// stream gives no way to take it back): importFiles returns then, and a
// caller that must not wait (a window) lets it finish on its own.
class Cancellation {
 public:
  void cancel();
  bool requested() const { return requested_.load(); }

 private:
  friend class CallGuard;
  std::mutex mutex_;
  grpc::ClientContext* call_ = nullptr;
  std::atomic<bool> requested_{false};
};

// Logs in; the error says why not.
Result<Connection> login(const std::string& address, bool tls, const QString& caFile, const std::string& operatorCode,
                         const std::string& password);

// Sends the files; `cancel` set stops before the next piece (nothing is
// written then). `progress` runs after every piece, on the calling thread.
Outcome importFiles(const Connection& connection, const std::vector<ImportFile>& files, bool dryRun,
                    const std::function<void(const Progress&)>& progress = {}, Cancellation* cancel = nullptr);

}  // namespace qfximport
