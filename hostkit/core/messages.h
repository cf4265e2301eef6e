// Message catalogues: every text a screen shows comes from one, by key.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include "hostservices.h"

namespace hostkit {

class TMessages : public QObject {
  Q_OBJECT
 public:
  explicit TMessages(QObject* parent = nullptr, const QString& name = QStringLiteral("msgPadrao"));

  // Entries are "key|text": the key is everything before the first "|", the
  // text everything after it, blanks kept exactly.
  void setEntries(const QStringList& entries);
  const QStringList& entries() const { return entries_; }
  bool contains(const QString& key) const;

  // The text of the key. A key missing from the catalogue gives
  // "Mensagem não cadastrada: <key>" so the gap is visible, never a crash.
  QString Msg(const QString& key) const;
  // The text with each "%s" filled in order by the arguments.
  QString Msg(const QString& key, const QStringList& args) const;
  int ShowMsg(const QString& key, MsgDlgType type, MsgDlgButtons buttons, int helpContext) const;

 private:
  QStringList entries_;
};

// Fills each "%s" of `format` in order with the next argument.
QString formatMessage(const QString& format, const QStringList& args);

// The catalogue key that Msg last returned `text` for (empty when none);
// lets recorded messages name their key.
QString keyForText(const QString& text);

}  // namespace hostkit
