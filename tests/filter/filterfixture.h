// What every filter dialog test stands on: scripted host services, a
// recording application server on loopback, a small SQLite lookup database,
// the real consolidation screen (not shown) with its branch and store
// entries filled, and the filter dialog as the module keeps it.
#pragma once

#include <gtest/gtest.h>

#include <QDate>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <ostream>

#include "scripted_server.h"
#include "scriptedhostservices.h"
#include "testhelpers.h"
#include <qfx31700/consolidation/frmgeranf.h>
#include <qfx31700/filter/frmfiltrogeranf.h>
#include <qfx31700/navigation/modulestate.h>

namespace qfxtest {

// The fields a reply must carry for the dataset (calculated ones left out).
std::vector<qfx::packet::FieldDef> fieldDefsOf(const hostkit::TDataSet& dataset);
// A packet of those fields with `rows` rows of empty values.
qfx::packet::Packet emptyRows(std::vector<qfx::packet::FieldDef> defs, int rows);

// The lookup tables the dialog queries, with a few rows each.
void createLookupDatabase(const QString& file);

class FilterTest : public ::testing::Test {
 public:
  // The filter as the consolidation screen's first activation leaves it.
  static qfx::TFiltro defaultFilter();

 protected:
  void SetUp() override;
  void TearDown() override;

  qfx::TfrmFiltroGeraNF& dlg() { return *dialog; }
  qfx::TfrmGeraNF& tela() { return *screen; }

  // Sets the sales parameter that decides whether products can be chosen.
  void setGeraNFVenProd(const QString& value);
  // Shows the dialog (its activation runs) as the active window.
  void open();
  // Closes it the way the operator does, by cancelling.
  void cancel();
  // Presses "Confirmar"; true when the dialog closed.
  bool confirm();
  // The operator leaves `from` for `to` (exit checks run).
  void moveFocus(QWidget* from, QWidget* to);
  // The objectName of the widget holding the focus (empty: none).
  QString focusName() const;
  // GetPrincipal replies with `rows` sale items from now on.
  void replyPrincipalRows(int rows);

  std::shared_ptr<hostkit::ScriptedHostServices> host;
  ScriptedServer server;
  QTemporaryDir folder;
  QPointer<qfx::TfrmGeraNF> screen;
  QPointer<qfx::TfrmFiltroGeraNF> dialog;
};

}  // namespace qfxtest
