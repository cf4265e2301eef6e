#include "frmfiltropadrao.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSettings>
#include <QShortcut>
#include <QTextEdit>
#include <QVBoxLayout>

#include "operations.h"
#include "optionsets.h"
#include <hostkit/core/messages.h>

namespace hostkit {

TfrmFiltroPadrao::TfrmFiltroPadrao(QWidget* parent, const QString& name) : QDialog(parent) {
  setObjectName(name);
  setModal(true);
  auto* root = new QVBoxLayout(this);
  lblCodTela = codeLabel(this, QStringLiteral("lblCodTela"));
  lblCodTela->setAlignment(Qt::AlignRight);
  grbFiltroPadrao = new QGroupBox(this);
  grbFiltroPadrao->setObjectName(QStringLiteral("grbFiltroPadrao"));
  root->addWidget(grbFiltroPadrao, 1);

  panBotoes = new QWidget(this);
  panBotoes->setObjectName(QStringLiteral("panBotoes"));
  auto* buttons = new QHBoxLayout(panBotoes);
  buttons->setContentsMargins(0, 0, 0, 0);
  sbtOpcoes = textButton(panBotoes, QStringLiteral("sbtOpcoes"), QStringLiteral("&Opções"), Glyph::Options);
  ppmOpcoes = new QMenu(this);
  ppmOpcoes->setObjectName(QStringLiteral("ppmOpcoes"));
  btfSaveOpc = menuAction(ppmOpcoes, QStringLiteral("btfSaveOpc"), QStringLiteral("Salvar opções"));
  btfLoadOpc = menuAction(ppmOpcoes, QStringLiteral("btfLoadOpc"), QStringLiteral("Carregar opções"));
  mnuConjuntos = ppmOpcoes->addMenu(QStringLiteral("Carregar opções salvas como"));
  mnuConjuntos->setObjectName(QStringLiteral("mnuConjuntos"));
  ppmOpcoes->addSeparator();
  btfSalvaPeriodo = menuAction(ppmOpcoes, QStringLiteral("btfSalvaPeriodo"), QStringLiteral("Salvar também o período"));
  btfSalvaPeriodo->setCheckable(true);
  lblOpcoes = new QLabel(panBotoes);
  lblOpcoes->setObjectName(QStringLiteral("lblOpcoes"));
  lblOpcoes->setWordWrap(true);  // a load that left entries out says so in two lines
  sbtOpcoes->setMenu(ppmOpcoes);
  sbtOpcoes->setPopupMode(QToolButton::InstantPopup);
  sbtConfirma = textButton(panBotoes, QStringLiteral("sbtConfirma"), QStringLiteral("&Confirmar"), Glyph::Confirm);
  sbtConfirma->SetHint(QStringLiteral("Confirmar (Ctrl+Enter)"));
  sbtCancel = textButton(panBotoes, QStringLiteral("sbtCancel"), QStringLiteral("Cance&lar"), Glyph::Cancel);
  sbtCancel->SetHint(QStringLiteral("Cancelar (Esc)"));
  sbtAjuda = toolButton(panBotoes, QStringLiteral("sbtAjuda"), QStringLiteral("Ajuda"), Glyph::Help);
  buttons->addWidget(sbtOpcoes);
  buttons->addWidget(lblOpcoes);
  buttons->addStretch(1);
  buttons->addWidget(lblCodTela);
  buttons->addWidget(sbtConfirma);
  buttons->addWidget(sbtCancel);
  buttons->addWidget(sbtAjuda);
  root->addWidget(panBotoes);

  msgPadrao = new TMessages(this, QStringLiteral("msgPadrao"));

  connect(sbtConfirma, &QToolButton::clicked, this, [this] { runButton([this] { sbtConfirmaClick(); }); });
  connect(sbtCancel, &QToolButton::clicked, this, [this] { runButton([this] { sbtCancelClick(); }); });
  connect(btfSaveOpc, &QAction::triggered, this, [this] { guardedOn(this, [this] { saveOptions(); }); });
  connect(btfLoadOpc, &QAction::triggered, this,
          [this] { guardedOn(this, [this] { loadOptions(OptionSets(optionsGroup()).lastUsed()); }); });
  connect(mnuConjuntos, &QMenu::aboutToShow, this, &TfrmFiltroPadrao::listOptionSets);
  connectHelp(this, sbtAjuda, [this] { guardedOn(this, [this] { sbtAjudaClick(); }); });
}

void TfrmFiltroPadrao::createForm() { FormCreate(); }

void TfrmFiltroPadrao::sbtAjudaClick() { ShowHelp(HelpContext, this); }

int TfrmFiltroPadrao::ShowModal() { return exec(); }

// A button handler that set a modal result and ran to its end closes the dialog.
// A second click while the first one's handler runs (a list loading) does nothing.
void TfrmFiltroPadrao::runButton(const std::function<void()>& handler) {
  if (operationRunning(this)) return;
  const bool completed = guardedOn(this, handler);
  if (completed && modalResult_ != mrNone && isVisible()) close();
}

// Ctrl+Return confirms anywhere, Return wherever it does not make a new line.
void TfrmFiltroPadrao::keyPressEvent(QKeyEvent* e) {
  const bool enter = e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter;
  const Qt::KeyboardModifiers modifiers = e->modifiers() & ~Qt::KeypadModifier;
  const QWidget* focus = focusWidget();
  const bool multiLine = qobject_cast<const QPlainTextEdit*>(focus) || qobject_cast<const QTextEdit*>(focus);
  if (enter && (modifiers == Qt::ControlModifier || (modifiers == Qt::NoModifier && !multiLine))) {
    runButton([this] { sbtConfirmaClick(); });
    return;
  }
  QDialog::keyPressEvent(e);
}

void TfrmFiltroPadrao::reject() {
  runButton([this] { sbtCancelClick(); });
}

void TfrmFiltroPadrao::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  if (e->spontaneous()) return;  // restored by the window system, not a new opening
  modalResult_ = mrNone;
  lblOpcoes->clear();
  lblOpcoes->setToolTip(QString());
  guardedOn(this, [this] { FormActivate(); });
}

