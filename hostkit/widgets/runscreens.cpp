#include "runscreens.h"

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTableWidget>
#include <QVBoxLayout>

#include "filedialogs.h"
#include <hostkit/core/abort.h>
#include <hostkit/core/dataset.h>
#include <hostkit/core/routines.h>
#include <proto/contract_packets.h>

namespace hostkit {

namespace {

QString meaningOf(const RunListColumn& column, const QString& codes) {
  QStringList meanings;
  for (const QChar code : codes)
    for (const auto& [letter, meaning] : column.letters)
      if (letter == code) meanings << meaning;
  return meanings.join(QStringLiteral(" e "));
}

QString cellText(const TDataSet& rows, const RunListColumn& column, int row) {
  const TField* field = rows.FindField(column.field);
  if (!field || field->isNullAt(row)) return {};
  if (!column.letters.isEmpty()) return meaningOf(column, field->textAt(row).trimmed());
  if (column.decimals < 0) return field->textAt(row).trimmed();
  return productLocale().toString(field->valueAt(row).toDouble(), 'f', column.decimals);
}

// A spreadsheet cell: quoted when it holds the separator, a quote or a line break.
QString quoted(const QString& text, QChar separator) {
  if (!text.contains(separator) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\n'))) return text;
  return QLatin1Char('"') + QString(text).replace(QLatin1String("\""), QLatin1String("\"\"")) + QLatin1Char('"');
}

QTableWidget* table(QWidget* parent, const TDataSet& rows, const QList<RunListColumn>& columns) {
  auto* grid = new QTableWidget(rows.RecordCount(), int(columns.size()), parent);
  grid->setObjectName(QStringLiteral("grdDados"));
  grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid->verticalHeader()->hide();
  grid->horizontalHeader()->setStretchLastSection(false);
  for (int c = 0; c < columns.size(); ++c) {
    grid->setHorizontalHeaderItem(c, new QTableWidgetItem(columns[c].title));
    for (int r = 0; r < rows.RecordCount(); ++r) {
      auto* item = new QTableWidgetItem(cellText(rows, columns[c], r));
      if (columns[c].decimals >= 0) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      grid->setItem(r, c, item);
    }
  }
  grid->resizeColumnsToContents();
  return grid;
}

// Wide enough for every column, tall enough for up to fifteen rows, within the screen.
void sizeToContent(QDialog& dialog, QTableWidget* grid) {
  int width = grid->verticalScrollBar()->sizeHint().width() + 2 * grid->frameWidth();
  for (int c = 0; c < grid->columnCount(); ++c) width += grid->columnWidth(c);
  const int visibleRows = qBound(3, grid->rowCount(), 15);
  const int height = grid->horizontalHeader()->sizeHint().height() +
                     visibleRows * grid->verticalHeader()->defaultSectionSize() + 2 * grid->frameWidth();
  grid->setMinimumSize(qMax(width, 360), height);
  dialog.adjustSize();
  if (const QScreen* screen = dialog.screen()) {
    const QSize room = screen->availableSize() * 9 / 10;
    dialog.resize(dialog.size().boundedTo(room));
  }
}

void saveAsSpreadsheet(QWidget* parent, const TDataSet& rows, const RunListScreen& screen) {
  const QString path = askSaveFileName(parent, QStringLiteral("Salvar planilha"), screen.title + QStringLiteral(".csv"),
                                       QStringLiteral("Planilha CSV (*.csv)"));
  if (path.isEmpty()) return;
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
    throw EHostError(QStringLiteral("Não foi possível gravar '%1': %2.").arg(path, file.errorString()));
  // with the byte-order mark: spreadsheets then read the accents as UTF-8
  file.write("\xEF\xBB\xBF");
  file.write(runListText(rows, screen.columns, QLatin1Char(';')).toUtf8());
}

QPushButton* button(QWidget* parent, const char* name, const QString& text) {
  auto* b = new QPushButton(text, parent);
  b->setObjectName(QString::fromLatin1(name));
  b->setAutoDefault(false);
  return b;
}

}  // namespace

RunListScreen irregularStockScreen(const QString& postingNumber) {
  const bool posted = !postingNumber.isEmpty() && postingNumber != QLatin1String("0");
  RunListScreen s;
  s.datasetName = QStringLiteral("cdsIrregEst");
  s.dialogName = QStringLiteral("dlgLancIrreg");
  s.title = QStringLiteral("Lançamentos com Estoque Irregular");
  s.heading = posted ? QStringLiteral(
                           "As vendas foram lançadas no estoque (lançamento %1), mas estes produtos ficaram "
                           "com o saldo negativo. Confira o estoque deles.")
                           .arg(postingNumber)
                     : QStringLiteral(
                           "Nada foi lançado no estoque: a baixa destes produtos deixaria o saldo "
                           "negativo. Acerte o estoque deles e consolide de novo.");
  s.columns = {{QStringLiteral("CdObjeto"), QStringLiteral("Filial")},
               {QStringLiteral("CdObjeto2"), QStringLiteral("Produto")},
               {QStringLiteral("CdObjeto3"), QStringLiteral("Almoxarifado")},
               {QStringLiteral("CdObjeto4"), QStringLiteral("Local de estoque")},
               {QStringLiteral("CdObjeto5"), posted ? QStringLiteral("Saldo antes") : QStringLiteral("Saldo atual"), 3},
               {QStringLiteral("QtLancEstq"), QStringLiteral("Baixa das vendas"), 3},
               {QStringLiteral("QtSaldoFinal"),
                posted ? QStringLiteral("Saldo depois") : QStringLiteral("Saldo que ficaria"), 3}};
  return s;
}

RunListScreen blockedProductsScreen() {
  RunListScreen s;
  s.datasetName = QStringLiteral("cdsBloqConsolida");
  s.dialogName = QStringLiteral("dlgBloqConsolida");
  s.title = QStringLiteral("Produtos Bloqueados para Consolidação");
  s.heading = QStringLiteral(
      "Nada foi lançado no estoque: estes produtos estão inativos ou não estão cadastrados "
      "na filial (veja o motivo de cada um). Ative-os ou cadastre-os e consolide de novo.");
  s.columns = {{QStringLiteral("CdObjeto"), QStringLiteral("Filial")},
               {QStringLiteral("CdObjeto2"), QStringLiteral("Produto")},
               {QStringLiteral("IdMotivoBloq"),
                QStringLiteral("Motivo"),
                -1,
                {{QLatin1Char(qfx::contract::kBlockedUnknown), QStringLiteral("não cadastrado")},
                 {QLatin1Char(qfx::contract::kBlockedInactive), QStringLiteral("inativo")},
                 {QLatin1Char(qfx::contract::kBlockedNotInBranch), QStringLiteral("não cadastrado para a filial")}}}};
  return s;
}

QString runListText(const TDataSet& rows, const QList<RunListColumn>& columns, QChar separator) {
  QStringList lines;
  QStringList cells;
  for (const RunListColumn& c : columns) cells << quoted(c.title, separator);
  lines << cells.join(separator);
  for (int r = 0; r < rows.RecordCount(); ++r) {
    cells.clear();
    for (const RunListColumn& c : columns) cells << quoted(cellText(rows, c, r), separator);
    lines << cells.join(separator);
  }
  return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

void showRunList(QWidget* owner, QWidget* parent, const RunListScreen& screen) {
  const TDataSet* rows = owner ? owner->findChild<TDataSet*>(screen.datasetName) : nullptr;
  if (!rows) throw EHostError(QStringLiteral("Conjunto de dados '%1' não encontrado na tela.").arg(screen.datasetName));
  QDialog dialog(parent);
  dialog.setObjectName(screen.dialogName);
  dialog.setWindowTitle(screen.title);
  auto* layout = new QVBoxLayout(&dialog);
  auto* heading = new QLabel(screen.heading, &dialog);
  heading->setObjectName(QStringLiteral("lblTitulo"));
  heading->setWordWrap(true);
  layout->addWidget(heading);
  QTableWidget* grid = table(&dialog, *rows, screen.columns);
  layout->addWidget(grid, 1);

  auto* buttons = new QHBoxLayout;
  auto* copy = button(&dialog, "btnCopiar", QStringLiteral("&Copiar"));
  copy->setToolTip(QStringLiteral("Copia a lista para colar numa planilha"));
  auto* save = button(&dialog, "btnSalvar", QStringLiteral("&Salvar planilha..."));
  auto* close = button(&dialog, "btnFechar", QStringLiteral("&Fechar"));
  close->setDefault(true);
  buttons->addWidget(copy);
  buttons->addWidget(save);
  buttons->addStretch(1);
  buttons->addWidget(close);
  layout->addLayout(buttons);
  QObject::connect(copy, &QPushButton::clicked, &dialog, [rows, &screen] {
    QApplication::clipboard()->setText(runListText(*rows, screen.columns, QLatin1Char('\t')));
  });
  QObject::connect(save, &QPushButton::clicked, &dialog,
                   [&dialog, rows, &screen] { guarded([&] { saveAsSpreadsheet(&dialog, *rows, screen); }); });
  QObject::connect(close, &QPushButton::clicked, &dialog, &QDialog::accept);
  sizeToContent(dialog, grid);
  dialog.exec();
}

}  // namespace hostkit
