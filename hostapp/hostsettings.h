// Where the host finds the application server, the shared database, the
// reports and the module: stored with QSettings, overridable on the command
// line. A first start without settings uses the embedded default (server on
// loopback, the demo SQLite database beside the binaries).
#pragma once

#include <QString>
#include <QStringList>

#include <hostkit/core/hostservices.h>
#include <hostkit/core/result.h>

namespace qfxhost {

struct HostSettings {
  hostkit::ServerAddress server;
  QString databaseUrl;       // "sqlite:/path" or "postgresql://user@host:port/db" (read-only role), never a password
  QString databasePassword;  // from --db-password-file, never stored; empty: ~/.pgpass or PGPASSWORD
  QString settingsNotice;    // what was done to the stored settings on loading (a password taken out)
  QString reportsFolder;     // one folder per report code
  QString helpCollection;    // the manual (.qhc); empty: beside the binaries, then installed
  QString modulePath;        // the module library
  QString operatorCode;      // command line only: log in without asking
  QString password;          // from --password-file or QFX_PASSWORD, never stored
  QString passwordRefusal;   // why --password-file was not taken: the login dialog says it
  QString branch;            // working branch to choose at login
  QString screenshotDir;     // headless tour: save screenshots here and exit
};

// The defaults, then the stored settings, then the command line. An error
// value for a command line that cannot be understood (or the --help text). A
// password file that cannot be taken is no such error: the operator is asked
// for the password, and told why.
hostkit::Result<HostSettings> loadSettings(const QStringList& arguments);
// Stores what the operator may keep (no password), in a file only its owner may read.
void saveSettings(const HostSettings& settings);

}  // namespace qfxhost
