#include "readonlysql.h"

#include <QSet>
#include <optional>

namespace reportkit {

using hostkit::Result;
using hostkit::Status;
using hostkit::success;

namespace {

bool isWordStart(QChar c) { return c.isLetter() || c == u'_'; }
bool isWordPart(QChar c) { return c.isLetterOrNumber() || c == u'_' || c == u'$'; }

// Walks a SQL text once, collecting its words. SQLite and PostgreSQL read
// the same text; where they would split it differently (a comment inside a
// comment, $$ text, a backslash-quote in E'...', a quote inside [...]) the
// text is refused rather than guessed at.
struct SqlWords {
  QStringList words;
  std::optional<QString> error;
};

class SqlScanner {
 public:
  explicit SqlScanner(const QString& sql) : sql_(sql) {}

  SqlWords scan() {
    while (i_ < sql_.size() && !out_.error) step();
    return out_;
  }

 private:
  QChar at(qsizetype k) const { return k < sql_.size() ? sql_[k] : QChar(); }
  void fail(const QString& why) { out_.error = why; }

  void step() {
    const QChar c = sql_[i_];
    if (c == u'-' && at(i_ + 1) == u'-') return skipLineComment();
    if (c == u'/' && at(i_ + 1) == u'*') return skipBlockComment();
    if (c == u'\'') return skipString(isEscapeStringPrefix());
    if (c == u'"' || c == u'`') return skipQuoted(c, c);
    if (c == u'[') return skipBracketName();
    if (c == u'$' && startsDollarQuote()) return fail(QStringLiteral("usa texto entre $...$; use aspas simples"));
    if (c == u';') {
      out_.words << QStringLiteral(";");
      ++i_;
      return;
    }
    if (isWordStart(c)) return readWord();
    if (c.isDigit()) return skipNumber();
    ++i_;
  }

  void skipLineComment() {
    const qsizetype end = sql_.indexOf(u'\n', i_);
    i_ = end < 0 ? sql_.size() : end + 1;
  }

  // PostgreSQL nests block comments and SQLite does not: a comment that
  // opens another inside itself would end in different places.
  void skipBlockComment() {
    const qsizetype end = sql_.indexOf(QStringLiteral("*/"), i_ + 2);
    if (end < 0) return fail(QStringLiteral("tem um comentário /* que não termina"));
    const qsizetype inner = sql_.indexOf(QStringLiteral("/*"), i_ + 2);
    if (inner >= 0 && inner < end) return fail(QStringLiteral("tem um comentário dentro de outro comentário"));
    i_ = end + 2;
  }

  // E'...' (PostgreSQL) reads backslash escapes; a plain string does not.
  bool isEscapeStringPrefix() const {
    if (i_ == 0 || (sql_[i_ - 1] != u'E' && sql_[i_ - 1] != u'e')) return false;
    return i_ == 1 || !isWordPart(sql_[i_ - 2]);
  }

  void skipString(bool backslashEscapes) {
    for (qsizetype k = i_ + 1; k < sql_.size(); ++k) {
      if (backslashEscapes && sql_[k] == u'\\') {
        if (at(k + 1) == u'\'')
          return fail(QStringLiteral("usa \\' dentro de um texto E'...'; escreva a aspa como ''"));
        ++k;
        continue;
      }
      if (sql_[k] != u'\'') continue;
      if (at(k + 1) == u'\'') {
        ++k;
        continue;
      }
      i_ = k + 1;
      return;
    }
    fail(QStringLiteral("tem um texto entre aspas que não termina"));
  }

  // "name" and `name`: a doubled closing mark stands for itself.
  void skipQuoted(QChar open, QChar close) {
    for (qsizetype k = i_ + 1; k < sql_.size(); ++k) {
      if (sql_[k] != close) continue;
      if (at(k + 1) == close && close == open) {
        ++k;
        continue;
      }
      i_ = k + 1;
      return;
    }
    fail(QStringLiteral("tem um nome entre %1%2 que não termina").arg(open, close));
  }

  // SQLite's [name]; on PostgreSQL the brackets hold an array subscript,
  // which a quote inside would read another way.
  void skipBracketName() {
    const qsizetype end = sql_.indexOf(u']', i_ + 1);
    if (end < 0) return fail(QStringLiteral("tem um [ que não fecha"));
    const QStringView inside = QStringView(sql_).mid(i_ + 1, end - i_ - 1);
    if (inside.contains(u'\'') || inside.contains(u'"')) return fail(QStringLiteral("tem aspas dentro de [...]"));
    i_ = end + 1;
  }

  // "$$" or "$tag$" opens PostgreSQL's dollar-quoted text; "$1" and SQLite's
  // "$name" parameters do not.
  bool startsDollarQuote() const {
    if (i_ > 0 && isWordPart(sql_[i_ - 1])) return false;
    qsizetype k = i_ + 1;
    if (at(k) == u'$') return true;
    if (!isWordStart(at(k))) return false;
    while (k < sql_.size() && (sql_[k].isLetterOrNumber() || sql_[k] == u'_')) ++k;
    return at(k) == u'$';
  }

