#include "core/messages.h"

namespace host {

void TMessages::SetLines(const QStringList& lines) {
    m_lines.clear();
    m_texts.clear();
    for (const QString& line : lines) {
        AddLine(line);
    }
}

void TMessages::AddLine(const QString& line) {
    m_lines.append(line);
    addParsed(line);
}

void TMessages::addParsed(const QString& line) {
    const qsizetype bar = line.indexOf(u'|');
    if (bar < 0) {
        return;  // a line without a key (blank or a comment) carries no message
    }
    const QString key = line.left(bar);
    if (!m_texts.contains(key)) {
        m_texts.insert(key, line.mid(bar + 1));
    }
}

QString TMessages::Msg(const QString& key) const {
    auto it = m_texts.constFind(key);
    if (it == m_texts.cend()) {
        const QString table = objectName().isEmpty() ? QStringLiteral("(sem nome)") : objectName();
        QString owner;
        if (parent() && !parent()->objectName().isEmpty()) {
            owner = QStringLiteral(" de %1").arg(parent()->objectName());
        }
        throw EProgrammingError(
            QStringLiteral("Mensagem \"%1\" não existe na tabela %2%3.").arg(key, table, owner));
    }
    return it.value();
}

}  // namespace host
