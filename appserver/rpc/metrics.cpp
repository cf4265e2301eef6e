#include "rpc/metrics.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>

#include <cstring>
#include <sstream>

namespace qfx::server {

void Metrics::callFinished(const std::string& method, const std::string& outcome, std::chrono::nanoseconds took) {
  const double seconds = std::chrono::duration<double>(took).count();
  std::lock_guard lock(mutex_);
  ++calls_[{method, outcome}];
  Latency& latency = latency_[method];
  for (size_t i = 0; i < kBuckets.size(); ++i)
    if (seconds <= kBuckets[i]) ++latency.buckets[i];
  ++latency.count;
  latency.sum += seconds;
}

void Metrics::loginFinished(const std::string& outcome) {
  std::lock_guard lock(mutex_);
  ++logins_[outcome];
}

void Metrics::posted(int64_t postings, int64_t items) {
  postings_ += postings;
  items_ += items;
}

void Metrics::waitedForDatabase(std::chrono::nanoseconds waited) {
  waitNanoseconds_ += waited.count();
  ++waits_;
}

std::string Metrics::text() const {
  std::ostringstream out;
  out.precision(9);
  std::lock_guard lock(mutex_);
  out << "# HELP qfx_calls_total Remote method calls answered, by method and outcome.\n"
         "# TYPE qfx_calls_total counter\n";
  for (const auto& [key, count] : calls_)
    out << "qfx_calls_total{method=\"" << key.first << "\",outcome=\"" << key.second << "\"} " << count << '\n';
  out << "# HELP qfx_call_duration_seconds Time from a call's arrival to its last reply message.\n"
         "# TYPE qfx_call_duration_seconds histogram\n";
  for (const auto& [method, latency] : latency_) {
    for (size_t i = 0; i < kBuckets.size(); ++i)
      out << "qfx_call_duration_seconds_bucket{method=\"" << method << "\",le=\"" << kBuckets[i] << "\"} "
          << latency.buckets[i] << '\n';
    out << "qfx_call_duration_seconds_bucket{method=\"" << method << "\",le=\"+Inf\"} " << latency.count << '\n'
        << "qfx_call_duration_seconds_sum{method=\"" << method << "\"} " << latency.sum << '\n'
        << "qfx_call_duration_seconds_count{method=\"" << method << "\"} " << latency.count << '\n';
  }
  out << "# HELP qfx_logins_total Logins answered, by outcome (ok, failed, throttled, busy, error).\n"
         "# TYPE qfx_logins_total counter\n";
  for (const auto& [outcome, count] : logins_)
    out << "qfx_logins_total{outcome=\"" << outcome << "\"} " << count << '\n';
  out << "# HELP qfx_postings_total Stock postings made by consolidation runs.\n"
         "# TYPE qfx_postings_total counter\n"
      << "qfx_postings_total " << postings_.load() << '\n'
      << "# HELP qfx_items_posted_total Sale items posted to stock by consolidation runs.\n"
         "# TYPE qfx_items_posted_total counter\n"
      << "qfx_items_posted_total " << items_.load() << '\n'
      << "# HELP qfx_database_wait_seconds_total Time calls waited for a database worker.\n"
         "# TYPE qfx_database_wait_seconds_total counter\n"
      << "qfx_database_wait_seconds_total " << double(waitNanoseconds_.load()) / 1e9 << '\n'
      << "# HELP qfx_database_waits_total Calls that were handed to a database worker.\n"
         "# TYPE qfx_database_waits_total counter\n"
      << "qfx_database_waits_total " << waits_.load() << '\n';
  return out.str();
}

namespace {

MHD_Result reply(MHD_Connection* connection, unsigned status, const std::string& body, const char* type) {
  MHD_Response* response =
      MHD_create_response_from_buffer(body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
  if (!response) return MHD_NO;
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, type);
  const MHD_Result queued = MHD_queue_response(connection, status, response);
  MHD_destroy_response(response);
  return queued;
}

MHD_Result answer(void* cls, MHD_Connection* connection, const char* url, const char* method, const char*, const char*,
                  size_t* uploadSize, void**) {
  const auto& metrics = *static_cast<const Metrics*>(cls);
  // a body is never wanted: stop reading it
  if (*uploadSize != 0) return MHD_NO;
  if (std::strcmp(method, MHD_HTTP_METHOD_GET) != 0 && std::strcmp(method, MHD_HTTP_METHOD_HEAD) != 0)
    return reply(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "only GET\n", "text/plain");
  if (std::strcmp(url, "/metrics") != 0) return reply(connection, MHD_HTTP_NOT_FOUND, "try /metrics\n", "text/plain");
  return reply(connection, MHD_HTTP_OK, metrics.text(), "text/plain; version=0.0.4; charset=utf-8");
}

// "HOST:PORT" or "PORT" (loopback) as an IPv4 or IPv6 socket address.
Result<sockaddr_storage> addressOf(const std::string& listen) {
  const size_t colon = listen.rfind(':');
  std::string host = colon == std::string::npos ? "127.0.0.1" : listen.substr(0, colon);
  const std::string portText = colon == std::string::npos ? listen : listen.substr(colon + 1);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  char* end = nullptr;
  const long port = std::strtol(portText.c_str(), &end, 10);
  if (portText.empty() || *end != '\0' || port < 0 || port > 65535)
    return invalidArgument("--metrics: porta inválida em '" + listen + "' (use HOST:PORTA ou PORTA)");
  sockaddr_storage address{};
  auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
  if (inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(uint16_t(port));
  } else if (inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(uint16_t(port));
  } else {
    return invalidArgument("--metrics: endereço inválido '" + host + "' (um IP, como 127.0.0.1 ou ::1)");
  }
  return address;
}

}  // namespace

Result<std::unique_ptr<MetricsEndpoint>> MetricsEndpoint::start(const std::string& listen, const Metrics& metrics) {
  auto address = addressOf(listen);
  if (!address) return address.error();
  std::unique_ptr<MetricsEndpoint> endpoint(new MetricsEndpoint(metrics));
  const unsigned flags =
      MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_ERROR_LOG | (address->ss_family == AF_INET6 ? MHD_USE_IPv6 : 0);
  endpoint->daemon_ =
      MHD_start_daemon(flags, 0, nullptr, nullptr, &answer, const_cast<Metrics*>(&metrics), MHD_OPTION_SOCK_ADDR,
                       reinterpret_cast<sockaddr*>(&*address), MHD_OPTION_CONNECTION_LIMIT, 16u,
                       MHD_OPTION_CONNECTION_TIMEOUT, 10u, MHD_OPTION_END);
  if (!endpoint->daemon_) return Error{ErrorKind::Unavailable, "não foi possível escutar as métricas em " + listen};
  const MHD_DaemonInfo* info = MHD_get_daemon_info(endpoint->daemon_, MHD_DAEMON_INFO_BIND_PORT);
  endpoint->port_ = info ? info->port : 0;
  return endpoint;
}

MetricsEndpoint::~MetricsEndpoint() {
  if (daemon_) MHD_stop_daemon(daemon_);
}

}  // namespace qfx::server