void TfrmFiltroPadrao::closeEvent(QCloseEvent* e) {
  if (!isVisible()) return e->accept();
  CloseAction action = CloseAction::Hide;
  if (!guardedOn(this, [&] { FormClose(action); }) || action == CloseAction::None) return e->ignore();
  if (action == CloseAction::Minimize) {
    e->ignore();
    showMinimized();
    return;
  }
  e->accept();
  done(modalResult_ != mrNone ? modalResult_ : int(mrCancel));
  if (action == CloseAction::Free) deleteLater();
}

QString TfrmFiltroPadrao::optionsGroup() const {
  const QString screen = lblCodTela->text().isEmpty() ? objectName() : lblCodTela->text();
  const QString operador = hasHostServices() ? hostServices().operador() : QString();
  return QStringLiteral("OpcoesFiltro/%1/%2").arg(optionKeyPart(screen), optionKeyPart(operador));
}

void TfrmFiltroPadrao::writeOptions() const {
  OptionSets(optionsGroup()).write(optionsName_.isEmpty() ? OptionSets::defaultName() : optionsName_, Opcoes.lines());
}

void TfrmFiltroPadrao::readOptions() {
  const OptionSets sets(optionsGroup());
  Opcoes.setLines(sets.read(optionsName_.isEmpty() ? sets.lastUsed() : optionsName_).value_or(QStringList()));
}

void TfrmFiltroPadrao::btfSaveOpcClick() {
  Opcoes.setLines(controlStateLines(grbFiltroPadrao, btfSalvaPeriodo->isChecked()));
}

void TfrmFiltroPadrao::btfLoadOpcClick() {
  readOptions();
  restoreControlState(grbFiltroPadrao, Opcoes.lines());
}

// Asks the set's name (the last one offered), saves it and says so.
void TfrmFiltroPadrao::saveOptions() {
  QString name = OptionSets(optionsGroup()).lastUsed();
  if (!InputQuery(QStringLiteral("Salvar opções"), QStringLiteral("Nome das opções:"), name, this)) return;
  optionsName_ = name.trimmed().isEmpty() ? OptionSets::defaultName() : name.trimmed();
  btfSaveOpcClick();
  writeOptions();
  lblOpcoes->setText(QStringLiteral("Opções \"%1\" salvas.").arg(optionsName_));
  lblOpcoes->setToolTip(QString());
}

void TfrmFiltroPadrao::loadOptions(const QString& name) {
  if (!OptionSets(optionsGroup()).read(name)) {
    lblOpcoes->setText(QStringLiteral("Não há opções salvas como \"%1\".").arg(name));
    return;
  }
  optionsName_ = name;
  loadNotes_.clear();
  btfLoadOpcClick();
  const QString loaded =
      (QStringList{QStringLiteral("Opções \"%1\" carregadas.").arg(name)} + loadNotes_).join(QLatin1Char(' '));
  lblOpcoes->setText(loaded);
  lblOpcoes->setToolTip(loadNotes_.isEmpty() ? QString() : loaded);
}

void TfrmFiltroPadrao::listOptionSets() {
  mnuConjuntos->clear();
  const QStringList names = OptionSets(optionsGroup()).names();
  if (names.isEmpty()) mnuConjuntos->addAction(QStringLiteral("(nenhuma salva)"))->setEnabled(false);
  for (const QString& name : names)
    connect(mnuConjuntos->addAction(name), &QAction::triggered, this,
            [this, name] { guardedOn(this, [this, name] { loadOptions(name); }); });
}

}  // namespace hostkit
