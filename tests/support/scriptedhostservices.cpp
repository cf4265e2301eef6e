#include "scriptedhostservices.h"

#include <QWidget>
#include <stdexcept>

#include <hostkit/core/dataset.h>
#include <hostkit/core/messages.h>
#include <hostkit/widgets/helpviewer.h>

namespace hostkit {

std::shared_ptr<ScriptedHostServices> ScriptedHostServices::install() {
  auto services = std::make_shared<ScriptedHostServices>();
  installHostServices(services);
  return services;
}

QStringList ScriptedHostServices::messageKeys() const {
  QStringList keys;
  for (const auto& m : messages) keys << m.key;
  return keys;
}

QStringList ScriptedHostServices::messageTexts() const {
  QStringList texts;
  for (const auto& m : messages) texts << m.text;
  return texts;
}

void ScriptedHostServices::clearRecords() {
  messages.clear();
  pickerCalls.clear();
  procuraCalls.clear();
  hostScreens.clear();
  busyCaptions.clear();
  helpContexts.clear();
  busyOpened = busyClosed = busyDepth = busyMaxDepth = busyUnmatchedCloses = 0;
}

void ScriptedHostServices::record(ShownMessage::Kind kind, const QString& text, MsgDlgType type, unsigned buttons,
                                  const QString& details) {
  messages << ShownMessage{keyForText(text), text, type, buttons, kind, details, {}};
}

int ScriptedHostServices::messageDlg(const QString& text, MsgDlgType type, MsgDlgButtons buttons, int) {
  record(ShownMessage::Dialog, text, type, buttons);
  if (!dialogAnswers.empty()) {
    const int answer = dialogAnswers.front();
    dialogAnswers.pop_front();
    return answer;
  }
  const struct {
    MsgDlgButton button;
    int result;
  } offered[] = {{mbYes, mrYes}, {mbNo, mrNo}, {mbOK, mrOk}, {mbCancel, mrCancel}};
  for (const auto& o : offered)
    if ((buttons & o.button) && o.result == defaultAnswer) return defaultAnswer;
  for (const auto& o : offered)
    if (buttons & o.button) return o.result;
  return mrOk;
}

void ScriptedHostServices::showError(const QString& text) {
  record(ShownMessage::Error, text, MsgDlgType::Error, mbOK);
}

int ScriptedHostServices::messageDlgDetailed(const QString& text, const QString& informative, const QString& detailed,
                                             MsgDlgType type, MsgDlgButtons buttons, int helpContext) {
  const int answer = messageDlg(text, type, buttons, helpContext);
  // messageDlg recorded it (a subclass may have listened meanwhile): what goes beside it joins the record
  for (auto it = messages.rbegin(); it != messages.rend(); ++it) {
    if (it->kind != ShownMessage::Dialog || it->text != text) continue;
    it->informative = informative;
    it->details = detailed;
    break;
  }
  return answer;
}

void ScriptedHostServices::showErrorDetailed(const QString& text, const QString& informative, const QString& detailed) {
  showError(text);
  for (auto it = messages.rbegin(); it != messages.rend(); ++it) {
    if (it->kind != ShownMessage::Error || it->text != text) continue;
    it->informative = informative;
    it->details = detailed;
    break;
  }
}

void ScriptedHostServices::showException(const QString& text, const QString& details) {
  record(ShownMessage::Exception, text, MsgDlgType::Error, mbOK, details);
}

void ScriptedHostServices::activeShowAvi(QWidget*, int, const QString& caption) {
  ++busyOpened;
  busyMaxDepth = std::max(busyMaxDepth, ++busyDepth);
  busyCaptions << caption;
}

void ScriptedHostServices::deactiveShowAvi() {
  if (busyDepth == 0) {
    ++busyUnmatchedCloses;
    return;
  }
  --busyDepth;
  ++busyClosed;
}

QString ScriptedHostServices::pictPess(const QString& personType) {
  const auto it = personMasks.find(personType.trimmed().toUpper());
  return it == personMasks.end() ? QString() : it->second;
}

// Mirrors the real picker's contract: a closed dataset is opened, an empty
// list with an empty text shows that text, the marked keys are written in
// the list's order as "_" key "_", Cancel keeps the list.
bool ScriptedHostServices::pesquisaLista(TDataSource* source, const QString& keyField, const QString& caption, bool,
                                         QString& list) {
  TDataSet* dataset = source ? source->DataSet() : nullptr;
  if (!dataset) throw std::logic_error("pesquisaLista: data source without dataset");
  if (!dataset->Active()) dataset->Open();
  const qsizetype bar = caption.indexOf(QLatin1Char('|'));
  PickerCall call;
  call.kind = PickerCall::List;
  call.dataset = dataset->objectName();
  call.title = bar < 0 ? caption : caption.left(bar);
  call.emptyText = bar < 0 ? QString() : caption.mid(bar + 1);
  call.keyField = keyField;
  call.listBefore = list;
  call.listAfter = list;
  call.rows = dataset->RecordCount();
  const TField* key = dataset->FieldByName(keyField);

  if (dataset->IsEmpty() && !call.emptyText.isEmpty()) {
    pickerCalls << call;
    messageDlg(call.emptyText, MsgDlgType::Information, mbOK, 0);
    return false;
  }
  std::optional<QStringList> answer;
  if (!listAnswers.empty()) {
    answer = listAnswers.front();
    listAnswers.pop_front();
  }
  if (!answer) {
    pickerCalls << call;
    return false;
  }
  QString chosen;
  QStringList missing = *answer;
  for (int r = 0; r < dataset->RecordCount(); ++r) {
    const QString k = key->textAt(r);
    if (!answer->contains(k)) continue;
    chosen += QLatin1Char('_') + k + QLatin1Char('_');
    missing.removeAll(k);
  }
  if (!missing.isEmpty()) {
    pickerCalls << call;
    throw std::logic_error(("scripted picker: keys not in the list: " + missing.join(QLatin1Char(','))).toStdString());
  }
  list = chosen;
  call.listAfter = chosen;
  call.confirmed = true;
  pickerCalls << call;
  return true;
}

bool ScriptedHostServices::pickRecord(TDataSet* dataset, const QString& title, const QString& emptyError) {
  if (!dataset) throw std::logic_error("pickRecord: no dataset");
  if (!dataset->Active()) dataset->Open();
  PickerCall call;
  call.kind = PickerCall::Record;
  call.dataset = dataset->objectName();
  call.title = title;
  call.emptyText = emptyError;
  call.rows = dataset->RecordCount();
  if (dataset->IsEmpty()) {
    pickerCalls << call;
    messageDlg(emptyError.isEmpty() ? QStringLiteral("Não há registros.") : emptyError, MsgDlgType::Error, mbOK, 0);
    return false;
  }
  std::optional<int> answer;
  if (!recordAnswers.empty()) {
    answer = recordAnswers.front();
    recordAnswers.pop_front();
  }
  if (answer && (*answer < 0 || *answer >= dataset->RecordCount())) {
    pickerCalls << call;
    throw std::logic_error("scripted record search: row " + std::to_string(*answer) + " not in the list");
  }
  call.confirmed = answer.has_value();
  pickerCalls << call;
  if (!answer) return false;
  dataset->SetRecNo(*answer);
  return true;
}

void ScriptedHostServices::procura(TDataSet* dataset, QWidget*, const QList<SearchColumn>& columns) {
  QStringList titles;
  for (const SearchColumn& c : columns) titles << c.title;
  procuraCalls << ProcuraCall{dataset ? dataset->objectName() : QString(), dataset ? dataset->RecordCount() : 0,
                              dataset ? dataset->RecNo() : -1, titles};
}

bool ScriptedHostServices::inputQuery(const QString&, const QString&, QString& value, QWidget*) {
  if (inputAnswers.empty()) return true;
  const auto answer = inputAnswers.front();
  inputAnswers.pop_front();
  if (!answer) return false;
  value = *answer;
  return true;
}

HostScreenCall ScriptedHostServices::copyScreen(const QString& screen, const QString& datasetName,
                                                QWidget* owner) const {
  HostScreenCall call;
  call.screen = screen;
  call.owner = owner ? owner->objectName() : QString();
  const TDataSet* dataset = owner ? owner->findChild<TDataSet*>(datasetName) : nullptr;
  if (!dataset) return call;
  call.datasetFound = true;
  for (int f = 0; f < dataset->FieldCount(); ++f) call.fields << dataset->Fields(f)->FieldName();
  for (int r = 0; r < dataset->RecordCount(); ++r) {
    QStringList row;
    for (int f = 0; f < dataset->FieldCount(); ++f) row << dataset->Fields(f)->textAt(r);
    call.rows << row;
  }
  return call;
}

void ScriptedHostServices::criaLancIrreg(const QString& postingNumber, QWidget* owner) {
  HostScreenCall call = copyScreen(QStringLiteral("CriaLancIrreg"), QStringLiteral("cdsIrregEst"), owner);
  call.postingNumber = postingNumber;
  hostScreens << call;
}

void ScriptedHostServices::showHelp(int helpContext, QWidget* parent) {
  helpContexts << helpContext;
  if (!openHelpViewer) return;
  if (const Status shown = openHelp(helpCollection(), helpContext, parent); !shown.ok()) showError(shown.error());
}

void ScriptedHostServices::criaBloqConsolida(QWidget* owner) {
  hostScreens << copyScreen(QStringLiteral("CriaBloqConsolida"), QStringLiteral("cdsBloqConsolida"), owner);
}

}  // namespace hostkit
