// The report designer (rpddPadrao of the report screens): edits a
// definition's title, orientation, query texts, parameter words and columns,
// and saves them back to its file. "Testar consulta" runs the query on the
// connected database and shows its fields and first rows, so the columns can
// be made from what it really returns.
#pragma once

#include <QDialog>

#include <reportkit/model/reportprobe.h>
#include <reportkit/model/reporttemplate.h>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QTabWidget;
class QTableWidget;
class QPushButton;

namespace reportkit {

class TReportDesigner : public QDialog {
  Q_OBJECT
 public:
  // `connection`: the Qt connection "Testar consulta" and the check at save
  // run the query on.
  explicit TReportDesigner(QString connection, QWidget* parent = nullptr,
                           const QString& name = QStringLiteral("rpddPadrao"));

  // Reads the definition file into the controls; throws EHostError when the
  // file is missing or damaged (the controls keep what they showed).
  void Load(const QString& path);
  // Load, then the dialog modally; QDialog::Accepted after a save.
  int Execute(const QString& path);
  // A definition not written yet: the controls show `report`, and only
  // Salvar writes it to `path` (Cancelar leaves nothing behind).
  int ExecuteNew(const QString& path, const ReportTemplate& report);
  const QString& FileName() const { return path_; }

  void SetTemplate(const ReportTemplate& report);
  // The definition as the controls show it; throws EHostError for a value
  // that cannot be read (a width that is no number, a malformed value list).
  ReportTemplate Template() const;
  // Writes the controls into the file. An incomplete definition or a failed
  // write is reported with MensErro and nothing is written; false then.
  bool Save();
  // "Testar consulta": runs the query texts as the controls show them,
  // read-only with every parameter unset, and shows the outcome in tabTeste.
  void TestQuery();

  QLineEdit* edtTitulo;
  QComboBox* cbbOrientacao;
  QTabWidget* pgcConsultas;
  QPlainTextEdit* memConsultaGenerica;
  QPlainTextEdit* memConsultaOracle;
  QPlainTextEdit* memConsultaSqlServer;
  QPlainTextEdit* memConsultaInterbase;
  QTableWidget* grdParametros;
  QPushButton* sbtIncluirParametro;
  QPushButton* sbtExcluirParametro;
  QTableWidget* grdColunas;
  QPushButton* sbtIncluirColuna;
  QPushButton* sbtExcluirColuna;
  QPushButton* sbtSubirColuna;
  QPushButton* sbtDescerColuna;
  QPushButton* sbtSalvar;
  QPushButton* sbtCancelar;
  QPushButton* sbtTestarConsulta;
  QWidget* tabTeste;
  QLabel* lblErroTeste;
  QLabel* lblLinhasTeste;
  QListWidget* lstCampos;  // a double click adds a column of that field
  QTableWidget* grdAmostra;

  // Grid columns.
  enum ColumnCol {
    ColCampo,
    ColTitulo,
    ColLargura,
    ColAlinhamento,
    ColTipo,
    ColFormato,
    ColTotal,
    ColTotalPor,
    ColImpressa,
    ColumnCols
  };
  enum ParamCol { ParNome, ParDescricao, ParVazio, ParValores, ParConsultaNome, ParamCols };
  enum GroupCol { GrpCampos, GrpCabecalho, GrpRodape, GroupCols };

  QTableWidget* grdGrupos;
  QPushButton* sbtIncluirGrupo;
  QPushButton* sbtExcluirGrupo;

  void addColumnRow(const ReportColumn& column);
  void addParamRow(const ReportParamText& param);
  void addGroupRow(const ReportGroup& group);
  QList<ReportColumn> columns() const;
  // Moves the current column row by `delta` rows.
  void moveColumn(int delta);

 private:
  void setColumns(const QList<ReportColumn>& columns);
  QWidget* createTestPage();
  void showTestResult(const ReportProbe& probe);
  void addFieldColumn(int field);
  QMap<DatabaseKind, QString> queries() const;
  QList<ReportParamText> parameters() const;
  QList<ReportGroup> groups() const;
  QPlainTextEdit* queryEdit(DatabaseKind kind) const;
  QWidget* gridPage(const QString& gridName, const QStringList& headers, const QString& what, QTableWidget*& grd,
                    QPushButton*& add, QPushButton*& remove);

  QString connection_;
  QString path_;
  QString answers_;  // kept as loaded: the designer does not edit them
  QString parameterSet_;
  ReportProbe probe_;  // the last "Testar consulta": its fields' kinds
};

}  // namespace reportkit
