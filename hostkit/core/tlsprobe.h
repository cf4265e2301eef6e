// What is wrong with the secure channel to a server that gRPC could not
// reach. gRPC says only that it failed to connect; a TLS handshake of our
// own (Qt's, on the same address) tells an untrusted certificate, a host
// name the certificate does not carry, a server without TLS, or a TLS server
// reached in plain text. Run only after a failure: it costs one connection.
#pragma once

#include <QString>
#include <chrono>
#include <optional>

namespace hostkit {

struct TlsTrouble {
  QString message;  // what went wrong, for the operator
  QString remedy;   // what to do about it
};

// `tls` and `caFile`: how this station connects; nullopt when the handshake
// shows nothing wrong with TLS (the server is down, say).
std::optional<TlsTrouble> probeTls(const QString& host, int port, bool tls, const QString& caFile,
                                   std::chrono::milliseconds timeout = std::chrono::milliseconds(3000));

}  // namespace hostkit
