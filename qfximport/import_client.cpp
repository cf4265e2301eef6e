#include "import_client.h"

#include <grpcpp/grpcpp.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <chrono>

#include <proto/contract.h>

namespace qfximport {

namespace {

size_t rankOf(const QString& kind) {
  size_t i = 0;
  for (auto k : qfx::contract::kImportKinds) {
    if (kind == QLatin1String(k.data(), qsizetype(k.size()))) return i;
    ++i;
  }
  return i;
}

std::string pieceOf(QFile& file, qint64* lines) {
  // no more room than the file has left: a folder of small files (NFC-e)
  // would otherwise clear a whole piece's memory for each of them
  const qint64 left = file.size() - file.pos();
  const qint64 room = left > 0 ? std::min<qint64>(left, qint64(qfx::contract::kImportPieceBytes))
                               : qint64(qfx::contract::kImportPieceBytes);
  std::string data(size_t(room), '\0');
  const qint64 read = file.read(data.data(), qint64(data.size()));
  data.resize(size_t(std::max<qint64>(read, 0)));
  *lines += qint64(std::count(data.begin(), data.end(), '\n'));
  return data;
}

QString statusText(const grpc::Status& status) {
  const QString message = QString::fromStdString(status.error_message());
  switch (status.error_code()) {
    case grpc::StatusCode::UNAVAILABLE:
      return QStringLiteral("servidor de aplicação fora do ar ou inacessível (%1)").arg(message);
    case grpc::StatusCode::DEADLINE_EXCEEDED:
      return QStringLiteral("o servidor não respondeu a tempo; nada foi gravado");
    case grpc::StatusCode::CANCELLED:
      return QStringLiteral("importação cancelada; nada foi gravado");
    default:
      return message;
  }
}

Result<std::shared_ptr<grpc::Channel>> channelFor(const std::string& address, bool tls, const QString& caFile) {
  std::shared_ptr<grpc::ChannelCredentials> creds = grpc::InsecureChannelCredentials();
  if (tls) {
    grpc::SslCredentialsOptions options;
    if (!caFile.isEmpty()) {
      QFile ca(caFile);
      if (!ca.open(QIODevice::ReadOnly))
        return Result<std::shared_ptr<grpc::Channel>>::failure(
            QStringLiteral("não foi possível ler o certificado %1").arg(caFile));
      options.pem_root_certs = ca.readAll().toStdString();
    }
    creds = grpc::SslCredentials(options);
  }
  grpc::ChannelArguments args;
  args.SetMaxReceiveMessageSize(64 << 20);
  return grpc::CreateCustomChannel(address, creds, args);
}

}  // namespace

// Registers the running call with its Cancellation for as long as it runs, so
// cancel() from another thread never touches a context already gone.
class CallGuard {
 public:
  CallGuard(Cancellation* cancel, grpc::ClientContext* call) : cancel_(cancel) {
    if (!cancel_) return;
    std::lock_guard lock(cancel_->mutex_);
    cancel_->call_ = call;
    if (cancel_->requested_) call->TryCancel();
  }
  ~CallGuard() {
    if (!cancel_) return;
    std::lock_guard lock(cancel_->mutex_);
    cancel_->call_ = nullptr;
  }
  CallGuard(const CallGuard&) = delete;
  CallGuard& operator=(const CallGuard&) = delete;

