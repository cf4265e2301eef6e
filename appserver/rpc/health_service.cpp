#include "rpc/health_service.h"

namespace qfx::server {

grpc::Status HealthService::Check(grpc::ServerContext*, const grpc::health::v1::HealthCheckRequest* request,
                                  grpc::health::v1::HealthCheckResponse* reply) {
  using Response = grpc::health::v1::HealthCheckResponse;
  if (!request->service().empty()) return grpc::Status(grpc::StatusCode::NOT_FOUND, "serviço desconhecido");
  reply->set_status(serving_ ? Response::SERVING : Response::NOT_SERVING);
  return grpc::Status::OK;
}

}  // namespace qfx::server
