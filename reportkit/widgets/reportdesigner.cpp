#include "reportdesigner.h"

#include <QApplication>
#include <QComboBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

#include <hostkit/core/abort.h>
#include <hostkit/core/hostservices.h>
#include <hostkit/core/routines.h>
#include <reportkit/model/reportengine.h>

namespace reportkit {

using namespace hostkit;

namespace {

QPushButton* button(const QString& name, const QString& text, QWidget* parent) {
  auto* b = new QPushButton(text, parent);
  b->setObjectName(name);
  b->setAutoDefault(false);
  return b;
}

QTableWidget* grid(const QString& name, const QStringList& headers, QWidget* parent) {
  auto* g = new QTableWidget(0, int(headers.size()), parent);
  g->setObjectName(name);
  g->setHorizontalHeaderLabels(headers);
  g->verticalHeader()->setDefaultSectionSize(g->fontMetrics().height() + 8);
  g->horizontalHeader()->setStretchLastSection(true);
  g->setSelectionBehavior(QAbstractItemView::SelectRows);
  g->setSelectionMode(QAbstractItemView::SingleSelection);
  return g;
}

QPlainTextEdit* queryMemo(const QString& name, QWidget* parent) {
  auto* m = new QPlainTextEdit(parent);
  m->setObjectName(name);
  m->setLineWrapMode(QPlainTextEdit::NoWrap);
  m->setFont(QFont(QStringLiteral("Monospace")));
  return m;
}

QComboBox* choice(const QList<QPair<QString, int>>& items, int current, QWidget* parent) {
  auto* c = new QComboBox(parent);
  for (const auto& [text, value] : items) c->addItem(text, value);
  c->setCurrentIndex(std::max(0, c->findData(current)));
  return c;
}

const QList<QPair<QString, int>> kAlignments = {{QStringLiteral("Esquerda"), int(Qt::AlignLeft)},
                                                {QStringLiteral("Centro"), int(Qt::AlignHCenter)},
                                                {QStringLiteral("Direita"), int(Qt::AlignRight)}};
const QList<QPair<QString, int>> kTypes = {{QStringLiteral("Texto"), int(ReportColumn::Type::Text)},
                                           {QStringLiteral("Número"), int(ReportColumn::Type::Number)},
                                           {QStringLiteral("Data"), int(ReportColumn::Type::Date)}};

QString cell(const QTableWidget* g, int row, int col) {
  const QTableWidgetItem* item = g->item(row, col);
  return item ? item->text().trimmed() : QString();
}

// "S=sim; N=não" and back.
QString valuesText(const QMap<QString, QString>& values) {
  QStringList pairs;
  for (auto it = values.begin(); it != values.end(); ++it) pairs << it.key() + u'=' + it.value();
  return pairs.join(QStringLiteral("; "));
}

QMap<QString, QString> valuesOf(const QString& text, const QString& param) {
  QMap<QString, QString> values;
  for (const QString& pair : text.split(u';', Qt::SkipEmptyParts)) {
    const qsizetype eq = pair.indexOf(u'=');
    if (eq <= 0)
      throw EHostError(QStringLiteral("Valores do parâmetro %1: use VALOR=texto separados por ';'.").arg(param));
    values.insert(pair.left(eq).trimmed(), pair.mid(eq + 1).trimmed());
  }
  return values;
}

// How many rows the query returned and how many the sample shows; nothing
// before a test ran.
QString rowsText(const ReportProbe& probe) {
  const QLocale& locale = productLocale();
  if (probe.fields.isEmpty()) return {};
  if (probe.rowCount == 0)
    return QStringLiteral("A consulta não retornou linhas com os parâmetros vazios; os campos estão ao lado.");
  if (probe.rowCount == 1) return QStringLiteral("1 linha.");
  if (probe.rows.size() == probe.rowCount) return QStringLiteral("%1 linhas.").arg(locale.toString(probe.rowCount));
  return QStringLiteral("%1 linhas; as %2 primeiras abaixo.")
      .arg(locale.toString(probe.rowCount), locale.toString(probe.rows.size()));
}

// The rows a test shows: enough to see what the values look like.
const int kSampleRows = 20;

}  // namespace

TReportDesigner::TReportDesigner(QString connection, QWidget* parent, const QString& name)
    : QDialog(parent), connection_(std::move(connection)) {
  setObjectName(name);
  setWindowTitle(QStringLiteral("Editar relatório"));
  setModal(true);
  // room for every tab of the query area and the column grid's nine columns
  QSize size(1180, 820);
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    size = size.boundedTo(screen->availableSize() * 92 / 100);
  resize(size);
  auto* root = new QVBoxLayout(this);

  auto* form = new QFormLayout;
  edtTitulo = new QLineEdit(this);
  edtTitulo->setObjectName(QStringLiteral("edtTitulo"));
  form->addRow(QStringLiteral("Título:"), edtTitulo);
  cbbOrientacao = new QComboBox(this);
  cbbOrientacao->setObjectName(QStringLiteral("cbbOrientacao"));
  cbbOrientacao->addItem(QStringLiteral("Retrato"), int(QPageLayout::Portrait));
  cbbOrientacao->addItem(QStringLiteral("Paisagem"), int(QPageLayout::Landscape));
  form->addRow(QStringLiteral("Orientação:"), cbbOrientacao);
  root->addLayout(form);

  pgcConsultas = new QTabWidget(this);
  pgcConsultas->setObjectName(QStringLiteral("pgcConsultas"));
  memConsultaGenerica = queryMemo(QStringLiteral("memConsultaGenerica"), pgcConsultas);
  memConsultaOracle = queryMemo(QStringLiteral("memConsultaOracle"), pgcConsultas);
  memConsultaSqlServer = queryMemo(QStringLiteral("memConsultaSqlServer"), pgcConsultas);
  memConsultaInterbase = queryMemo(QStringLiteral("memConsultaInterbase"), pgcConsultas);
  pgcConsultas->addTab(memConsultaGenerica, QStringLiteral("Consulta genérica (SQLite, PostgreSQL)"));
  pgcConsultas->addTab(memConsultaOracle, QStringLiteral("Oracle"));
  pgcConsultas->addTab(memConsultaSqlServer, QStringLiteral("SQL Server"));
  pgcConsultas->addTab(memConsultaInterbase, QStringLiteral("InterBase"));

  QWidget* paramPage =
      gridPage(QStringLiteral("grdParametros"),
               {QStringLiteral("Parâmetro"), QStringLiteral("Descrição"), QStringLiteral("Quando vazio"),
                QStringLiteral("Valores (S=sim; N=não)"), QStringLiteral("Consulta do nome")},
               QStringLiteral("Parametro"), grdParametros, sbtIncluirParametro, sbtExcluirParametro);
  pgcConsultas->addTab(paramPage, QStringLiteral("Parâmetros no cabeçalho"));
  QWidget* groupPage = gridPage(QStringLiteral("grdGrupos"),
                                {QStringLiteral("Campos (separados por vírgula)"),
                                 QStringLiteral("Cabeçalho ({CAMPO})"), QStringLiteral("Rodapé ({CAMPO})")},
                                QStringLiteral("Grupo"), grdGrupos, sbtIncluirGrupo, sbtExcluirGrupo);
  pgcConsultas->addTab(groupPage, QStringLiteral("Grupos"));
  pgcConsultas->addTab(createTestPage(), QStringLiteral("Resultado do teste"));
  sbtTestarConsulta = button(QStringLiteral("sbtTestarConsulta"), QStringLiteral("Testar consulta"), pgcConsultas);
  pgcConsultas->setCornerWidget(sbtTestarConsulta, Qt::TopRightCorner);
  root->addWidget(pgcConsultas, 3);

  root->addWidget(new QLabel(QStringLiteral("Colunas:"), this));
  grdColunas = grid(QStringLiteral("grdColunas"),
                    {QStringLiteral("Campo"), QStringLiteral("Título"), QStringLiteral("Largura"),
                     QStringLiteral("Alinhamento"), QStringLiteral("Tipo"), QStringLiteral("Formato"),
                     QStringLiteral("Total"), QStringLiteral("Total por campo"), QStringLiteral("Impressa")},
                    this);
  root->addWidget(grdColunas, 2);
  auto* columnButtons = new QHBoxLayout;
  sbtIncluirColuna = button(QStringLiteral("sbtIncluirColuna"), QStringLiteral("Incluir"), this);
  sbtExcluirColuna = button(QStringLiteral("sbtExcluirColuna"), QStringLiteral("Excluir"), this);
  sbtSubirColuna = button(QStringLiteral("sbtSubirColuna"), QStringLiteral("Subir"), this);
  sbtDescerColuna = button(QStringLiteral("sbtDescerColuna"), QStringLiteral("Descer"), this);
  for (QPushButton* b : {sbtIncluirColuna, sbtExcluirColuna, sbtSubirColuna, sbtDescerColuna})
    columnButtons->addWidget(b);
  columnButtons->addStretch(1);
  sbtSalvar = button(QStringLiteral("sbtSalvar"), QStringLiteral("Salvar"), this);
  sbtCancelar = button(QStringLiteral("sbtCancelar"), QStringLiteral("Cancelar"), this);
  columnButtons->addWidget(sbtSalvar);
  columnButtons->addWidget(sbtCancelar);
  root->addLayout(columnButtons);

  connect(sbtIncluirColuna, &QPushButton::clicked, this, [this] {
    addColumnRow(ReportColumn{});
    grdColunas->setCurrentCell(grdColunas->rowCount() - 1, ColCampo);
  });
  connect(sbtExcluirColuna, &QPushButton::clicked, this, [this] {
    if (grdColunas->currentRow() >= 0) grdColunas->removeRow(grdColunas->currentRow());
  });
  connect(sbtSubirColuna, &QPushButton::clicked, this, [this] { guarded([this] { moveColumn(-1); }); });
  connect(sbtDescerColuna, &QPushButton::clicked, this, [this] { guarded([this] { moveColumn(1); }); });
  connect(sbtIncluirParametro, &QPushButton::clicked, this, [this] { addParamRow(ReportParamText{}); });
  connect(sbtExcluirParametro, &QPushButton::clicked, this, [this] {
    if (grdParametros->currentRow() >= 0) grdParametros->removeRow(grdParametros->currentRow());
  });
  connect(sbtIncluirGrupo, &QPushButton::clicked, this, [this] { addGroupRow(ReportGroup{}); });
  connect(sbtExcluirGrupo, &QPushButton::clicked, this, [this] {
    if (grdGrupos->currentRow() >= 0) grdGrupos->removeRow(grdGrupos->currentRow());
  });
  connect(sbtSalvar, &QPushButton::clicked, this, [this] {
    guarded([this] {
      if (Save()) accept();
    });
  });
  connect(sbtCancelar, &QPushButton::clicked, this, &QDialog::reject);
  connect(sbtTestarConsulta, &QPushButton::clicked, this, [this] { guarded([this] { TestQuery(); }); });
  connect(lstCampos, &QListWidget::itemDoubleClicked, this,
          [this](QListWidgetItem* item) { guarded([this, item] { addFieldColumn(lstCampos->row(item)); }); });
}

QWidget* TReportDesigner::createTestPage() {
  tabTeste = new QWidget(pgcConsultas);
  tabTeste->setObjectName(QStringLiteral("tabTeste"));
  auto* page = new QVBoxLayout(tabTeste);
  lblErroTeste = new QLabel(tabTeste);
  lblErroTeste->setObjectName(QStringLiteral("lblErroTeste"));
  lblErroTeste->setWordWrap(true);
  lblErroTeste->setTextInteractionFlags(Qt::TextSelectableByMouse);
  lblErroTeste->setStyleSheet(QStringLiteral("color: #aa1e1e;"));
  lblErroTeste->hide();
  page->addWidget(lblErroTeste);
  lblLinhasTeste = new QLabel(tabTeste);
  lblLinhasTeste->setObjectName(QStringLiteral("lblLinhasTeste"));
  page->addWidget(lblLinhasTeste);

  auto* result = new QHBoxLayout;
  auto* fields = new QVBoxLayout;
  fields->addWidget(new QLabel(QStringLiteral("Campos (clique duplo inclui a coluna):"), tabTeste));
  lstCampos = new QListWidget(tabTeste);
  lstCampos->setObjectName(QStringLiteral("lstCampos"));
  fields->addWidget(lstCampos);
  result->addLayout(fields, 1);
  grdAmostra = grid(QStringLiteral("grdAmostra"), {}, tabTeste);
  grdAmostra->setEditTriggers(QAbstractItemView::NoEditTriggers);
  result->addWidget(grdAmostra, 3);
  page->addLayout(result, 1);
  return tabTeste;
}

// A tab page of a grid with its "Incluir" and "Excluir" buttons
// (sbtIncluir<what>, sbtExcluir<what>) below it.
QWidget* TReportDesigner::gridPage(const QString& gridName, const QStringList& headers, const QString& what,
                                   QTableWidget*& grd, QPushButton*& add, QPushButton*& remove) {
  auto* page = new QWidget(pgcConsultas);
  auto* box = new QVBoxLayout(page);
  grd = grid(gridName, headers, page);
  box->addWidget(grd);
  auto* buttons = new QHBoxLayout;
  add = button(QStringLiteral("sbtIncluir") + what, QStringLiteral("Incluir"), page);
  remove = button(QStringLiteral("sbtExcluir") + what, QStringLiteral("Excluir"), page);
  buttons->addWidget(add);
  buttons->addWidget(remove);
  buttons->addStretch(1);
  box->addLayout(buttons);
  return page;
}

QPlainTextEdit* TReportDesigner::queryEdit(DatabaseKind kind) const {
  switch (kind) {
    case DatabaseKind::Generic:
      return memConsultaGenerica;
    case DatabaseKind::Oracle:
      return memConsultaOracle;
    case DatabaseKind::SQLServer:
      return memConsultaSqlServer;
    case DatabaseKind::InterBase:
      return memConsultaInterbase;
  }
  return memConsultaGenerica;
}

void TReportDesigner::Load(const QString& path) {
  SetTemplate(readReportTemplate(path));
  path_ = path;
  setWindowTitle(QStringLiteral("Editar relatório - %1").arg(QFileInfo(path).fileName()));
}

int TReportDesigner::Execute(const QString& path) {
  Load(path);
  return exec();
}

int TReportDesigner::ExecuteNew(const QString& path, const ReportTemplate& report) {
  SetTemplate(report);
  path_ = path;
  setWindowTitle(QStringLiteral("Novo relatório - %1").arg(QFileInfo(path).fileName()));
  return exec();
}

void TReportDesigner::SetTemplate(const ReportTemplate& report) {
  edtTitulo->setText(report.title);
  cbbOrientacao->setCurrentIndex(cbbOrientacao->findData(int(report.orientation)));
  for (DatabaseKind kind :
       {DatabaseKind::Generic, DatabaseKind::Oracle, DatabaseKind::SQLServer, DatabaseKind::InterBase})
    queryEdit(kind)->setPlainText(report.queries.value(kind));
  grdParametros->setRowCount(0);
  for (const ReportParamText& p : report.parameters) addParamRow(p);
  grdGrupos->setRowCount(0);
  for (const ReportGroup& g : report.groups) addGroupRow(g);
  setColumns(report.columns);
  answers_ = report.answers;
  parameterSet_ = report.parameterSet;
  showTestResult(ReportProbe{});  // the last test was of another definition
  pgcConsultas->setCurrentIndex(0);
}

void TReportDesigner::addColumnRow(const ReportColumn& column) {
  const int row = grdColunas->rowCount();
  grdColunas->insertRow(row);
  grdColunas->setItem(row, ColCampo, new QTableWidgetItem(column.field));
  grdColunas->setItem(row, ColTitulo, new QTableWidgetItem(column.title));
  grdColunas->setItem(row, ColLargura, new QTableWidgetItem(QString::number(column.width)));
  grdColunas->setCellWidget(row, ColAlinhamento, choice(kAlignments, int(column.alignment), grdColunas));
  grdColunas->setCellWidget(row, ColTipo, choice(kTypes, int(column.type), grdColunas));
  grdColunas->setItem(row, ColFormato, new QTableWidgetItem(column.format));
  auto* total = new QTableWidgetItem;
  total->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsSelectable);
  total->setCheckState(column.total ? Qt::Checked : Qt::Unchecked);
  grdColunas->setItem(row, ColTotal, total);
  grdColunas->setItem(row, ColTotalPor, new QTableWidgetItem(column.totalBy));
  // unticked: left off the pages, kept in the spreadsheet exports
  auto* printed = new QTableWidgetItem;
  printed->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsSelectable);
  printed->setCheckState(column.printed ? Qt::Checked : Qt::Unchecked);
  printed->setToolTip(QStringLiteral("Desmarcada: a coluna fica fora das páginas e vai para as planilhas exportadas."));
  grdColunas->setItem(row, ColImpressa, printed);
}

