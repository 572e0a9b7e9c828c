#pragma once

#include <QByteArrayView>
#include <QString>
#include <QVariantList>

struct sqlite3;
struct sqlite3_stmt;

namespace dfe58000 {

// A read-only connection of SQLite's own interface to the store's file, for the note query.
// The Qt driver turns every text into a QString (UTF-16) inside a QVariant; packets carry UTF-8,
// which is what SQLite keeps, so reading the bytes as they are saves both conversions on an
// answer of tens of thousands of notes. One statement at a time, on one thread.
class SqliteRows {
  public:
    // Opens the database file; host::EDatabaseError when it cannot.
    explicit SqliteRows(const QString& path);
    ~SqliteRows();
    SqliteRows(const SqliteRows&) = delete;
    SqliteRows& operator=(const SqliteRows&) = delete;

    // Runs a statement (the last one is kept prepared while the SQL stays the same) with its
    // values bound in order: null, integers, floating point, anything else as text.
    void exec(const QString& sql, const QVariantList& binds);
    // Moves to the next row; false when there are no more (the statement is then finished).
    bool next();
    bool isNull(int column) const;
    // Valid until the next call of next().
    QByteArrayView text(int column) const;
    // The text of a column as text() gives it, or false for null: one call to SQLite for the
    // common case where isNull() and text() make two.
    bool textUnlessNull(int column, QByteArrayView& out) const;
    double real(int column) const;
    // Ends the statement early, releasing the read transaction it holds.
    void finish();

  private:
    [[noreturn]] void fail(const QString& what) const;

    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_stmt = nullptr;
    QString m_sql;
    bool m_active = false;
};

}  // namespace dfe58000
