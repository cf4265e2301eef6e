// The administrator's one-shot commands of qfxserver: backup and restore of
// the embedded database, operators and their sessions. Each prints what it
// did, or why it refused, and leaves the database as it was when it refuses.
#pragma once

#include <QCommandLineParser>
#include <optional>
#include <string>

#include "db/database.h"

namespace qfx::server::admin {

struct Options {
  std::string backupTo, restoreFrom;
  bool replace = false;
  std::string operatorToSet;
  std::optional<std::string> name, branch;
  std::optional<bool> mayImport;
  bool newPassword = false;
  std::string activate, deactivate, endSessionsOf;
  bool listOperators = false, listSessions = false;
  std::string branchReader, readerBranch;

  // A command that works on the file itself, before the server opens it.
  bool onTheFile() const { return !backupTo.empty() || !restoreFrom.empty(); }
  bool onOperators() const {
    return !operatorToSet.empty() || !activate.empty() || !deactivate.empty() || !endSessionsOf.empty() ||
           listOperators || listSessions || !branchReader.empty();
  }
};

void addOptions(QCommandLineParser& parser);
// False, with the reason, for options that do not go together.
bool read(const QCommandLineParser& parser, Options* options, std::string* error);

// Backup or restore; the exit code.
int runOnTheFile(const DbConfig& config, const Options& options);
// An operator, session or read-role command on the migrated database; the exit code.
int runOnOperators(Database& database, const Options& options);

}  // namespace qfx::server::admin