void TReportDesigner::addGroupRow(const ReportGroup& group) {
  const int row = grdGrupos->rowCount();
  grdGrupos->insertRow(row);
  grdGrupos->setItem(row, GrpCampos, new QTableWidgetItem(group.fields.join(QStringLiteral(", "))));
  grdGrupos->setItem(row, GrpCabecalho, new QTableWidgetItem(group.header));
  grdGrupos->setItem(row, GrpRodape, new QTableWidgetItem(group.footer));
}

QList<ReportGroup> TReportDesigner::groups() const {
  QList<ReportGroup> out;
  for (int row = 0; row < grdGrupos->rowCount(); ++row) {
    ReportGroup g;
    for (const QString& field : cell(grdGrupos, row, GrpCampos).split(u',', Qt::SkipEmptyParts))
      g.fields << field.trimmed().toUpper();
    g.header = grdGrupos->item(row, GrpCabecalho) ? grdGrupos->item(row, GrpCabecalho)->text() : QString();
    g.footer = grdGrupos->item(row, GrpRodape) ? grdGrupos->item(row, GrpRodape)->text() : QString();
    if (g.fields.isEmpty() && g.header.isEmpty() && g.footer.isEmpty()) continue;  // a blank row left
    out << g;
  }
  return out;
}

void TReportDesigner::addParamRow(const ReportParamText& param) {
  const int row = grdParametros->rowCount();
  grdParametros->insertRow(row);
  grdParametros->setItem(row, ParNome, new QTableWidgetItem(param.name));
  grdParametros->setItem(row, ParDescricao, new QTableWidgetItem(param.label));
  grdParametros->setItem(row, ParVazio, new QTableWidgetItem(param.emptyText));
  grdParametros->setItem(row, ParValores, new QTableWidgetItem(valuesText(param.values)));
  grdParametros->setItem(row, ParConsultaNome, new QTableWidgetItem(param.nameQuery));
}

