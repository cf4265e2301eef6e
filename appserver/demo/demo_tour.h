// The demo's tour: one case of every outcome of a consolidation, planted in
// the demo data on purpose. This table is the tour's one source: qfxdemo
// prints it with the dates of the demo it made, and the build writes the
// manual's page "Roteiro da demonstração" from it, with the days counted
// from the demo's reference date D.
#pragma once

#include <QDate>
#include <string>
#include <vector>

namespace qfx::server::demo {

// One stop of the tour: what the operator enters (branch, store, withdrawal
// type and sector on the screen, the period and anything else in the filter
// dialog) and what the consolidation then shows.
struct TourStop {
  std::string outcome;  // the message key the run ends with (or shows first)
  std::string shown;    // the outcome as the operator knows it: the message's code, or in words
  std::string page;     // the manual's page (and place) that tells about it
  std::string branch, store, withdrawalType, sector;
  QDate first, last;
  std::string period;  // the same period counted from D ("D−29 a D−8")
  std::string filter;  // more to choose in the filter dialog, or empty
  std::string sees;    // what the operator sees, in words, with real dates
};

// The tour of a demo made for `today`, in the order it is walked: the
// refusals on the centre's month first (they leave the data as it was),
// then the runs that post it.
std::vector<TourStop> tour(const QDate& today);

// The tour as qfxdemo prints it: numbered stops with the demo's real dates.
// Its first line begins with "roteiro", where scripts/run.sh finds it.
std::string tourText(const QDate& today);

// The manual's page of the tour (HTML), every day counted from D.
std::string tourPage();

}  // namespace qfx::server::demo