 private:
  Cancellation* cancel_;
};

void Cancellation::cancel() {
  std::lock_guard lock(mutex_);
  requested_ = true;
  if (call_) call_->TryCancel();
}

QString kindOfFileName(const QString& fileName) {
  // an NFC-e keeps the name the point of sale gave it (its access key, say)
  if (fileName.endsWith(QLatin1String(".xml"), Qt::CaseInsensitive)) return QStringLiteral("NFCE");
  QString kind;
  for (const QChar c : fileName) {
    if (c < QLatin1Char('A') || c > QLatin1Char('z') || (c > QLatin1Char('Z') && c < QLatin1Char('a'))) break;
    kind += c.toUpper();
  }
  return rankOf(kind) < std::size(qfx::contract::kImportKinds) ? kind : QString();
}

Result<std::vector<ImportFile>> collectFiles(const QStringList& paths) {
  using Files = Result<std::vector<ImportFile>>;
  std::vector<ImportFile> files;
  QString error;
  auto add = [&](const QFileInfo& info) {
    const QString kind = kindOfFileName(info.fileName());
    if (kind.isEmpty()) {
      error = QStringLiteral(
                  "%1: o nome do arquivo não diz o que ele contém (comece-o pela tabela: VENDA, "
                  "REDUCAOZ, PRODUTO, ...)")
                  .arg(info.filePath());
      return false;
    }
    files.push_back({info.filePath(), kind, info.size()});
    return true;
  };
  for (const auto& path : paths) {
    const QFileInfo info(path);
    if (info.isDir()) {
      const auto entries = QDir(path).entryInfoList(
          {QStringLiteral("*.csv"), QStringLiteral("*.CSV"), QStringLiteral("*.xml"), QStringLiteral("*.XML")},
          QDir::Files, QDir::Name);
      for (const auto& entry : entries)
        if (!add(entry)) return Files::failure(error);
    } else if (info.isFile() && info.isReadable()) {
      if (!add(info)) return Files::failure(error);
    } else {
      return Files::failure(
          QStringLiteral("%1: arquivo ou pasta não encontrado ou sem permissão de leitura").arg(path));
    }
  }
  if (files.empty()) return Files::failure(QStringLiteral("nenhum arquivo .csv ou .xml (NFC-e) para importar"));
  std::stable_sort(files.begin(), files.end(), [](const ImportFile& a, const ImportFile& b) {
    const size_t ra = rankOf(a.kind), rb = rankOf(b.kind);
    return ra != rb ? ra < rb : QFileInfo(a.path).fileName() < QFileInfo(b.path).fileName();
  });
  return files;
}

Result<Connection> login(const std::string& address, bool tls, const QString& caFile, const std::string& operatorCode,
                         const std::string& password) {
  auto channel = channelFor(address, tls, caFile);
  if (!channel.ok()) return Result<Connection>::failure(channel.error());
  Connection c{*channel, {}};
  auto stub = rpc::ApplicationServer::NewStub(c.channel);
  grpc::ClientContext context;
  context.set_deadline(std::chrono::system_clock::now() + std::chrono::seconds(60));
  rpc::LoginRequest request;
  request.set_operator_code(operatorCode);
  request.set_password(password);
  rpc::LoginReply reply;
  const grpc::Status status = stub->Login(&context, request, &reply);
  if (!status.ok()) return Result<Connection>::failure(statusText(status));
  c.token = reply.token();
  return c;
}

Outcome importFiles(const Connection& connection, const std::vector<ImportFile>& files, bool dryRun,
                    const std::function<void(const Progress&)>& progress, Cancellation* cancel) {
  Outcome outcome;
  auto stub = rpc::ApplicationServer::NewStub(connection.channel);
  grpc::ClientContext context;
  context.AddMetadata(std::string(qfx::contract::kSessionMetadata), connection.token);
  // a large import takes minutes; a dead server still ends it
  context.set_deadline(std::chrono::system_clock::now() + std::chrono::hours(4));
  const CallGuard guard(cancel, &context);
  auto writer = stub->ImportaDados(&context, &outcome.reply);
  Progress p;
  for (const auto& f : files) p.bytesTotal += f.bytes;
  bool first = true, sent = true;
  auto send = [&](rpc::ImportaDadosLote& piece) {
    if (first) piece.set_dry_run(dryRun);
    first = false;
    // a hint to coalesce: many small files (NFC-e) would otherwise each be a write of their own
    sent = sent && writer->Write(piece, grpc::WriteOptions().set_buffer_hint());
    return sent;
  };
  for (const auto& f : files) {
    QFile file(f.path);
    // read straight into the piece: QFile's own buffer would take a small file first and copy it
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
      context.TryCancel();
      writer->Finish().ok();
      outcome.error = QStringLiteral("%1: %2; nada foi gravado").arg(f.path, file.errorString());
      return outcome;
    }
    p.file = f.path;
    rpc::ImportaDadosLote piece;
    piece.set_file_name(QFileInfo(f.path).fileName().toStdString());
    piece.set_kind(f.kind.toStdString());
    do {
      if (cancel && cancel->requested()) {
        context.TryCancel();
        writer->Finish().ok();
        outcome.error = QStringLiteral("importação cancelada; nada foi gravado");
        return outcome;
      }
      piece.set_data(pieceOf(file, &p.lines));
      p.bytesSent += qint64(piece.data().size());
      if (!send(piece)) break;
      piece.Clear();
      if (progress) progress(p);
    } while (!file.atEnd());
    if (!sent) break;
  }
  if (sent) {
    rpc::ImportaDadosLote last;
    last.set_complete(true);
    send(last);
  }
  writer->WritesDone();
  const grpc::Status status = writer->Finish();
  if (!status.ok()) {
    outcome.error = statusText(status);
    outcome.serverLost = status.error_code() == grpc::StatusCode::UNAVAILABLE && !(cancel && cancel->requested());
    return outcome;
  }
  outcome.ok = true;
  return outcome;
}

}  // namespace qfximport
