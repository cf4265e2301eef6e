// The host services as the host application provides them: Qt dialogs,
// pickers, the busy overlay, and the login and setup values of the session.
#pragma once

#include <QMdiArea>
#include <QPointer>
#include <QString>
#include <functional>

#include <hostkit/core/hostservices.h>

namespace hostkit {

// What the host application knows after the operator logged in.
struct HostSession {
  QString filial;          // FiliProc: branch of the login
  bool moduFili = false;   // ModuFili: the operator is bound to that branch
  QString operador;        // Operador
  QString token;           // session token sent with every remote call
  ServerAddress server;    // WebURL / WebPort
  QString reportsFolder;   // report definitions, one folder per report code
  QString helpCollection;  // the manual (.qhc); empty: where the host looks by default
  QPointer<QMdiArea> mdiArea;
  // DBPict(0): picture of product-tree codes, levels 1.2.2.3 of a
  // nine-digit code stored without its dots.
  QString productTreePicture = QStringLiteral("9.99.99.999;0;_");
};

class BusyOverlay;

class QtHostServices : public HostServices {
 public:
  explicit QtHostServices(HostSession session = {});
  ~QtHostServices() override;

  HostSession& session() { return session_; }

  // Message box with Portuguese buttons; returns mrYes (6), mrNo (7),
  // mrOk (1) or mrCancel (2). Escape gives Cancel, else No, else OK.
  int messageDlg(const QString& text, MsgDlgType type, MsgDlgButtons buttons, int helpContext) override;
  void showError(const QString& text) override;
  // The message as it is, the informative text under it, the detailed text
  // behind the box's details button.
  int messageDlgDetailed(const QString& text, const QString& informative, const QString& detailed, MsgDlgType type,
                         MsgDlgButtons buttons, int helpContext) override;
  void showErrorDetailed(const QString& text, const QString& informative, const QString& detailed) override;
  // Error box with the message and an expandable "Detalhes" section.
  void showException(const QString& text, const QString& details) override;

  // An indeterminate progress bar with the caption over the form; calls nest.
  // Every animation number shows the same bar.
  void activeShowAvi(QWidget* form, int animation, const QString& caption) override;
  void deactiveShowAvi() override;

  QString filiProc() override { return session_.filial; }
  bool moduFili() override { return session_.moduFili; }
  QString operador() override { return session_.operador; }
  ServerAddress serverAddress() override { return session_.server; }
  QString sessionToken() override { return session_.token; }
  // Picture type 0: the product-tree code picture of the session; others: none.
  QString dbPict(int pictureType) override;
  // Registration-number mask by person type: "F" (natural person) the CPF
  // mask "999.999.999-99;0;_", "J" (company) the CNPJ mask
  // "99.999.999/9999-99;0;_", anything else no mask.
  QString pictPess(const QString& personType) override;

  // Multi-selection list over the data source ("caption|empty text"): a
  // closed dataset is opened first; keys in `list` come pre-marked; on OK the
  // marked keys, each as "_" key "_", in the list's order, replace `list`.
  // Space or a click on the box marks a row; "Marcar todos" / "Desmarcar
  // todos" act on the rows the quick filter shows. The flag is not used.
  bool pesquisaLista(TDataSource* source, const QString& keyField, const QString& caption, bool flag,
                     QString& list) override;
  // Record list over the dataset; moves the cursor to the picked row.
  bool pickRecord(TDataSet* dataset, const QString& title, const QString& emptyError) override;
  // Find-next over a column of the dataset.
  void procura(TDataSet* dataset, QWidget* parent, const QList<SearchColumn>& columns) override;
  void criaLancIrreg(const QString& postingNumber, QWidget* owner) override;
  void criaBloqConsolida(QWidget* owner) override;

  QMdiArea* mdiArea() override { return session_.mdiArea; }
  QString reportsFolder() override { return session_.reportsFolder; }
  QString helpCollection() override { return session_.helpCollection; }
  // The host's help viewer (helpviewer.h) at the page of the help context.
  void showHelp(int helpContext, QWidget* parent) override;
  bool inputQuery(const QString& caption, const QString& prompt, QString& value, QWidget* parent) override;

  int busyDepth() const { return busyDepth_; }

 private:
  HostSession session_;
  QPointer<BusyOverlay> busy_;
  int busyDepth_ = 0;
};

// The first row after `fromRow` (wrapping round to the start) whose shown
// text in the field contains `text`, accents and case aside; -1 when none does.
int findNextRow(const TDataSet& dataset, int fieldIndex, const QString& text, int fromRow);

// Marks of a key list as the list picker writes it: "_A__C_" holds A and C.
bool listContainsKey(const QString& list, const QString& key);
QString appendKey(const QString& list, const QString& key);
// The list with only the keys `keep` accepts, in their order; `dropped`
// counts the others.
QString keepKeys(const QString& list, const std::function<bool(const QString& key)>& keep, int& dropped);

}  // namespace hostkit