void TReportDesigner::setColumns(const QList<ReportColumn>& columns) {
  grdColunas->setRowCount(0);
  for (const ReportColumn& c : columns) addColumnRow(c);
}

QList<ReportColumn> TReportDesigner::columns() const {
  QList<ReportColumn> out;
  for (int row = 0; row < grdColunas->rowCount(); ++row) {
    ReportColumn c;
    c.field = cell(grdColunas, row, ColCampo).toUpper();
    c.title = grdColunas->item(row, ColTitulo) ? grdColunas->item(row, ColTitulo)->text() : QString();
    bool ok = false;
    c.width = cell(grdColunas, row, ColLargura).toInt(&ok);
    if (!ok || c.width <= 0)
      throw EHostError(
          QStringLiteral("Largura inválida na coluna %1: informe um número inteiro maior que zero.").arg(row + 1));
    c.alignment =
        Qt::Alignment(qobject_cast<QComboBox*>(grdColunas->cellWidget(row, ColAlinhamento))->currentData().toInt());
    c.type = ReportColumn::Type(qobject_cast<QComboBox*>(grdColunas->cellWidget(row, ColTipo))->currentData().toInt());
    c.format = cell(grdColunas, row, ColFormato);
    c.total = grdColunas->item(row, ColTotal)->checkState() == Qt::Checked;
    c.totalBy = cell(grdColunas, row, ColTotalPor).toUpper();
    c.printed = grdColunas->item(row, ColImpressa)->checkState() == Qt::Checked;
    out << c;
  }
  return out;
}

