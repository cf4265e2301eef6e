#include "filedialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QIdentityProxyModel>
#include <QStandardPaths>

#include <hostkit/core/routines.h>

namespace hostkit {

namespace {

// The file list's size, type and date columns in the product's language:
// Qt's file model writes sizes and dates in the machine's own locale.
class ProductLocaleFiles : public QIdentityProxyModel {
 public:
  using QIdentityProxyModel::QIdentityProxyModel;

  QVariant data(const QModelIndex& index, int role) const override {
    const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
    if (role != Qt::DisplayRole || !files || !index.isValid()) return QIdentityProxyModel::data(index, role);
    const QModelIndex file = mapToSource(index);
    switch (index.column()) {
      case kSizeColumn:
        return files->isDir(file) ? QString() : productLocale().formattedDataSize(files->size(file));
      case kTypeColumn: {  // Qt's own words here are not in its Portuguese catalogue
        if (files->isDir(file)) return QStringLiteral("Pasta");
        const QString suffix = files->fileInfo(file).suffix();
        return suffix.isEmpty() ? QStringLiteral("Arquivo") : QStringLiteral("Arquivo %1").arg(suffix.toUpper());
      }
      case kDateColumn:
        return productLocale().toString(files->lastModified(file), QStringLiteral("dd/MM/yyyy HH:mm"));
      default:
        return QIdentityProxyModel::data(index, role);
    }
  }

 private:
  // QFileSystemModel's columns: name, size, type, date modified
  static constexpr int kSizeColumn = 1;
  static constexpr int kTypeColumn = 2;
  static constexpr int kDateColumn = 3;
};

}  // namespace

QString documentsFolder() {
  const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  if (!documents.isEmpty() && QDir(documents).exists()) return documents;
  return QDir::homePath();
}

QString askSaveFileName(QWidget* parent, const QString& caption, const QString& fileName, const QString& filter) {
  QFileDialog dialog(parent, caption, documentsFolder());
  dialog.setObjectName(QStringLiteral("dlgSalvarArquivo"));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilter(filter);
  dialog.setProxyModel(new ProductLocaleFiles(&dialog));
  dialog.resize(760, 480);      // the date column whole
  dialog.selectFile(fileName);  // in the folder it opens in
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.selectedFiles().value(0);
}

}  // namespace hostkit
