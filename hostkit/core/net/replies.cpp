// The request, the reply stream and the outcome of one call.
#include "net/replies.h"

#include "routines.h"
#include <proto/contract.h>

namespace hostkit::net {

// A lost, refused or silent server is one message for the operator; what
// gRPC said goes to the details.
Failure describeFailure(const grpc::Status& status, const QString& method, const QString& server, int timeoutMs) {
  const QString detail = QString::fromStdString(status.error_message());
  const QString where = QStringLiteral("Servidor: %1\nChamada: %2\n").arg(server, method);
  switch (status.error_code()) {
    case grpc::StatusCode::UNAVAILABLE:
    case grpc::StatusCode::CANCELLED:
      return {serverSilentText(),
              where + QStringLiteral("Conexão perdida ou recusada (código gRPC %1): %2")
                          .arg(int(status.error_code()))
                          .arg(detail),
              true};
    case grpc::StatusCode::DEADLINE_EXCEEDED:
      return {serverSilentText(),
              where + QStringLiteral("Sem resposta em %1 segundos.").arg(productLocale().toString(timeoutMs / 1000.0)),
              true};
    default:
      return {detail.isEmpty() ? QStringLiteral("Falha na chamada ao servidor de aplicação.") : detail,
              where + QStringLiteral("Código gRPC %1").arg(int(status.error_code()))};
  }
}

std::chrono::system_clock::time_point deadlineIn(int timeoutMs) {
  return std::chrono::system_clock::now() + std::chrono::milliseconds(timeoutMs);
}

// No server of the list answered its health check.
Failure noServerFailure(const QString& servers, const QString& method, const QStringList& answers) {
  return {serverSilentText(),
          QStringLiteral("Servidores: %1\nChamada: %2\nNenhum servidor atendeu:\n%3")
              .arg(servers, method, answers.join(u'\n')),
          true};
}

void fillArgument(const RemoteArg& a, rpc::Argument* out) {
  out->set_by_reference(a.byReference());
  switch (a.kind()) {
    case RemoteArg::Kind::Text:
      out->set_kind(rpc::Argument::TEXT);
      out->set_text(a.text().toStdString());
      break;
    case RemoteArg::Kind::Date:
      out->set_kind(rpc::Argument::DATE);
      out->set_date(a.date());
      break;
    case RemoteArg::Kind::Boolean:
      out->set_kind(rpc::Argument::BOOLEAN);
      out->set_boolean(a.boolean());
      break;
  }
}

rpc::InvokeRequest invokeRequest(const QString& object, const QString& method, const std::vector<RemoteArg>& args) {
  rpc::InvokeRequest request;
  request.set_object(object.toStdString());
  request.set_method(method.toStdString());
  for (const auto& a : args) fillArgument(a, request.add_arguments());
  return request;
}

// A call the server failed or refused, or that never reached it; `lost` says
// the server was not reached or did not answer.
CallOutcome failedCall(const grpc::Status& status, const QString& method, const QString& server, int timeoutMs,
                       bool& lost) {
  CallOutcome outcome;
  outcome.refused = status.error_code() == grpc::StatusCode::FAILED_PRECONDITION;
  if (outcome.refused) {
    outcome.error = QString::fromStdString(status.error_message());
    return outcome;
  }
  const Failure failure = describeFailure(status, method, server, timeoutMs);
  lost = failure.transport;
  outcome.error = failure.message;
  outcome.details = failure.details;
  // a call's session expired, was ended by an administrator, or its operator
  // deactivated (a refused login keeps the server's own words)
  if (status.error_code() == grpc::StatusCode::UNAUTHENTICATED) {
    outcome.error = sessionEndedText();
    outcome.details += QStringLiteral("\nMotivo informado pelo servidor: %1").arg(failure.message);
  }
  return outcome;
}

// A call the server answered: its value, with the by-reference values copied
// back into the program's variables.
CallOutcome answeredCall(const QString& method, const std::vector<RemoteArg>& args, ReplyStream& replies) {
  CallOutcome outcome;
  if (!replies.gotFirst) {
    outcome.error = QStringLiteral("O servidor de aplicação não enviou resposta para %1.").arg(method);
    return outcome;
  }
  replies.finish();
  if (replies.reader.error) {
    outcome.error = QStringLiteral("Resposta inválida do servidor para %1: %2").arg(method, *replies.reader.error);
    return outcome;
  }
  for (size_t i = 0; i < args.size() && int(i) < replies.arguments.size(); ++i) {
    const auto& back = replies.arguments.Get(int(i));
    args[i].copyBack(QString::fromStdString(back.text()), back.date());
  }
  outcome.value = std::move(replies.result);
  outcome.details = replies.details;
  return outcome;
}

// What the server said beside a refusal's key or an answer's message key.
QString detailsOf(const grpc::ClientContext& ctx) {
  const auto& trailing = ctx.GetServerTrailingMetadata();
  const auto it = trailing.find(std::string(qfx::contract::kDetailsMetadata));
  if (it == trailing.end()) return {};
  return QString::fromUtf8(it->second.data(), qsizetype(it->second.size()));
}

QString notConnectedText() { return QStringLiteral("Não há conexão com o servidor de aplicação."); }

}  // namespace hostkit::net
