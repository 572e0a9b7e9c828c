#include "report/reportdefinition.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include "core/hosterror.h"

namespace host {

namespace {

// Raises the error of a definition, naming the file.
class Reader {
  public:
    explicit Reader(QString name) : m_name(std::move(name)) {}

    [[noreturn]] void fail(const QString& what) const {
        throw EHostError(
            QStringLiteral("A definição de relatório \"%1\" é inválida: %2").arg(m_name, what));
    }

    QString text(const QJsonObject& o, const char* key, const QString& where,
                 bool required = false) const {
        const QJsonValue v = o.value(QLatin1String(key));
        if (v.isUndefined() || v.isNull()) {
            if (required) {
                fail(QStringLiteral("%1 sem \"%2\".").arg(where, QLatin1String(key)));
            }
            return {};
        }
        if (!v.isString()) {
            fail(QStringLiteral("\"%1\" de %2 deve ser um texto.").arg(QLatin1String(key), where));
        }
        return v.toString();
    }

    // A statement: one text, or its lines as an array of texts.
    QString statement(const QJsonValue& v, const QString& where) const {
        if (v.isString()) {
            return v.toString();
        }
        if (v.isArray()) {
            QStringList lines;
            for (const QJsonValue& line : v.toArray()) {
                if (!line.isString()) {
                    fail(QStringLiteral("as linhas da instrução de %1 devem ser textos.")
                             .arg(where));
                }
                lines << line.toString();
            }
            return lines.join(u'\n');
        }
        fail(QStringLiteral("a instrução de %1 deve ser um texto ou uma lista de linhas.")
                 .arg(where));
    }

    QHash<QString, QString> labels(const QJsonObject& o, const QString& where) const {
        QHash<QString, QString> out;
        const QJsonValue v = o.value(QLatin1String("labels"));
        if (v.isUndefined()) {
            return out;
        }
        if (!v.isObject()) {
            fail(QStringLiteral("\"labels\" de %1 deve associar códigos a textos.").arg(where));
        }
        const QJsonObject m = v.toObject();
        for (auto it = m.begin(); it != m.end(); ++it) {
            if (!it.value().isString()) {
                fail(QStringLiteral("o rótulo \"%1\" de %2 deve ser um texto.")
                         .arg(it.key(), where));
            }
            out.insert(it.key(), it.value().toString());
        }
        return out;
    }

    QStringList names(const QJsonObject& o, const char* key, const QString& where) const {
        QStringList out;
        const QJsonValue v = o.value(QLatin1String(key));
        if (v.isUndefined()) {
            return out;
        }
        if (!v.isArray()) {
            fail(QStringLiteral("\"%1\" de %2 deve ser uma lista de campos.")
                     .arg(QLatin1String(key), where));
        }
        for (const QJsonValue& n : v.toArray()) {
            if (!n.isString() || n.toString().trimmed().isEmpty()) {
                fail(QStringLiteral("\"%1\" de %2 deve ser uma lista de campos.")
                         .arg(QLatin1String(key), where));
            }
            out << n.toString().trimmed().toUpper();
        }
        return out;
    }

