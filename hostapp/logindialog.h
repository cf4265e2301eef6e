// The operator logs in on the application server and picks the working
// branch among those allowed; a wrong password or an unreachable server says
// so and lets the operator try again.
#pragma once

#include <QDialog>
#include <optional>

#include "hostsettings.h"
#include <hostkit/core/netconnection.h>

class QComboBox;
class QLabel;
class QLineEdit;

namespace qfxhost {

struct LoginOutcome {
  hostkit::LoginResult login;
  QString branch;
};

// Logs in without a dialog (operator and password given); an error value on failure.
hostkit::Result<LoginOutcome> loginDirect(const HostSettings& settings, const QString& operatorCode,
                                          const QString& password);
// Ends the session of `token` on the servers of the settings, as the host
// quits, so it cannot be used after the operator left; false when no server
// took it (it then lasts until it expires).
bool endSession(const HostSettings& settings, const QString& token);

class LoginDialog : public QDialog {
  Q_OBJECT
 public:
  LoginDialog(HostSettings& settings, QWidget* parent = nullptr);
  const std::optional<LoginOutcome>& outcome() const { return outcome_; }

  QLineEdit* edtOperador;
  QLineEdit* edtSenha;
  QLineEdit* edtServidor;
  QComboBox* cbbFilial;
  QLabel* lblMensagem;

 private:
  void tryLogin();
  void showMessage(const QString& text);
  void backToCredentials();
  void chooseBranch(const hostkit::LoginResult& login);
  HostSettings& settings_;
  std::optional<hostkit::LoginResult> pending_;
  std::optional<LoginOutcome> outcome_;
};

}  // namespace qfxhost
