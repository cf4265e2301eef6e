#include "tlsprobe.h"

#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>

namespace hostkit {

namespace {

std::optional<TlsTrouble> untrusted(const QString& caFile) {
  return TlsTrouble{QStringLiteral("O certificado do servidor de aplicação não é reconhecido por esta estação."),
                    caFile.isEmpty()
                        ? QStringLiteral("Nenhuma autoridade foi indicada: informe com --ca o certificado da "
                                         "autoridade que emitiu o do servidor.")
                        : QStringLiteral("O certificado do servidor não foi emitido pela autoridade de %1: informe "
                                         "com --ca a autoridade certa.")
                              .arg(caFile)};
}

std::optional<TlsTrouble> wrongName(const QString& host) {
  return TlsTrouble{QStringLiteral("O nome %1 não consta do certificado do servidor de aplicação.").arg(host),
                    QStringLiteral("Use o nome (ou IP) que o certificado traz, ou emita um certificado com este "
                                   "nome.")};
}

}  // namespace

std::optional<TlsTrouble> probeTls(const QString& host, int port, bool tls, const QString& caFile,
                                   std::chrono::milliseconds timeout) {
  QSslSocket socket;
  QSslConfiguration config = QSslConfiguration::defaultConfiguration();
  if (!caFile.isEmpty()) config.setCaCertificates(QSslCertificate::fromPath(caFile));
  socket.setSslConfiguration(config);
  socket.connectToHostEncrypted(host, quint16(port));
  if (!socket.waitForConnected(int(timeout.count()))) return std::nullopt;  // nobody listens: not a TLS matter
  const bool encrypted = socket.waitForEncrypted(int(timeout.count()));
  const QList<QSslError> errors = socket.sslHandshakeErrors();
  // a server that never answered (frozen) tells nothing; one that closed or
  // answered something else than TLS has none
  const bool answeredPlain = !encrypted && errors.isEmpty() && socket.error() != QAbstractSocket::SocketTimeoutError;
  socket.abort();
  if (!tls) {
    // a server that finishes a handshake, trusted or not, speaks TLS
    if (encrypted || !errors.isEmpty())
      return TlsTrouble{QStringLiteral("O servidor de aplicação usa TLS e esta estação não."),
                        QStringLiteral("Ligue --tls e informe com --ca a autoridade do certificado do servidor.")};
    return std::nullopt;
  }
  for (const QSslError& error : errors)
    if (error.error() == QSslError::HostNameMismatch) return wrongName(host);
  if (!errors.isEmpty()) return untrusted(caFile);
  if (answeredPlain)
    return TlsTrouble{QStringLiteral("O servidor de aplicação não usa TLS."),
                      QStringLiteral("Tire --tls desta estação ou ligue TLS no servidor (--tls-cert e --tls-key).")};
  return std::nullopt;
}

}  // namespace hostkit
