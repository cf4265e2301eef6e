// How the server and the demo generator learn which database to open: the
// same options, environment variables and password file for both, so that
// one settings file drives them alike. The password never has to ride on the
// command line: a URL there that carries one is refused.
#pragma once

#include <QCommandLineParser>
#include <QString>

#include "common/result.h"
#include "db/database.h"

namespace qfx::server {

// --db and --db-password-file, with their help texts.
void addDatabaseOptions(QCommandLineParser& parser);

// --db, else $QFX_DB_URL, else $QFX_DB (the name older settings files use),
// else the SQLite file qfx.db; with the password of --db-password-file (a
// file only its owner may read), else the URL's own from the environment,
// else what libpq finds (PGPASSWORD, ~/.pgpass).
Result<DbConfig> databaseFromOptions(const QCommandLineParser& parser);

// The first line of a file only its owner may read: a secret kept off the
// command line.
Result<QByteArray> readOwnerOnlyFile(const QString& path);

}  // namespace qfx::server