QList<ReportParamText> TReportDesigner::parameters() const {
  QList<ReportParamText> out;
  for (int row = 0; row < grdParametros->rowCount(); ++row) {
    ReportParamText p;
    p.name = cell(grdParametros, row, ParNome).toUpper();
    p.label = cell(grdParametros, row, ParDescricao);
    p.emptyText = cell(grdParametros, row, ParVazio);
    p.values = valuesOf(cell(grdParametros, row, ParValores), p.name);
    p.nameQuery =
        grdParametros->item(row, ParConsultaNome) ? grdParametros->item(row, ParConsultaNome)->text() : QString();
    if (p.name.isEmpty() && p.label.isEmpty()) continue;  // a blank row added and left
    out << p;
  }
  return out;
}

void TReportDesigner::moveColumn(int delta) {
  const int row = grdColunas->currentRow();
  const int target = row + delta;
  if (row < 0 || target < 0 || target >= grdColunas->rowCount()) return;
  QList<ReportColumn> list = columns();
  list.swapItemsAt(row, target);
  setColumns(list);
  grdColunas->setCurrentCell(target, ColCampo);
}

QMap<DatabaseKind, QString> TReportDesigner::queries() const {
  QMap<DatabaseKind, QString> texts;
  for (DatabaseKind kind :
       {DatabaseKind::Generic, DatabaseKind::Oracle, DatabaseKind::SQLServer, DatabaseKind::InterBase}) {
    const QString text = queryEdit(kind)->toPlainText();
    if (!text.trimmed().isEmpty()) texts.insert(kind, text);
  }
  return texts;
}