  private:
    QString m_name;
};

ColumnFormat formatOf(const QString& name, const Reader& r, const QString& where) {
    static const QHash<QString, ColumnFormat> formats = {
        {QStringLiteral("text"), ColumnFormat::Text},
        {QStringLiteral("date"), ColumnFormat::Date},
        {QStringLiteral("datetime"), ColumnFormat::DateTime},
        {QStringLiteral("money"), ColumnFormat::Money},
        {QStringLiteral("integer"), ColumnFormat::Integer},
        {QStringLiteral("cnpjcpf"), ColumnFormat::Registration},
    };
    if (name.isEmpty()) {
        return ColumnFormat::Text;
    }
    const auto it = formats.constFind(name.toLower());
    if (it == formats.constEnd()) {
        r.fail(QStringLiteral("formato \"%1\" desconhecido em %2 (use text, date, datetime, "
                              "money, integer ou cnpjcpf).")
                   .arg(name, where));
    }
    return *it;
}

Qt::Alignment alignOf(const QString& name, ColumnFormat format, const Reader& r,
                      const QString& where) {
    if (name.isEmpty()) {
        return (format == ColumnFormat::Money || format == ColumnFormat::Integer) ? Qt::AlignRight
                                                                                  : Qt::AlignLeft;
    }
    const QString n = name.toLower();
    if (n == u"left") {
        return Qt::AlignLeft;
    }
    if (n == u"right") {
        return Qt::AlignRight;
    }
    if (n == u"center") {
        return Qt::AlignHCenter;
    }
    r.fail(QStringLiteral("alinhamento \"%1\" desconhecido em %2.").arg(name, where));
}

bool validName(const QString& name) {
    static const QRegularExpression re(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    return re.match(name).hasMatch();
}

}  // namespace

QStringList ReportSection::fieldsUsed() const {
    QStringList out;
    const auto add = [&out](const QString& f) {
        if (!f.isEmpty() && !out.contains(f)) {
            out << f;
        }
    };
    for (const ReportColumn& c : columns) {
        add(c.field);
        add(c.kindField);
    }
    for (const ReportGroup& g : groups) {
        add(g.field);
        add(g.kindField);
        add(g.nameField);
        for (const QString& s : g.sums) {
            add(s);
        }
    }
    for (const QString& s : totals.sums) {
        add(s);
    }
    return out;
}

ReportDefinition ReportDefinition::load(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        throw EHostError(QStringLiteral("Não foi possível ler a definição de relatório \"%1\": %2")
                             .arg(path, f.errorString()));
    }
    ReportDefinition def = parse(f.readAll(), path);
    if (def.code.isEmpty()) {
        def.code = QFileInfo(path).completeBaseName();
    }
    return def;
}

ReportDefinition ReportDefinition::parse(const QByteArray& json, const QString& name) {
    const Reader r(name);
    QJsonParseError err{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &err);
    if (err.error != QJsonParseError::NoError) {
        r.fail(QStringLiteral("JSON malformado na posição %1 (%2).")
                   .arg(err.offset)
                   .arg(err.errorString()));
    }
    if (!doc.isObject()) {
        r.fail(QStringLiteral("o conteúdo deve ser um objeto JSON."));
    }
    const QJsonObject root = doc.object();

    ReportDefinition def;
    def.code = r.text(root, "code", QStringLiteral("a definição"));
    def.title = r.text(root, "title", QStringLiteral("a definição"), true).trimmed();
    if (def.title.isEmpty()) {
        r.fail(QStringLiteral("o título está vazio."));
    }
    const QString orientation = r.text(root, "orientation", QStringLiteral("a definição"));
    if (!orientation.isEmpty() && orientation != u"portrait" && orientation != u"landscape") {
        r.fail(QStringLiteral("orientação \"%1\" desconhecida (portrait ou landscape).")
                   .arg(orientation));
    }
    def.landscape = orientation == u"landscape";

    for (const QJsonValue& pv : root.value(QLatin1String("parameters")).toArray()) {
        const QJsonObject p = pv.toObject();
        const QString where = QStringLiteral("um parâmetro");
        ReportParameter param;
        param.name = r.text(p, "name", where, true).trimmed().toUpper();
        if (!validName(param.name)) {
            r.fail(QStringLiteral("nome de parâmetro \"%1\" inválido.").arg(param.name));
        }
        const QString type = r.text(p, "type", where);
        if (!type.isEmpty() && type != u"string" && type != u"date") {
            r.fail(QStringLiteral("tipo \"%1\" do parâmetro %2 desconhecido (string ou date).")
                       .arg(type, param.name));
        }
        param.isDate = type == u"date";
        def.parameters << param;
    }

    for (const QJsonValue& cv : root.value(QLatin1String("criteria")).toArray()) {
        const QJsonObject c = cv.toObject();
        const QString where = QStringLiteral("um critério");
        ReportCriterion crit;
        crit.label = r.text(c, "label", where, true);
        crit.param = r.text(c, "param", where, true).trimmed().toUpper();
        crit.toParam = r.text(c, "to", where).trimmed().toUpper();
        if (c.contains(QLatin1String("all"))) {
            crit.allText = r.text(c, "all", where);
        }
        crit.listSeparator = r.text(c, "list", where);
        crit.labels = r.labels(c, where);
        def.criteria << crit;
    }

    const QJsonArray sections = root.value(QLatin1String("sections")).toArray();
    if (sections.isEmpty()) {
        r.fail(QStringLiteral("não há seções de dados (\"sections\")."));
    }
    int index = 0;
    for (const QJsonValue& sv : sections) {
        ++index;
        if (!sv.isObject()) {
            r.fail(QStringLiteral("a seção %1 deve ser um objeto.").arg(index));
        }
        const QJsonObject s = sv.toObject();
        const QString where = QStringLiteral("a seção %1").arg(index);
        ReportSection sec;
        sec.title = r.text(s, "title", where);
        sec.dataSet = r.text(s, "dataset", where).trimmed();
        const QJsonValue sql = s.value(QLatin1String("sql"));
        if (sql.isObject()) {
            const QJsonObject per = sql.toObject();
            for (auto it = per.begin(); it != per.end(); ++it) {
                if (it.key() == u"sqlite") {
                    sec.sqlSqlite = r.statement(it.value(), where);
                } else if (it.key() == u"postgres") {
                    sec.sqlPostgres = r.statement(it.value(), where);
                } else if (it.key() == u"any") {
                    sec.sql = r.statement(it.value(), where);
                } else {
                    r.fail(QStringLiteral("banco de dados \"%1\" desconhecido em %2 (sqlite, "
                                          "postgres ou any).")
                               .arg(it.key(), where));
                }
            }
        } else if (!sql.isUndefined()) {
            sec.sql = r.statement(sql, where);
        }
        const bool hasSql = !sec.sql.trimmed().isEmpty() || !sec.sqlSqlite.trimmed().isEmpty() ||
                            !sec.sqlPostgres.trimmed().isEmpty();
        if (hasSql == !sec.dataSet.isEmpty()) {
            r.fail(QStringLiteral("%1 deve ter uma instrução SQL (\"sql\") ou um conjunto de dados "
                                  "(\"dataset\"), um dos dois.")
                       .arg(where));
        }
        if (hasSql && sec.sql.trimmed().isEmpty() &&
            (sec.sqlSqlite.trimmed().isEmpty() || sec.sqlPostgres.trimmed().isEmpty())) {
            r.fail(QStringLiteral("%1 precisa da instrução de cada banco de dados (sqlite e "
                                  "postgres) ou de uma comum (any).")
                       .arg(where));
        }

        const QJsonArray columns = s.value(QLatin1String("columns")).toArray();
        if (columns.isEmpty()) {
            r.fail(QStringLiteral("%1 não tem colunas.").arg(where));
        }
        for (const QJsonValue& colv : columns) {
            const QJsonObject c = colv.toObject();
            ReportColumn col;
            col.field = r.text(c, "field", where, true).trimmed().toUpper();
            const QString cwhere = QStringLiteral("a coluna %1 de %2").arg(col.field, where);
            col.caption = r.text(c, "caption", cwhere);
            const QJsonValue w = c.value(QLatin1String("width"));
            if (!w.isUndefined()) {
                if (!w.isDouble() || w.toDouble() <= 0) {
                    r.fail(
                        QStringLiteral("a largura de %1 deve ser um número positivo.").arg(cwhere));
                }
                col.width = w.toDouble();
            }
            col.format = formatOf(r.text(c, "format", cwhere), r, cwhere);
            col.align = alignOf(r.text(c, "align", cwhere), col.format, r, cwhere);
            col.kindField = r.text(c, "kindField", cwhere).trimmed().toUpper();
            col.labels = r.labels(c, cwhere);
            sec.columns << col;
        }
        for (const QJsonValue& gv : s.value(QLatin1String("groups")).toArray()) {
            const QJsonObject g = gv.toObject();
            ReportGroup grp;
            grp.field = r.text(g, "field", where, true).trimmed().toUpper();
            const QString gwhere = QStringLiteral("o grupo %1 de %2").arg(grp.field, where);
            grp.caption = r.text(g, "caption", gwhere);
            grp.labels = r.labels(g, gwhere);
            grp.format = formatOf(r.text(g, "format", gwhere), r, gwhere);
            grp.kindField = r.text(g, "kindField", gwhere).trimmed().toUpper();
            grp.nameField = r.text(g, "nameField", gwhere).trimmed().toUpper();
            grp.count = g.value(QLatin1String("count")).toBool(true);
            grp.sums = r.names(g, "sums", gwhere);
            sec.groups << grp;
        }
        const QJsonValue totals = s.value(QLatin1String("totals"));
        if (totals.isObject()) {
            const QJsonObject t = totals.toObject();
            const QString twhere = QStringLiteral("os totais de %1").arg(where);
            sec.totals.enabled = true;
            if (t.contains(QLatin1String("caption"))) {
                sec.totals.caption = r.text(t, "caption", twhere);
            }
            sec.totals.count = t.value(QLatin1String("count")).toBool(true);
            sec.totals.sums = r.names(t, "sums", twhere);
        } else if (!totals.isUndefined()) {
            r.fail(QStringLiteral("\"totals\" de %1 deve ser um objeto.").arg(where));
        }
        // Sums print under their own column.
        QStringList sums = sec.totals.sums;
        for (const ReportGroup& g : sec.groups) {
            sums << g.sums;
        }
        for (const QString& f : sums) {
            bool shown = false;
            for (const ReportColumn& c : sec.columns) {
                shown = shown || c.field == f;
            }
            if (!shown) {
                r.fail(QStringLiteral("a soma de %1 em %2 não corresponde a uma coluna.")
                           .arg(f, where));
            }
        }
        def.sections << sec;
    }
    return def;
}

}  // namespace host
