#include "messages.h"

#include <QHash>
#include <QMutex>

namespace hostkit {

namespace {
struct KeyRegistry {
  QMutex mutex;
  QHash<QString, QString> keyOfText;
};
KeyRegistry& registry() {
  static KeyRegistry r;
  return r;
}
void remember(const QString& key, const QString& text) {
  QMutexLocker lock(&registry().mutex);
  registry().keyOfText.insert(text, key);
}
}  // namespace

QString keyForText(const QString& text) {
  QMutexLocker lock(&registry().mutex);
  return registry().keyOfText.value(text);
}

TMessages::TMessages(QObject* parent, const QString& name) : QObject(parent) { setObjectName(name); }

void TMessages::setEntries(const QStringList& entries) { entries_ = entries; }

static QStringView keyOf(const QString& entry) {
  const auto bar = entry.indexOf(u'|');
  return bar < 0 ? QStringView(entry) : QStringView(entry).left(bar);
}

bool TMessages::contains(const QString& key) const {
  for (const auto& e : entries_)
    if (keyOf(e) == key) return true;
  return false;
}

QString TMessages::Msg(const QString& key) const {
  for (const auto& e : entries_) {
    if (keyOf(e) != key) continue;
    const auto bar = e.indexOf(u'|');
    const QString text = bar < 0 ? QString() : e.mid(bar + 1);
    remember(key, text);
    return text;
  }
  return QStringLiteral("Mensagem não cadastrada: %1").arg(key);
}

QString TMessages::Msg(const QString& key, const QStringList& args) const {
  const QString text = formatMessage(Msg(key), args);
  remember(key, text);
  return text;
}

int TMessages::ShowMsg(const QString& key, MsgDlgType type, MsgDlgButtons buttons, int helpContext) const {
  return MessageDlg(Msg(key), type, buttons, helpContext);
}

QString formatMessage(const QString& format, const QStringList& args) {
  QString out;
  int next = 0;
  for (qsizetype i = 0; i < format.size(); ++i) {
    if (format[i] == u'%' && i + 1 < format.size() && format[i + 1] == u's') {
      out += next < args.size() ? args[next] : QString();
      ++next;
      ++i;
    } else {
      out += format[i];
    }
  }
  return out;
}

}  // namespace hostkit
