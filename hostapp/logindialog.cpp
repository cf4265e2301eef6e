#include "logindialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlQuery>

#include <hostkit/core/query.h>

namespace qfxhost {

namespace {
hostkit::TNetConnection* connectionFor(const HostSettings& s, QObject* parent) {
  auto* net = new hostkit::TNetConnection(parent);
  net->Host = s.server.host;
  net->Port = s.server.port;
  net->Alternates = s.server.alternates;
  net->UseTLS = s.server.tls;
  net->CaFile = s.server.caFile;
  net->CallTimeoutMs = 15000;
  return net;
}

// The branch to work on: the bound one, else the one asked for when allowed, else the first allowed.
// "0001 - Centro": the branch's name from the host's database, when it has one.
QString branchCaption(const QString& code) {
  QSqlQuery q(hostkit::hostDatabase());
  q.prepare(QStringLiteral("SELECT NMFILIAL FROM FILIAL WHERE CDFILIAL = ?"));
  q.addBindValue(code);
  if (!q.exec() || !q.next() || q.value(0).toString().trimmed().isEmpty()) return code;
  return QStringLiteral("%1 - %2").arg(code, q.value(0).toString().trimmed());
}

std::optional<QString> pickBranch(const hostkit::LoginResult& login, const QString& wanted) {
  if (!login.boundBranch.isEmpty()) return login.boundBranch;
  if (!wanted.isEmpty()) {
    if (login.branches.contains(wanted)) return wanted;
    return std::nullopt;
  }
  if (login.branches.isEmpty()) return std::nullopt;
  return login.branches.first();
}
}  // namespace

hostkit::Result<LoginOutcome> loginDirect(const HostSettings& settings, const QString& operatorCode,
                                          const QString& password) {
  QObject owner;
  auto reply = connectionFor(settings, &owner)->Login(operatorCode, password);
  if (!reply.ok()) return hostkit::Result<LoginOutcome>::failure(reply.error());
  const auto& login = *reply;
  const auto branch = pickBranch(login, settings.branch);
  if (!branch)
    return hostkit::Result<LoginOutcome>::failure(
        QStringLiteral("O operador %1 não pode trabalhar na filial %2.").arg(operatorCode, settings.branch));
  return LoginOutcome{login, *branch};
}

bool endSession(const HostSettings& settings, const QString& token) {
  QObject owner;
  auto* net = connectionFor(settings, &owner);
  net->SessionToken = token;
  constexpr int kQuitWaitMs = 3000;  // quitting is not held up long by a lost server
  return net->Logout(kQuitWaitMs);
}

LoginDialog::LoginDialog(HostSettings& settings, QWidget* parent) : QDialog(parent), settings_(settings) {
  setObjectName(QStringLiteral("frmLogin"));
  setWindowTitle(QStringLiteral("Entrada no sistema"));
  setMinimumWidth(400);  // the title and a two-line message whole
  auto* form = new QFormLayout(this);
  edtOperador = new QLineEdit(settings.operatorCode, this);
  edtOperador->setObjectName(QStringLiteral("edtOperador"));
  edtSenha = new QLineEdit(this);
  edtSenha->setObjectName(QStringLiteral("edtSenha"));
  edtSenha->setEchoMode(QLineEdit::Password);
  edtServidor = new QLineEdit(hostkit::serverListText(settings.server.servers()), this);
  edtServidor->setObjectName(QStringLiteral("edtServidor"));
  edtServidor->setToolTip(
      QStringLiteral("host:porta; vários servidores do mesmo banco separados por vírgula, em ordem de preferência"));
  cbbFilial = new QComboBox(this);
  cbbFilial->setObjectName(QStringLiteral("cbbFilial"));
  cbbFilial->setEnabled(false);
  lblMensagem = new QLabel(this);
  lblMensagem->setObjectName(QStringLiteral("lblMensagem"));
  lblMensagem->setWordWrap(true);
  lblMensagem->setStyleSheet(QStringLiteral("color: #a00000"));
  form->addRow(QStringLiteral("Operador"), edtOperador);
  form->addRow(QStringLiteral("Senha"), edtSenha);
  form->addRow(QStringLiteral("Servidor"), edtServidor);
  form->addRow(QStringLiteral("Filial"), cbbFilial);
  form->addRow(lblMensagem);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Entrar"));
  buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Cancelar"));
  form->addRow(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &LoginDialog::tryLogin);
  // the session belongs to the credentials last checked: any change goes back to them
  for (QLineEdit* credential : {edtOperador, edtSenha, edtServidor})
    connect(credential, &QLineEdit::textChanged, this, &LoginDialog::backToCredentials);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  if (!settings.passwordRefusal.isEmpty()) {  // the unattended start asked for could not be made
    showMessage(settings.passwordRefusal);
    (edtOperador->text().isEmpty() ? edtOperador : edtSenha)->setFocus();
  }
}

// Shows the message whole: the dialog grows to the lines it takes.
void LoginDialog::showMessage(const QString& text) {
  lblMensagem->setText(text);
  adjustSize();
}

void LoginDialog::tryLogin() {
  if (pending_ && cbbFilial->isEnabled()) {  // second step: the branch was chosen
    outcome_ = LoginOutcome{*pending_, cbbFilial->currentData().toString()};
    settings_.branch = outcome_->branch;
    accept();
    return;
  }
  const auto servers = hostkit::parseServerList(edtServidor->text());
  if (!servers.ok()) {
    showMessage(servers.error());
    edtServidor->setFocus();
    return;
  }
  settings_.server.setServers(*servers);
  QObject owner;
  auto reply = connectionFor(settings_, &owner)->Login(edtOperador->text().trimmed(), edtSenha->text());
  if (!reply.ok()) {
    showMessage(reply.error());
    edtSenha->selectAll();
    edtSenha->setFocus();
    return;
  }
  chooseBranch(*reply);
}

void LoginDialog::backToCredentials() {
  if (!pending_) return;
  pending_.reset();
  cbbFilial->clear();
  cbbFilial->setEnabled(false);
  lblMensagem->clear();
  lblMensagem->setStyleSheet(QStringLiteral("color: #a00000"));
}

void LoginDialog::chooseBranch(const hostkit::LoginResult& login) {
  pending_ = login;
  cbbFilial->clear();
  const QStringList codes = login.boundBranch.isEmpty() ? login.branches : QStringList{login.boundBranch};
  for (const QString& code : codes) cbbFilial->addItem(branchCaption(code), code);
  const int wanted = cbbFilial->findData(settings_.branch);
  if (wanted >= 0) cbbFilial->setCurrentIndex(wanted);
  if (cbbFilial->count() == 0) {
    showMessage(QStringLiteral("O operador não tem filial liberada."));
    pending_.reset();
    return;
  }
  if (cbbFilial->count() == 1) {
    outcome_ = LoginOutcome{login, cbbFilial->currentData().toString()};
    accept();
    return;
  }
  cbbFilial->setEnabled(login.boundBranch.isEmpty());
  showMessage(QStringLiteral("Escolha a filial de trabalho e confirme."));
  lblMensagem->setStyleSheet(QString());
}

}  // namespace qfxhost
