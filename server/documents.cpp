#include "documents.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QXmlStreamWriter>

#include "core/hosterror.h"
#include "core/packet.h"
#include "fiscaldocs.h"
#include "rules.h"

namespace dfe58000 {

using host::FieldDef;
using host::FieldType;

namespace {

const QList<FieldDef>& documentFields() {
    static const QList<FieldDef> fields = {
        {QStringLiteral("NRACESSONF"), FieldType::String, 44, false},
        {QStringLiteral("DSTEXTOXML"), FieldType::Memo, 0, false},
        {QStringLiteral("CDSTATUS"), FieldType::String, 3, false},
        {QStringLiteral("DSSTATUS"), FieldType::String, 4000, false},
    };
    return fields;
}

QSqlQuery run(QSqlDatabase& db, const QString& sql, const QVariantList& binds) {
    QSqlQuery q(db);
    if (!q.prepare(sql))
        throw host::EDatabaseError(q.lastError().text().trimmed());
    for (int i = 0; i < binds.size(); ++i)
        q.bindValue(i, binds.at(i));
    if (!q.exec())
        throw host::EDatabaseError(
            QStringLiteral("Erro do banco de dados: %1").arg(q.lastError().text().trimmed()));
    return q;
}

struct NoteDoc {
    bool found = false;
    QString statusManif, statusNFe, xmlAvailable, recipient;
    QDate authorised;
};

NoteDoc findDoc(QSqlDatabase& db, const QString& key) {
    QSqlQuery q = run(db,
                      QStringLiteral("SELECT IDSTATUSMANIF, IDSTATUSNFE, IDARQXMLNFE, "
                                     "NRINSJURIESTDEST, DTRECBTO FROM NOTADEST WHERE "
                                     "NRACESSONF = ? ORDER BY CDEMPRESA"),
                      {key});
    NoteDoc d;
    if (q.next()) {
        d.found = true;
        d.statusManif = q.value(0).toString();
        d.statusNFe = q.value(1).toString();
        d.xmlAvailable = q.value(2).toString();
        d.recipient = q.value(3).toString();
        d.authorised = fromDbDateTime(q.value(4)).date();
    }
    return d;
}

QString isoOffset(const QDateTime& dt) {
    return dt.toOffsetFromUtc(dt.offsetFromUtc()).toString(Qt::ISODate);
}

QByteArray documentPacket(const QList<QVariantList>& rows) {
    host::PacketWriter w(documentFields(), rows.size());
    for (const QVariantList& r : rows)
        w.row(r);
    return w.finish();
}

QVariantList failure(const QString& status, const QString& text) {
    return {status, text, QStringLiteral("0"), QStringLiteral("0"), QString()};
}

void begin(Store& store) {
    QSqlDatabase& db = store.database();
    const bool ok = store.dialect() == host::SqlDialect::SQLite
                        ? QSqlQuery(db).exec(QStringLiteral("BEGIN IMMEDIATE"))
                        : db.transaction();
    if (!ok)
        throw host::EDatabaseError(QStringLiteral("Não foi possível iniciar a transação: %1")
                                       .arg(db.lastError().text().trimmed()));
}

void archive(QSqlDatabase& db, const QString& key, const QString& xml) {
    run(db, QStringLiteral("DELETE FROM DOCXMLNFE WHERE NRACESSONF = ?"), {key});
    run(db,
        QStringLiteral("INSERT INTO DOCXMLNFE (NRACESSONF, DTHRGERACAO, DSTEXTOXML) VALUES (?, ?, "
                       "?)"),
        {key, dbDateTime(QDateTime::currentDateTime()), xml});
}

}  // namespace

QStringList markedKeys(const QByteArray& marked) {
    const host::DecodedPacket p = host::decodePacket(marked);
    int col = -1;
    for (int i = 0; i < p.fields.size(); ++i)
        if (p.fields.at(i).name.compare(QStringLiteral("NRACESSONF"), Qt::CaseInsensitive) == 0)
            col = i;
    if (col < 0)
        throw host::EHostError(
            QStringLiteral("O pacote de notas marcadas não tem o campo NRACESSONF."));
    QStringList keys;
    for (const QVariantList& row : p.rows)
        keys << row.at(col).toString().trimmed();
    return keys;
}

QString nfeProcXml(Store& store, const QString& key) {
    QSqlQuery q = run(store.database(),
                      QStringLiteral("SELECT NRINSJURNFORIG, IDTPIJUREMIT, NMRAZSOCEMIT, "
                                     "NRNOTAFISC, CDSERIE, DTEMISSAO, DTRECBTO, VRNOTAFISC, "
                                     "NRINSJURIESTDEST, CDINSCESTADEST, IDENTRSAIDNF, "
                                     "IDAMBIENTEMANIF FROM NOTADEST WHERE NRACESSONF = ? ORDER BY "
                                     "CDEMPRESA"),
                      {key});
    if (!q.next())
        return {};
    const QString ns = QStringLiteral("http://www.portalfiscal.inf.br/nfe");
    const QString issuer = q.value(0).toString();
    const bool issuerCpf = q.value(1).toString() == u"F";
    const QDateTime issued = fromDbDateTime(q.value(5));
    const QDateTime authorised = fromDbDateTime(q.value(6));
    const QString tpAmb =
        q.value(11).toString() == u"2" ? QStringLiteral("2") : QStringLiteral("1");
    QString out;
    QXmlStreamWriter w(&out);
    w.writeStartDocument(QStringLiteral("1.0"));
    w.writeDefaultNamespace(ns);
    w.writeStartElement(ns, QStringLiteral("nfeProc"));
    w.writeAttribute(QStringLiteral("versao"), QStringLiteral("4.00"));
    w.writeStartElement(ns, QStringLiteral("NFe"));
    w.writeStartElement(ns, QStringLiteral("infNFe"));
    w.writeAttribute(QStringLiteral("Id"), QStringLiteral("NFe") + key);
    w.writeAttribute(QStringLiteral("versao"), QStringLiteral("4.00"));
    w.writeStartElement(ns, QStringLiteral("ide"));
    w.writeTextElement(ns, QStringLiteral("cUF"), key.left(2));
    w.writeTextElement(ns, QStringLiteral("cNF"), key.mid(35, 8));
    w.writeTextElement(ns, QStringLiteral("natOp"), QStringLiteral("Venda de mercadoria"));
    w.writeTextElement(ns, QStringLiteral("mod"), key.mid(20, 2));
    w.writeTextElement(ns, QStringLiteral("serie"), QString::number(key.mid(22, 3).toInt()));
    w.writeTextElement(ns, QStringLiteral("nNF"), QString::number(key.mid(25, 9).toLongLong()));
    w.writeTextElement(ns, QStringLiteral("dhEmi"), isoOffset(issued));
    w.writeTextElement(ns, QStringLiteral("tpNF"),
                       q.value(10).toString() == u"0" ? QStringLiteral("0") : QStringLiteral("1"));
    w.writeTextElement(ns, QStringLiteral("tpEmis"), key.mid(34, 1));
    w.writeTextElement(ns, QStringLiteral("cDV"), key.right(1));
    w.writeTextElement(ns, QStringLiteral("tpAmb"), tpAmb);
    w.writeEndElement();  // ide
    w.writeStartElement(ns, QStringLiteral("emit"));
    w.writeTextElement(ns, issuerCpf ? QStringLiteral("CPF") : QStringLiteral("CNPJ"), issuer);
    w.writeTextElement(ns, QStringLiteral("xNome"), q.value(2).toString());
    w.writeEndElement();  // emit
    w.writeStartElement(ns, QStringLiteral("dest"));
    const QString dest = q.value(8).toString();
    w.writeTextElement(ns, dest.size() == 11 ? QStringLiteral("CPF") : QStringLiteral("CNPJ"),
                       dest);
    if (!q.value(9).toString().isEmpty())
        w.writeTextElement(ns, QStringLiteral("IE"), q.value(9).toString());
    w.writeEndElement();  // dest
    w.writeStartElement(ns, QStringLiteral("total"));
    w.writeStartElement(ns, QStringLiteral("ICMSTot"));
    w.writeTextElement(ns, QStringLiteral("vNF"), QString::number(q.value(7).toDouble(), 'f', 2));
    w.writeEndElement();
    w.writeEndElement();  // total
    w.writeEndElement();  // infNFe
    w.writeEndElement();  // NFe
    w.writeStartElement(ns, QStringLiteral("protNFe"));
    w.writeAttribute(QStringLiteral("versao"), QStringLiteral("4.00"));
    w.writeStartElement(ns, QStringLiteral("infProt"));
    w.writeTextElement(ns, QStringLiteral("tpAmb"), tpAmb);
    w.writeTextElement(ns, QStringLiteral("verAplic"), QStringLiteral("DFE58000-SIM"));
    w.writeTextElement(ns, QStringLiteral("chNFe"), key);
    w.writeTextElement(ns, QStringLiteral("dhRecbto"), isoOffset(authorised));
    w.writeTextElement(ns, QStringLiteral("nProt"),
                       QStringLiteral("1") + key.left(2) +
                           authorised.toString(QStringLiteral("yy")) + key.mid(25, 9) +
                           QStringLiteral("1"));
    w.writeTextElement(ns, QStringLiteral("cStat"), QStringLiteral("100"));
    w.writeTextElement(ns, QStringLiteral("xMotivo"), QStringLiteral("Autorizado o uso da NF-e"));
    w.writeEndElement();  // infProt
    w.writeEndElement();  // protNFe
    w.writeEndElement();  // nfeProc
    w.writeEndDocument();
    return out;
}

QVariant geraXml(Store& store, const QByteArray& marked, const QString&) {
    QStringList keys;
    try {
        keys = markedKeys(marked);
    } catch (const host::EHostError& e) {
        return failure(QStringLiteral("ERRO"), e.text());
    }
    if (keys.isEmpty())
        return failure(QStringLiteral("ERRO"), QStringLiteral("Nenhuma nota marcada."));
    QSqlDatabase& db = store.database();
    QList<QVariantList> rows;
    int generated = 0;
    begin(store);
    try {
        for (const QString& key : keys) {
            const NoteDoc d = findDoc(db, key);
            if (!d.found) {
                rows.append({key.left(44), QString(), QStringLiteral("N"),
                             QStringLiteral("Nota não encontrada.")});
            } else if (d.xmlAvailable != u"S") {
                rows.append({key, QString(), QStringLiteral("N"),
                             QStringLiteral("XML da nota não disponível para geração.")});
            } else {
                const QString xml = nfeProcXml(store, key);
                archive(db, key, xml);
                rows.append({key, xml, QStringLiteral("S"), QStringLiteral("XML gerado.")});
                ++generated;
            }
        }
        if (!db.commit())
            throw host::EDatabaseError(db.lastError().text());
    } catch (...) {
        db.rollback();
        throw;
    }
    return QVariantList{QStringLiteral("S"), QString(), QString::number(generated),
                        QString::number(keys.size() - generated), documentPacket(rows)};
}

QVariant downloadXml(Store& store, const QByteArray& marked, const QString& registrationArg,
                     const QString& operatorCode) {
    const QString registration = fiscal::stripMask(registrationArg).toUpper();
    QStringList keys;
    try {
        keys = markedKeys(marked);
    } catch (const host::EHostError& e) {
        return failure(QStringLiteral("ERRO"), e.text());
    }
    if (registration.isEmpty())
        return failure(QStringLiteral("ERRO"),
                       QStringLiteral("Inscrição jurídica deve ser informada."));
    QSqlDatabase& db = store.database();
    {
        QSqlQuery q = run(db, QStringLiteral("SELECT 1 FROM INSCRESTAD WHERE NRINSJURIEST = ?"),
                          {registration});
        if (!q.next())
            return failure(QStringLiteral("ERRO"), QStringLiteral("Inscrição jurídica %1 não "
                                                                  "cadastrada.")
                                                       .arg(registrationArg));
    }
    if (keys.isEmpty())
        return failure(QStringLiteral("ERRO"), QStringLiteral("Nenhuma nota marcada."));

    const QDateTime now = QDateTime::currentDateTime();
    QList<QVariantList> rows;
    int received = 0;
    bool limitAtStart = false, limitPartWay = false;
    try {
        // The count of the last hour and the new downloads are one transaction, serialised per
        // registration, so clients downloading together share the limit exactly.
        begin(store);
        try {
            if (store.dialect() == host::SqlDialect::PostgreSQL)
                run(db, QStringLiteral("SELECT pg_advisory_xact_lock(hashtext(?))"),
                    {registration});
            QSqlQuery c = run(db,
                              QStringLiteral("SELECT COUNT(*) FROM DOWNLOADLOG WHERE NRINSJURIEST "
                                             "= ? AND CDSTATUS = 'S' AND DTHRDOWNLOAD > ?"),
                              {registration, dbDateTime(now.addSecs(-3600))});
            int used = c.next() ? c.value(0).toInt() : 0;
            limitAtStart = used >= rules::kDownloadsPerHour;
            for (const QString& key : keys) {
                const NoteDoc d = findDoc(db, key);
                QString status = QStringLiteral("N"), text;
                QString xml;
                const QChar manif = d.statusManif.isEmpty() ? QChar() : d.statusManif.at(0);
                if (used >= rules::kDownloadsPerHour) {
                    status = QStringLiteral("L");
                    text = rules::describe(656);
                    limitPartWay = !limitAtStart;
                } else if (!d.found) {
                    text = QStringLiteral("Nota não encontrada.");
                } else if (d.recipient != registration) {
                    text =
                        QStringLiteral("A nota não é destinada à inscrição %1.").arg(registration);
                } else if (manif != u'1' && manif != u'3' && manif != u'4') {
                    text = QStringLiteral(
                        "O XML completo só é liberado após Ciência, Confirmação "
                        "ou Operação não Realizada.");
                } else if (d.authorised.isValid() &&
                           d.authorised.addDays(rules::kDownloadMaxAgeDays) < now.date()) {
                    text = QStringLiteral("Documento autorizado há mais de %1 dias.")
                               .arg(rules::kDownloadMaxAgeDays);
                } else {
                    xml = nfeProcXml(store, key);
                    status = QStringLiteral("S");
                    text = QStringLiteral("XML recebido.");
                    ++used;
                    ++received;
                    archive(db, key, xml);
                    run(db,
                        QStringLiteral("UPDATE NOTADEST SET IDARQXMLNFE = 'S' WHERE "
                                       "NRACESSONF = ?"),
                        {key});
                }
                if (status != u"L")
                    run(db,
                        QStringLiteral("INSERT INTO DOWNLOADLOG (NRINSJURIEST, DTHRDOWNLOAD, "
                                       "NRACESSONF, CDSTATUS, CDOPERADOR) VALUES (?, ?, ?, ?, ?)"),
                        {registration, dbDateTime(now), key.left(44), status,
                         operatorCode.left(20)});
                rows.append({key.left(44), xml, status, text});
            }
            if (!db.commit())
                throw host::EDatabaseError(db.lastError().text());
        } catch (...) {
            db.rollback();
            throw;
        }
    } catch (const host::EHostError& e) {
        return failure(QStringLiteral("ERRO_DOWN"), e.text());
    }
    const QString status = limitAtStart   ? QStringLiteral("L")
                           : limitPartWay ? QStringLiteral("LCA")
                                          : QStringLiteral("OK");
    return QVariantList{status, QString(), QString::number(received),
                        QString::number(keys.size() - received), documentPacket(rows)};
}

}  // namespace dfe58000
