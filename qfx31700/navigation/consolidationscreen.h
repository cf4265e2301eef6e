// What the filter dialog and the report screen ask of the consolidation
// screen, as intents: they never reach into its widgets or datasets, and
// nothing of theirs depends on how the screen is built.
#pragma once

#include <QString>

#include <qfx31700/remote/rdmgeranf.h>

namespace hostkit {
class TMessages;
}

namespace qfx {

class ConsolidationScreen {
 public:
  virtual ~ConsolidationScreen() = default;

  // The codes of the entry panel, as typed.
  virtual QString branch() const = 0;
  virtual QString store() const = 0;
  virtual QString withdrawalType() const = 0;
  // The branch consolidates its sales without choosing products.
  virtual bool consolidatesWithoutProducts() const = 0;
  // The screen's messages, whose texts the dialogs share.
  virtual hostkit::TMessages* messages() const = 0;
  // The calls on the application server, on the screen's connection.
  virtual RdmGeraNF& rdm() = 0;
  // Loads the sales of the current filter; the consolidation is offered
  // when the list holds items.
  virtual void reloadSales() = 0;
  // Another screen changed the postings (a run reversed): a list on show is
  // loaded again, so its items show pending.
  virtual void salesChangedElsewhere() = 0;
};

// The open consolidation screen; null when there is none.
ConsolidationScreen* consolidationScreen();

}  // namespace qfx
