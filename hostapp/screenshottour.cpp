#include "screenshottour.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDate>
#include <QDebug>
#include <QDir>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTimer>
#include <cstdio>

#include "mainwindow.h"

namespace qfxhost {

ScreenshotTour::ScreenshotTour(MainWindow& window, const QString& folder) : window_(window), folder_(folder) {
  QDir().mkpath(folder_);
  QTimer::singleShot(500, this, &ScreenshotTour::openScreen);
}

QWidget* ScreenshotTour::screen() const {
  QMdiSubWindow* sub = window_.mdiArea()->activeSubWindow();
  if (!sub && !window_.mdiArea()->subWindowList().isEmpty()) sub = window_.mdiArea()->subWindowList().first();
  return sub ? sub->widget() : nullptr;
}

void ScreenshotTour::save(QWidget* widget, const QString& name) {
  const QString path = QDir(folder_).filePath(name);
  if (widget && widget->grab().save(path)) {
    std::printf("captura: %s\n", qPrintable(path));
  } else {
    std::fprintf(stderr, "não foi possível salvar %s\n", qPrintable(path));
    ++failures_;
  }
  std::fflush(stdout);
}

void ScreenshotTour::whenModalOpens(QWidget* previous, const std::function<void(QWidget*)>& action, int attempts) {
  QTimer::singleShot(150, this, [=, this] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal && modal != previous && modal->isVisible()) {
      QTimer::singleShot(400, this, [=] { action(modal); });
      return;
    }
    if (attempts > 0) {
      whenModalOpens(previous, action, attempts - 1);
    } else {
      std::fprintf(stderr, "a janela esperada não abriu\n");
      ++failures_;
      finish();
    }
  });
}

void ScreenshotTour::openScreen() {
  // without a window manager (Xvfb) nobody activates the window: focus
  // moves, and so the entry panel's checks, need an active window
  window_.activateWindow();
  QApplication::setActiveWindow(&window_);
  window_.openConsolidacao();
  QTimer::singleShot(1000, this, [this] {
    save(&window_, QStringLiteral("01-consolidacao.png"));
    leavePanel();
  });
}

void ScreenshotTour::leavePanel() {
  QWidget* s = screen();
  auto* grid = s ? s->findChild<QWidget*>(QStringLiteral("dbgPadrao")) : nullptr;
  if (!grid) {
    ++failures_;
    return finish();
  }
  // as the operator does: click into the panel, then leave it for the grid,
  // which checks the entries and opens the filter
  if (auto* filial = s->findChild<QWidget*>(QStringLiteral("medCdLoja"))) filial->setFocus();
  QTimer::singleShot(300, this, [this, grid] {
    whenModalOpens(nullptr, [this](QWidget* dialog) { confirmFilter(dialog); });
    grid->setFocus();
  });
}

void ScreenshotTour::confirmFilter(QWidget* dialog) {
  if (auto* inicial = dialog->findChild<QLineEdit*>(QStringLiteral("depInicial"))) {
    inicial->setFocus();
    inicial->setText(QDate::currentDate().addDays(-30).toString(QStringLiteral("dd/MM/yyyy")));
  }
  save(dialog, QStringLiteral("02-filtro.png"));
  if (auto* confirma = dialog->findChild<QAbstractButton*>(QStringLiteral("sbtConfirma"))) confirma->click();
  QTimer::singleShot(1500, this, [this] {
    if (QWidget* modal = QApplication::activeModalWidget()) modal->close();  // a check refused: go on anyway
    save(&window_, QStringLiteral("03-vendas.png"));
    openReport();
  });
}

void ScreenshotTour::openReport() {
  QWidget* s = screen();
  auto* print = s ? s->findChild<QAbstractButton*>(QStringLiteral("sbtImprimir")) : nullptr;
  if (!print) return finish();
  whenModalOpens(nullptr, [this](QWidget* dialog) { previewReport(dialog); });
  print->click();
}

void ScreenshotTour::previewReport(QWidget* dialog) {
  if (auto* de = dialog->findChild<QLineEdit*>(QStringLiteral("depDePeriodo")))
    de->setText(QDate::currentDate().addDays(-30).toString(QStringLiteral("dd/MM/yyyy")));
  if (auto* ate = dialog->findChild<QLineEdit*>(QStringLiteral("depAtePeriodo")))
    ate->setText(QDate::currentDate().toString(QStringLiteral("dd/MM/yyyy")));
  save(dialog, QStringLiteral("04-relatorio.png"));
  auto* preview = dialog->findChild<QAbstractButton*>(QStringLiteral("sbtPreview"));
  if (!preview) {
    dialog->close();
    return finish();
  }
  whenModalOpens(dialog, [this, dialog](QWidget* previewWindow) { savePreview(previewWindow, dialog); });
  preview->click();
}

// The preview once its report is whole: it opens at the first page, before
// the count of pages is known.
void ScreenshotTour::savePreview(QWidget* previewWindow, QWidget* dialog) {
  const auto* print = previewWindow->findChild<QAction*>(QStringLiteral("actImprimir"));
  if (print && !print->isEnabled()) {
    QTimer::singleShot(100, this, [this, window = QPointer<QWidget>(previewWindow), dialog] {
      if (window) savePreview(window, dialog);
    });
    return;
  }
  save(previewWindow, QStringLiteral("05-previa.png"));
  previewWindow->close();
  QTimer::singleShot(300, this, [this, dialog] {
    while (QWidget* modal = QApplication::activeModalWidget()) {
      modal->close();
      if (modal == dialog) break;
    }
    finish();
  });
}

void ScreenshotTour::finish() {
  QTimer::singleShot(200, this, [this] {
    while (QWidget* modal = QApplication::activeModalWidget()) modal->close();
    std::printf("capturas em %s\n", qPrintable(QDir(folder_).absolutePath()));
    std::fflush(stdout);
    window_.close();
    QApplication::quit();
  });
}

}  // namespace qfxhost
