#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

#include "core/hosterror.h"

namespace host {

// A form's keyed message table (`msgPadrao`): lines "KEY|text", as the old toolkit's string
// list property held them. The text is everything after the first '|' (it may hold more bars);
// keys are compared exactly. When a key appears twice, the first line wins.
class TMessages : public QObject {
    Q_OBJECT

  public:
    explicit TMessages(QObject* parent = nullptr) : QObject(parent) {}

    void SetLines(const QStringList& lines);
    const QStringList& Lines() const { return m_lines; }
    void AddLine(const QString& line);

    // The text of a key. An unknown key is a programming error: EProgrammingError naming the
    // key and the table, never an empty text.
    QString Msg(const QString& key) const;
    bool HasKey(const QString& key) const { return m_texts.contains(key); }

  private:
    void addParsed(const QString& line);

    QStringList m_lines;
    QHash<QString, QString> m_texts;
};

}  // namespace host
