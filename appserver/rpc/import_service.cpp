// The import's gRPC method. The stream is read on one database worker, which
// keeps its connection and the import's transaction from the first piece to
// the last; nothing is committed unless the client says every file was sent,
// so a client that goes away, or a cancelled import, writes nothing.
#include <chrono>

#include "common/log.h"
#include "db/sql.h"
#include "domain/importer.h"
#include "rpc/service.h"

namespace qfx::server {

namespace {

void fillReply(const ImportSummary& summary, rpc::ImportaDadosResposta* reply) {
  reply->set_written(summary.written);
  reply->set_problem_count(summary.problemCount);
  reply->set_lines(summary.lines);
  for (const auto& c : summary.counts) {
    auto* count = reply->add_counts();
    count->set_kind(c.kind);
    count->set_inserted(c.inserted);
    count->set_updated(c.updated);
    count->set_unchanged(c.unchanged);
    count->set_refused(c.refused);
    count->set_items(c.items);
  }
  for (const auto& p : summary.problems) {
    auto* problem = reply->add_problems();
    problem->set_file_name(p.file);
    problem->set_line(p.line);
    problem->set_column(p.column);
    problem->set_reason(p.reason);
  }
}

// The stream into the importer; the summary once the client said it was done.
Result<ImportSummary> importStream(Importer& importer, grpc::ServerContext* context,
                                   grpc::ServerReader<rpc::ImportaDadosLote>* reader, rpc::ImportaDadosLote& first) {
  rpc::ImportaDadosLote piece = std::move(first);
  for (;;) {
    if (!piece.file_name().empty())
      if (auto begun = importer.beginFile(piece.file_name(), piece.kind()); !begun) return begun.error();
    if (!piece.data().empty())
      if (auto fed = importer.feed(piece.data()); !fed) return fed.error();
    if (piece.complete()) return importer.finish();
    if (!reader->Read(&piece) || context->IsCancelled())
      return Error{ErrorKind::Unavailable, "a importação foi interrompida antes do fim dos arquivos: nada foi gravado"};
  }
}

// A large import on PostgreSQL leaves the planner without statistics for the
// rows it wrote until autovacuum comes round, and a consolidation run in the
// meantime would plan the sales joins as if the tables were empty. ANALYZE
// only samples, so its cost stays small beside the import's; a role that does
// not own the tables gets a warning from PostgreSQL, not an error.
constexpr uint64_t kLinesWorthAnalyzing = 10000;

void refreshStatistics(QSqlDatabase& db, Dialect dialect, const ImportSummary& summary) {
  if (dialect != Dialect::PostgreSQL || !summary.written || summary.lines < kLinesWorthAnalyzing) return;
  if (auto analyzed = sql::command(db, QStringLiteral("ANALYZE VENDA, ITVENDA, REDUCAOZ")); !analyzed)
    log::write(log::Level::Warn, "import", {{"analyze", "error"}, {"message", analyzed.error().message}});
}

}  // namespace

grpc::Status ApplicationService::ImportaDados(grpc::ServerContext* context,
                                              grpc::ServerReader<rpc::ImportaDadosLote>* reader,
                                              rpc::ImportaDadosResposta* reply) {
  const auto start = std::chrono::steady_clock::now();
  std::string operatorCode = "-";
  // set by the worker on every path; an error until then
  Result<ImportSummary> outcome = Error{ErrorKind::Internal, "importação não executada"};
  StatementCanceller canceller;
  const CallLimits limits(context->deadline(), [context] { return context->IsCancelled(); });
  workers_.run(
      [&] {
        const CallLimits::Scope scope(limits);
        rpc::ImportaDadosLote first;
        if (!reader->Read(&first)) {
          outcome = Result<ImportSummary>(invalidArgument("importação sem nenhum arquivo"));
          return;
        }
        auto session = sessions_.validate(sessionTokenOf(*context));
        if (!session) {
          outcome = Result<ImportSummary>(session.error());
          return;
        }
        operatorCode = session->operatorCode;
        auto db = database_.connection();
        if (!db) {
          outcome = Result<ImportSummary>(db.error());
          return;
        }
        canceller.arm(*db);
        {
          // the transaction ends (rolled back unless committed) before the connection is let go
          auto importer =
              Importer::start(*db, database_.dialect(), session->operatorCode, session->boundBranch, first.dry_run());
          outcome =
              importer ? importStream(**importer, context, reader, first) : Result<ImportSummary>(importer.error());
        }
        if (outcome) refreshStatistics(*db, database_.dialect(), *outcome);
        canceller.disarm();
        if (!outcome && (outcome.error().kind == ErrorKind::Internal || outcome.error().kind == ErrorKind::Unavailable))
          database_.discardConnection();
      },
      [&] {
        if (context->IsCancelled()) canceller.cancel();
      });
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  if (!outcome) {
    log::write(log::Level::Warn, "import",
               {{"operator", operatorCode},
                {"ms", std::to_string(int64_t(ms))},
                {"outcome", "error"},
                {"message", outcome.error().message}});
    return toStatus(outcome.error());
  }
  const auto& summary = *outcome;
  fillReply(summary, reply);
  log::write(log::Level::Info, "import",
             {{"operator", operatorCode},
              {"ms", std::to_string(int64_t(ms))},
              {"outcome", summary.written ? "written" : "not_written"},
              {"lines", std::to_string(summary.lines)},
              {"problems", std::to_string(summary.problemCount)}});
  return grpc::Status::OK;
}

}  // namespace qfx::server
