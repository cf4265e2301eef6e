// "Consolidações realizadas": the stock postings the consolidation made for
// a branch's sales over a period, one row per posting and day, reversed ones
// with who reversed them, when and why; "Estornar..." undoes the chosen one
// after asking the reason and a confirmation.
//
// The screen keeps its own connection to the application server, so it
// stays usable when the consolidation screen it was opened from is closed;
// the branch is the one that screen had when it opened this one.
#pragma once

#include <QDialog>
#include <optional>

#include <hostkit/widgets/frmpadraogrid.h>
#include <qfx31700/remote/rdmgeranf.h>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace qfx {

class TfrmConsolidacoes : public hostkit::TfrmPadraoGrid {
  Q_OBJECT
 public:
  explicit TfrmConsolidacoes(const QString& filial, QWidget* parent = nullptr);

  // ---- controls ----
  hostkit::TButtonFlat* sbtEstornar;
  QAction* mnuEstornar;
  QFrame* panPeriodo;
  QLabel* lblFilial;
  QLineEdit* edtFilial;
  QLabel* lblPeriodo;
  hostkit::TDateEditPlus* depInicial;
  QLabel* lblAte;
  hostkit::TDateEditPlus* depFinal;

  // ---- data ----
  hostkit::TNetConnection* netConsolidacoes;
  hostkit::TDataSet* cdsConsolidacoes;
  hostkit::TDataSource* dtsConsolidacoes;

  // The branch whose runs are listed, and the period shown.
  void SetFilial(const QString& filial);
  QString Filial() const { return filial_; }
  void SetPeriodo(double inicio, double fim);

  // ---- handlers, callable by tests ----
  void sbtVerificarClick() override;  // loads the runs of the period
  void sbtEstornarClick();
  void sbtProcurarClick() override;

 protected:
  void FormCreate() override;
  void FormActivate() override;
  void FormClose(hostkit::CloseAction& action) override;

 private:
  void buildPanel();
  void buildToolbar();
  void buildGrid();
  void updateCommands();
  void Vd_Periodo();
  bool estornada() const;
  // Moves the list to that posting, if it still shows it.
  void mostraLancamento(const QString& filialEst, const QString& lancamento);
  // The server's refusals get the screen's texts; false for anything else.
  bool tratarRecusa(const QString& chave);

  QString filial_;
  RdmGeraNF rdm_;
  bool carregada_ = false;
};

// The reason of a reversal: required, at most the length the server keeps.
class TfrmMotivoEstorno : public QDialog {
  Q_OBJECT
 public:
  // `lancamento` tells the posting the reason is asked for.
  TfrmMotivoEstorno(const QString& lancamento, QWidget* parent = nullptr);

  QLabel* lblLancamento;
  QLabel* lblMotivo;
  QPlainTextEdit* memMotivo;
  QLabel* lblContador;
  QPushButton* btnConfirmar;
  QPushButton* btnCancelar;

  QString Motivo() const;

  // Asks; nothing when the operator cancels.
  static std::optional<QString> Pergunta(const QString& lancamento, QWidget* parent);

 private:
  void motivoChanged();
};

}  // namespace qfx
