// Host services for tests: records every message, busy animation and host
// screen, and answers questions and pickers from a script, so a test reads
// like the operator's session.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <deque>
#include <map>
#include <memory>
#include <optional>

#include <hostkit/core/hostservices.h>

namespace hostkit {

struct ShownMessage {
  enum Kind { Dialog, Error, Exception };
  QString key;  // catalogue key the text came from, empty when unknown
  QString text;
  MsgDlgType type = MsgDlgType::Information;
  unsigned buttons = 0;
  Kind kind = Dialog;
  QString details;      // exceptions' details; dialogs' and errors' detailed text
  QString informative;  // dialogs' and errors' informative text, beside the message
};

// A call of the list picker or of the record search list.
struct PickerCall {
  enum Kind { List, Record };
  Kind kind = List;
  QString dataset;  // objectName of the dataset shown
  QString title;    // caption (the part before "|") or search title
  QString emptyText;
  QString keyField;    // list picker only
  QString listBefore;  // list picker only
  QString listAfter;
  int rows = 0;  // rows the picker saw (after opening a closed dataset)
  bool confirmed = false;
};

struct ProcuraCall {
  QString dataset;
  int rows = 0;
  int recNo = -1;
  QStringList columns;  // the titles offered, in order
};

// CriaLancIrreg / CriaBloqConsolida, with the rows of the owner's dataset as they were shown.
struct HostScreenCall {
  QString screen;  // "CriaLancIrreg" or "CriaBloqConsolida"
  QString postingNumber;
  QString owner;
  bool datasetFound = false;
  QStringList fields;
  QList<QStringList> rows;  // each row's field texts, in field order
};

class ScriptedHostServices : public HostServices {
 public:
  // Creates the services and installs them as the host's.
  static std::shared_ptr<ScriptedHostServices> install();

  // ---- script ----
  // Answers of the next message dialogs, in order; when none is left the
  // default answer is given if the dialog offers it, else its first button.
  std::deque<int> dialogAnswers;
  int defaultAnswer = mrYes;
  // List picker answers: the keys the operator marks (written in the list's
  // order), or nullopt for Cancel. Without an answer left the picker cancels.
  std::deque<std::optional<QStringList>> listAnswers;
  // Record search answers: the row picked, or nullopt for Cancel.
  std::deque<std::optional<int>> recordAnswers;
  // Text box answers: the text typed, or nullopt for Cancel; none left: OK
  // with the preset text.
  std::deque<std::optional<QString>> inputAnswers;

  // ---- login and setup ----
  QString filial = QStringLiteral("0001");
  bool moduFiliValue = false;
  QString operadorValue = QStringLiteral("OPER");
  ServerAddress server;
  QString token;
  QString productTreePicture = QStringLiteral("9.99.99.999;0;_");
  std::map<QString, QString> personMasks = {{QStringLiteral("F"), QStringLiteral("999.999.999-99;0;_")},
                                            {QStringLiteral("J"), QStringLiteral("99.999.999/9999-99;0;_")}};
  QMdiArea* mdi = nullptr;
  QString reports;
  // The manual: its collection file (empty: where the host looks by default),
  // and whether a help request opens the host's real viewer.
  QString help;
  bool openHelpViewer = false;

  // ---- records ----
  QList<ShownMessage> messages;
  QList<PickerCall> pickerCalls;
  QList<ProcuraCall> procuraCalls;
  QList<HostScreenCall> hostScreens;
  QStringList busyCaptions;
  QList<int> helpContexts;  // help asked for, in order
  int busyOpened = 0;
  int busyClosed = 0;
  int busyDepth = 0;
  int busyMaxDepth = 0;
  int busyUnmatchedCloses = 0;

  QStringList messageKeys() const;
  QStringList messageTexts() const;
  // Every animation opened was closed, none closed twice.
  bool busyBalanced() const { return busyOpened == busyClosed && busyUnmatchedCloses == 0 && busyDepth == 0; }
  void clearRecords();

  // ---- HostServices ----
  int messageDlg(const QString& text, MsgDlgType type, MsgDlgButtons buttons, int helpContext) override;
  void showError(const QString& text) override;
  void showException(const QString& text, const QString& details) override;
  int messageDlgDetailed(const QString& text, const QString& informative, const QString& detailed, MsgDlgType type,
                         MsgDlgButtons buttons, int helpContext) override;
  void showErrorDetailed(const QString& text, const QString& informative, const QString& detailed) override;
  void activeShowAvi(QWidget* form, int animation, const QString& caption) override;
  void deactiveShowAvi() override;
  QString filiProc() override { return filial; }
  bool moduFili() override { return moduFiliValue; }
  QString operador() override { return operadorValue; }
  ServerAddress serverAddress() override { return server; }
  QString sessionToken() override { return token; }
  QString dbPict(int pictureType) override { return pictureType == 0 ? productTreePicture : QString(); }
  QString pictPess(const QString& personType) override;
  bool pesquisaLista(TDataSource* source, const QString& keyField, const QString& caption, bool flag,
                     QString& list) override;
  bool pickRecord(TDataSet* dataset, const QString& title, const QString& emptyError) override;
  void procura(TDataSet* dataset, QWidget* parent, const QList<SearchColumn>& columns) override;
  bool inputQuery(const QString& caption, const QString& prompt, QString& value, QWidget* parent) override;
  void criaLancIrreg(const QString& postingNumber, QWidget* owner) override;
  void criaBloqConsolida(QWidget* owner) override;
  QMdiArea* mdiArea() override { return mdi; }
  QString reportsFolder() override { return reports; }
  void showHelp(int helpContext, QWidget* parent) override;
  QString helpCollection() override { return help; }

 private:
  void record(ShownMessage::Kind kind, const QString& text, MsgDlgType type, unsigned buttons,
              const QString& details = {});
  HostScreenCall copyScreen(const QString& screen, const QString& datasetName, QWidget* owner) const;
};

}  // namespace hostkit