  void readWord() {
    qsizetype k = i_;
    while (k < sql_.size() && isWordPart(sql_[k])) ++k;
    out_.words << sql_.mid(i_, k - i_).toUpper();
    i_ = k;
  }

  // Digits and a decimal point; letters after them start a word of their own.
  void skipNumber() {
    while (i_ < sql_.size() && (sql_[i_].isDigit() || sql_[i_] == u'.')) ++i_;
  }

  const QString& sql_;
  qsizetype i_ = 0;
  SqlWords out_;
};

// Statements and clauses that change data, the schema, the connection or
// the transaction; none belongs in a query that only reads.
const QSet<QString>& dataChangingWords() {
  static const QSet<QString> words = {QStringLiteral("INSERT"), QStringLiteral("UPDATE"), QStringLiteral("DELETE"),
                                      QStringLiteral("MERGE"),  QStringLiteral("UPSERT"), QStringLiteral("TRUNCATE")};
  return words;
}

const QSet<QString>& commandWords() {
  static const QSet<QString> words = {
      QStringLiteral("ATTACH"),  QStringLiteral("DETACH"),     QStringLiteral("PRAGMA"),     QStringLiteral("DROP"),
      QStringLiteral("CREATE"),  QStringLiteral("ALTER"),      QStringLiteral("VACUUM"),     QStringLiteral("REINDEX"),
      QStringLiteral("COPY"),    QStringLiteral("CALL"),       QStringLiteral("DO"),         QStringLiteral("SET"),
      QStringLiteral("LOCK"),    QStringLiteral("GRANT"),      QStringLiteral("REVOKE"),     QStringLiteral("BEGIN"),
      QStringLiteral("COMMIT"),  QStringLiteral("ROLLBACK"),   QStringLiteral("SAVEPOINT"),  QStringLiteral("EXECUTE"),
      QStringLiteral("PREPARE"), QStringLiteral("DEALLOCATE"), QStringLiteral("LISTEN"),     QStringLiteral("NOTIFY"),
      QStringLiteral("REFRESH"), QStringLiteral("CLUSTER"),    QStringLiteral("SET_CONFIG"), QStringLiteral("NEXTVAL"),
      QStringLiteral("SETVAL")};
  return words;
}

bool isRowLock(const QStringList& words, qsizetype k) {
  static const QSet<QString> after = {QStringLiteral("UPDATE"), QStringLiteral("SHARE"), QStringLiteral("NO"),
                                      QStringLiteral("KEY")};
  return words[k] == QLatin1String("FOR") && k + 1 < words.size() && after.contains(words[k + 1]);
}

Status checkWord(const QStringList& words, qsizetype k) {
  const QString& word = words[k];
  if (isRowLock(words, k)) return Status::failure(QStringLiteral("trava linhas (FOR UPDATE/FOR SHARE)"));
  if (dataChangingWords().contains(word)) return Status::failure(QStringLiteral("usa %1, que altera dados").arg(word));
  if (word == QLatin1String("INTO"))
    return Status::failure(QStringLiteral("usa INTO, que grava o resultado numa tabela"));
  if (commandWords().contains(word))
    return Status::failure(QStringLiteral("usa %1, que não é uma leitura de dados").arg(word));
  return success();
}

}  // namespace

Result<QStringList> sqlWordsOf(const QString& sql) {
  SqlWords scanned = SqlScanner(sql).scan();
  if (scanned.error) return Result<QStringList>::failure(*scanned.error);
  return std::move(scanned.words);
}

Status checkReadOnlySql(const QString& sql) {
  const Result<QStringList> scanned = sqlWordsOf(sql);
  if (!scanned.ok()) return Status::failure(scanned.error());
  QStringList words = *scanned;
  // one statement: separators only at the end
  const qsizetype separator = words.indexOf(QStringLiteral(";"));
  if (separator >= 0) {
    for (qsizetype k = separator; k < words.size(); ++k)
      if (words[k] != QLatin1String(";"))
        return Status::failure(QStringLiteral("tem mais de um comando (há outro depois do ';')"));
    words.resize(separator);
  }
  if (words.isEmpty()) return Status::failure(QStringLiteral("está vazia"));
  if (words.first() != QLatin1String("SELECT") && words.first() != QLatin1String("WITH"))
    return Status::failure(QStringLiteral("não começa com SELECT nem com WITH (começa com %1)").arg(words.first()));
  for (qsizetype k = 0; k < words.size(); ++k)
    if (Status word = checkWord(words, k); !word.ok()) return word;
  return success();
}

}  // namespace reportkit
