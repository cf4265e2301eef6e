// The servers: channels, health checks and the list the operator types.
#include "net/servers.h"

#include <QFile>

#include <proto/health.grpc.pb.h>
#include <proto/rpc_runtime.h>

namespace hostkit {

namespace net {
QString textOf(const ServerEndpoint& server) {
  const QString host = server.host.contains(u':') ? QStringLiteral("[%1]").arg(server.host) : server.host;
  return QStringLiteral("%1:%2").arg(host).arg(server.port);
}

std::shared_ptr<grpc::ChannelCredentials> credentialsFor(bool tls, const QString& caFile) {
  if (!tls) return grpc::InsecureChannelCredentials();
  grpc::SslCredentialsOptions options;
  QFile ca(caFile);
  if (!caFile.isEmpty() && ca.open(QIODevice::ReadOnly)) options.pem_root_certs = ca.readAll().toStdString();
  return grpc::SslCredentials(options);
}

std::shared_ptr<grpc::Channel> channelTo(const ServerEndpoint& server,
                                         const std::shared_ptr<grpc::ChannelCredentials>& credentials) {
  qfx::rpc::prepareRuntime();
  grpc::ChannelArguments args;
  args.SetMaxReceiveMessageSize(64 << 20);
  args.SetServiceConfigJSON(R"({"loadBalancingConfig": [{"pick_first": {}}]})");
  // gRPC takes the least reconnection backoff as the least time a connection
  // attempt is given
  args.SetInt(GRPC_ARG_MIN_RECONNECT_BACKOFF_MS, int(kConnectTimeout.count()));
  // a server back from a restart is tried again within seconds, not minutes
  args.SetInt(GRPC_ARG_INITIAL_RECONNECT_BACKOFF_MS, 250);
  args.SetInt(GRPC_ARG_MAX_RECONNECT_BACKOFF_MS, 5000);
  // its own connections: a channel made afresh (see Link::usable) starts
  // without the failures and the backoff of the one it replaces
  args.SetInt(GRPC_ARG_USE_LOCAL_SUBCHANNEL_POOL, 1);
  return grpc::CreateCustomChannel(textOf(server).toStdString(), credentials, args);
}

Status checkHealth(const std::shared_ptr<grpc::Channel>& channel, std::chrono::system_clock::time_point deadline) {
  auto stub = grpc::health::v1::Health::NewStub(channel);
  grpc::ClientContext ctx;
  ctx.set_deadline(deadline);
  grpc::health::v1::HealthCheckRequest request;
  grpc::health::v1::HealthCheckResponse reply;
  const grpc::Status status = stub->Check(&ctx, request, &reply);
  if (!status.ok())
    return Status::failure(QStringLiteral("código gRPC %1: %2")
                               .arg(int(status.error_code()))
                               .arg(QString::fromStdString(status.error_message())));
  if (reply.status() != grpc::health::v1::HealthCheckResponse::SERVING)
    return Status::failure(QStringLiteral("fora de serviço"));
  return success();
}

}  // namespace net

Status CallOnServers(const QList<ServerEndpoint>& servers, bool tls, const QString& caFile,
                     const std::function<bool(const std::shared_ptr<grpc::Channel>&, const QString& server)>& call) {
  const auto credentials = net::credentialsFor(tls, caFile);
  QStringList failures;
  for (const auto& server : servers) {
    auto channel = net::channelTo(server, credentials);
    const QString where = net::textOf(server);
    const Status health = net::checkHealth(channel, std::chrono::system_clock::now() + net::kConnectTimeout);
    if (!health.ok()) {
      failures << QStringLiteral("%1: %2").arg(where, health.error());
      continue;
    }
    if (call(channel, where)) return success();
    failures << QStringLiteral("%1: perdido durante a chamada").arg(where);
  }
  // an empty list took nothing: no success to report
  if (servers.isEmpty()) return Status::failure(QStringLiteral("nenhum servidor na lista"));
  return Status::failure(failures.join(QStringLiteral("; ")));
}

Result<QList<ServerEndpoint>> parseServerList(const QString& text) {
  QList<ServerEndpoint> servers;
  for (const QString& part : text.split(u',')) {
    const QString entry = part.trimmed();
    const auto colon = entry.lastIndexOf(u':');
    QString host = colon > 0 ? entry.left(colon) : QString();
    if (host.startsWith(u'[') && host.endsWith(u']')) host = host.mid(1, host.size() - 2);
    bool ok = !host.isEmpty() && !host.contains(u'[') && !host.contains(u']') &&
              (!host.contains(u':') || entry.startsWith(u'['));
    const int port = ok ? entry.mid(colon + 1).toInt(&ok) : 0;
    if (!ok || port <= 0 || port > 65535)
      return Result<QList<ServerEndpoint>>::failure(
          entry.isEmpty() ? QStringLiteral("Servidor vazio na lista \"%1\" (use host:porta,host:porta).").arg(text)
                          : QStringLiteral("Servidor inválido: %1 (use host:porta).").arg(entry));
    servers << ServerEndpoint{host, port};
  }
  return servers;
}

QString serverListText(const QList<ServerEndpoint>& servers) {
  QStringList texts;
  for (const auto& server : servers) texts << net::textOf(server);
  return texts.join(QStringLiteral(", "));
}

}  // namespace hostkit