ReportTemplate TReportDesigner::Template() const {
  ReportTemplate report;
  report.title = edtTitulo->text().trimmed();
  report.orientation = QPageLayout::Orientation(cbbOrientacao->currentData().toInt());
  report.queries = queries();
  report.answers = answers_;
  report.parameterSet = parameterSet_;
  report.parameters = parameters();
  report.groups = groups();
  report.columns = columns();
  return report;
}

bool TReportDesigner::Save() {
  try {
    if (path_.isEmpty()) throw EHostError(QStringLiteral("Nenhum arquivo de definição de relatório aberto."));
    const ReportTemplate report = Template();
    // columns, groups and totals must name fields the query returns
    if (const Status fields = checkQueryFields(report, connection_); !fields.ok()) throw EHostError(fields.error());
    writeReportTemplate(path_, report);
    return true;
  } catch (const EHostError& e) {
    MensErro(e.message(), false);
    return false;
  }
}

void TReportDesigner::TestQuery() {
  // only the query texts: the columns may still be half made
  ReportTemplate report;
  report.title = edtTitulo->text().trimmed();
  report.queries = queries();
  ReportProbe probe;
  {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const auto restore = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
    probe = probeReportQuery(report, connection_, kSampleRows);
  }
  showTestResult(probe);
  pgcConsultas->setCurrentWidget(tabTeste);
}

void TReportDesigner::showTestResult(const ReportProbe& probe) {
  probe_ = probe;
  lblErroTeste->setText(probe.error);
  lblErroTeste->setVisible(!probe.error.isEmpty());
  lblLinhasTeste->setText(rowsText(probe));
  lstCampos->clear();
  lstCampos->addItems(probe.fields);
  grdAmostra->clear();
  grdAmostra->setColumnCount(int(probe.fields.size()));
  grdAmostra->setHorizontalHeaderLabels(probe.fields);
  grdAmostra->setRowCount(int(probe.rows.size()));
  for (int row = 0; row < grdAmostra->rowCount(); ++row)
    for (int col = 0; col < grdAmostra->columnCount(); ++col)
      grdAmostra->setItem(row, col, new QTableWidgetItem(probe.rows[row].value(col)));
}

void TReportDesigner::addFieldColumn(int field) {
  if (field < 0 || field >= probe_.fields.size()) return;
  addColumnRow(suggestedColumn(probe_, field));
  grdColunas->setCurrentCell(grdColunas->rowCount() - 1, ColTitulo);
}

}  // namespace reportkit
