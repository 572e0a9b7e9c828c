#include "documents.h"

#include <algorithm>
#include <functional>

#include "core/hosterror.h"
#include "core/packet.h"
#include "fiscaldocs.h"
#include "nfexml.h"
#include "rules.h"
#include "signer.h"

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

QVariantList failure(const QString& status, const QString& text) {
    return {status, text, QStringLiteral("0"), QStringLiteral("0"), QString()};
}

}  // namespace

QStringList markedKeys(const QByteArray& marked) {
    const host::DecodedPacket p = host::decodePacket(marked);
    int col = -1;
    for (int i = 0; i < p.fields.size(); ++i) {
        if (p.fields.at(i).name.compare(QStringLiteral("NRACESSONF"), Qt::CaseInsensitive) == 0) {
            col = i;
        }
    }
    if (col < 0) {
        throw host::EHostError(
            QStringLiteral("O pacote de notas marcadas não tem o campo NRACESSONF."));
    }
    QStringList keys;
    for (const QVariantList& row : p.rows) {
        keys << row.at(col).toString().trimmed();
    }
    return keys;
}

QString nfeProcXml(Store& store, const QString& key) {
    const NoteDocumentRow row = store.noteForDocument(key);
    if (!row.found) {
        return {};
    }
    if (!fiscal::isValidAccessKey(key)) {
        throw host::EHostError(
            QStringLiteral("Chave de acesso inválida para gerar o XML: %1").arg(key));
    }
    NfeData n;
    n.key = key;
    n.issuerCpf = row.personType == u"F";
    // The issuer's registration is part of the key (a CNPJ there may hold letters); the stored
    // one is used when it is sound.
    n.issuer = registrationOf(row.issuer);
    if (!(n.issuerCpf ? isCpfShape(n.issuer) : isCnpjShape(n.issuer))) {
        const QString fromKey = key.mid(6, 14);
        n.issuerCpf =
            n.issuerCpf && fromKey.startsWith(QStringLiteral("000")) && isCpfShape(fromKey.mid(3));
        n.issuer = n.issuerCpf ? fromKey.mid(3) : fromKey;
    }
    n.issuerName = layoutText(row.issuerName, 60, QStringLiteral("Emitente"));
    n.authorised = row.authorised.isValid() ? row.authorised
                   : row.issued.isValid()   ? row.issued
                                            : store.clock().now();
    n.issued = row.issued.isValid() ? row.issued : n.authorised;
    n.value = row.value;
    n.recipient = registrationOf(row.recipient);
    if (!isCpfShape(n.recipient) && !isCnpjShape(n.recipient)) {
        throw host::EHostError(
            QStringLiteral("A nota %1 não tem destinatário válido (CNPJ/CPF).").arg(key));
    }
    n.recipientIe = digitsOnly(row.recipientIe).left(14);
    if (n.recipientIe.size() < 2) {
        n.recipientIe.clear();
    }
    n.entry = row.direction == u"0";
    n.tpAmb = environmentOf(row.environment);
    return signXml(nfeProcDocument(n), QStringLiteral("infNFe"),
                   ensureDemoCertificate(demoCertDir(store.databaseFile())));
}

namespace {

// What became of one marked note: its row in the answer's packet.
// What became of one marked note: its row in the answer's packet.
struct NoteOutcome {
    QString key;
    QString status = QStringLiteral("N");  // S served, N not eligible, E failed, L hourly limit
    QString text;
    QString xml;
    QVariantList row() const { return {key.left(44), xml, status, text}; }
};

const QString kServed = QStringLiteral("S");
const QString kFailed = QStringLiteral("E");
const QString kLimited = QStringLiteral("L");

QString reasonOf(const std::exception& e) {
    if (const auto* h = dynamic_cast<const host::EHostError*>(&e)) {
        return h->text();
    }
    return QString::fromLocal8Bit(e.what());
}

void fail(NoteOutcome& o, const QString& text) {
    o.status = kFailed;
    o.text = text;
    o.xml.clear();
}

// Builds and signs the note's document with no transaction open: a failure is that note's.
void build(Store& store, NoteOutcome& o) {
    try {
        o.xml = nfeProcXml(store, o.key);
        if (o.xml.isEmpty()) {
            fail(o, QStringLiteral("Nota não encontrada."));
        }
    } catch (const std::exception& e) {
        fail(o, QStringLiteral("Falha ao gerar o XML: %1").arg(reasonOf(e)));
    }
}

using NoteWrites = std::function<void(const NoteOutcome&)>;

// Notes whose results are written in one transaction: few enough that the write lock is held
// for milliseconds, so a job of hundreds of notes never makes another clerk wait long.
constexpr qsizetype kNotesPerWrite = 25;

// The results of the built documents in short write transactions: served runs for each built
// note (a note whose writes fail becomes a failure), then failed for each failed one. When a
// transaction cannot be completed no built note of it counts as served.
void storeOutcomes(Store& store, QList<NoteOutcome>& notes, const NoteWrites& served,
                   const NoteWrites& failed) {
    auto pending = [&](const NoteOutcome& o) {
        return o.status == kServed || (failed && o.status == kFailed);
    };
    for (qsizetype from = 0; from < notes.size(); from += kNotesPerWrite) {
        const auto first = notes.begin() + from;
        const auto last = notes.begin() + std::min(from + kNotesPerWrite, notes.size());
        if (std::none_of(first, last, pending)) {
            continue;
        }
        try {
            Store::Transaction tx(store);
            for (auto it = first; it != last; ++it) {
                NoteOutcome& o = *it;
                if (o.status == kServed) {
                    const QString reason = store.inSavepoint([&] { served(o); });
                    if (!reason.isEmpty()) {
                        fail(o, QStringLiteral("Falha ao gravar o XML: %1").arg(reason));
                    }
                }
                if (o.status == kFailed && failed) {
                    store.inSavepoint([&] { failed(o); });
                }
            }
            tx.commit();
        } catch (const std::exception& e) {
            for (auto it = first; it != last; ++it) {
                if (it->status == kServed) {
                    fail(*it, QStringLiteral("Falha ao gravar o XML: %1").arg(reasonOf(e)));
                }
            }
        }
    }
}

int servedCount(const QList<NoteOutcome>& notes) {
    return int(std::count_if(notes.cbegin(), notes.cend(),
                             [](const NoteOutcome& o) { return o.status == kServed; }));
}

QByteArray documentPacket(const QList<NoteOutcome>& notes) {
    host::PacketWriter w(documentFields(), notes.size());
    for (const NoteOutcome& o : notes) {
        w.row(o.row());
    }
    return w.finish();
}

}  // namespace

QVariant geraXml(Store& store, const QByteArray& marked, const QString&) {
    QStringList keys;
    try {
        keys = markedKeys(marked);
    } catch (const host::EHostError& e) {
        return failure(QStringLiteral("ERRO"), e.text());
    }
    if (keys.isEmpty()) {
        return failure(QStringLiteral("ERRO"), QStringLiteral("Nenhuma nota marcada."));
    }
    // Which notes get their document: reads only, so no lock is held while they are signed.
    QList<NoteOutcome> notes;
    for (const QString& key : keys) {
        NoteOutcome o;
        o.key = key;
        try {
            const StoredNote d = store.noteByKey(key);
            if (!d.found) {
                o.text = QStringLiteral("Nota não encontrada.");
            } else if (d.xmlAvailable != u"S") {
                o.text = QStringLiteral("XML da nota não disponível para geração.");
            } else if (!fiscal::isValidAccessKey(key)) {
                o.text = QStringLiteral("Chave de acesso inválida.");
            } else {
                o.status = kServed;
            }
        } catch (const std::exception& e) {
            fail(o, reasonOf(e));
        }
        notes.append(o);
    }
    for (NoteOutcome& o : notes) {
        if (o.status == kServed) {
            build(store, o);
        }
    }
    const QDateTime generatedAt = store.clock().now();
    storeOutcomes(store, notes,
                  [&](const NoteOutcome& o) { store.archiveDocument(o.key, generatedAt, o.xml); },
                  {});
    for (NoteOutcome& o : notes) {
        if (o.status == kServed) {
            o.text = QStringLiteral("XML gerado.");
        }
    }
    const int generated = servedCount(notes);
    return QVariantList{QStringLiteral("S"), QString(), QString::number(generated),
                        QString::number(keys.size() - generated), documentPacket(notes)};
}

QVariant downloadXml(Store& store, const QByteArray& marked, const QString& registration,
                     const QString& operatorCode) {
    return downloadXml(store, marked, registration, operatorCode, store.clock().now());
}

QVariant downloadXml(Store& store, const QByteArray& marked, const QString& registrationArg,
                     const QString& operatorCode, const QDateTime& now) {
    const QString registration = fiscal::stripMask(registrationArg).toUpper();
    QStringList keys;
    try {
        keys = markedKeys(marked);
    } catch (const host::EHostError& e) {
        return failure(QStringLiteral("ERRO"), e.text());
    }
    if (registration.isEmpty()) {
        return failure(QStringLiteral("ERRO"),
                       QStringLiteral("Inscrição jurídica deve ser informada."));
    }
    try {
        if (!store.legalRegistrationExists(registration)) {
            return failure(QStringLiteral("ERRO"), QStringLiteral("Inscrição jurídica %1 não "
                                                                  "cadastrada.")
                                                       .arg(registrationArg));
        }
    } catch (const host::EHostError& e) {
        return failure(QStringLiteral("ERRO_DOWN"), e.text());
    }
    if (keys.isEmpty()) {
        return failure(QStringLiteral("ERRO"), QStringLiteral("Nenhuma nota marcada."));
    }

    // Which notes the registration may receive: reads only, nothing locked.
    QList<NoteOutcome> notes;
    for (const QString& key : keys) {
        NoteOutcome o;
        o.key = key;
        try {
            const StoredNote d = store.noteByKey(key);
            const QChar manif = d.statusManif.isEmpty() ? QChar() : d.statusManif.at(0);
            if (!d.found) {
                o.text = QStringLiteral("Nota não encontrada.");
            } else if (registrationOf(d.recipient) != registration) {
                o.text = QStringLiteral("A nota não é destinada à inscrição %1.").arg(registration);
            } else if (manif != u'1' && manif != u'3' && manif != u'4') {
                o.text = QStringLiteral(
                    "O XML completo só é liberado após Ciência, Confirmação "
                    "ou Operação não Realizada.");
            } else if (!d.authorised.isValid()) {
                o.text = QStringLiteral(
                    "A nota não tem data de autorização: o XML não pode ser baixado.");
            } else if (d.authorised.addDays(rules::kDownloadMaxAgeDays) < now.date()) {
                o.text = QStringLiteral("Documento autorizado há mais de %1 dias.")
                             .arg(rules::kDownloadMaxAgeDays);
            } else if (!fiscal::isValidAccessKey(key)) {
                o.text = QStringLiteral("Chave de acesso inválida.");
            } else {
                o.status = kServed;
            }
        } catch (const std::exception& e) {
            fail(o, reasonOf(e));
        }
        notes.append(o);
    }

    // The hourly accounting, one short transaction serialised per registration so that clients
    // and server processes on the same database share the limit exactly. Every query by key
    // counts, served or not; the one past the limit and every one after it within the hour get
    // 656 and are logged as "L", and a registration with an "L" in the last hour stays blocked:
    // each attempt inside the block starts its hour again.
    bool limitAtStart = false, limitPartWay = false;
    try {
        Store::Transaction tx(store);
        store.lockRegistration(registration);
        const QDateTime since = now.addSecs(-3600);
        int used = store.downloadsSince(registration, since, false);
        bool blocked =
            store.downloadsSince(registration, since, true) > 0 || used >= rules::kDownloadsPerHour;
        limitAtStart = blocked;
        for (NoteOutcome& o : notes) {
            if (!blocked && used >= rules::kDownloadsPerHour) {
                blocked = true;
            }
            if (blocked) {
                o.status = kLimited;
                o.text = rules::describe(656);
            } else {
                ++used;
            }
            store.logDownload(registration, now, o.key, o.status, operatorCode);
        }
        limitPartWay = blocked && !limitAtStart;
        tx.commit();
    } catch (const std::exception& e) {
        return failure(QStringLiteral("ERRO_DOWN"), reasonOf(e));
    }

    for (NoteOutcome& o : notes) {
        if (o.status == kServed) {
            build(store, o);
        }
    }
    const QDateTime generatedAt = store.clock().now();
    storeOutcomes(
        store, notes,
        [&](const NoteOutcome& o) {
            store.archiveDocument(o.key, generatedAt, o.xml);
            store.markXmlAvailable(o.key);
        },
        [&](const NoteOutcome& o) { store.markDownloadFailed(registration, now, o.key); });
    for (NoteOutcome& o : notes) {
        if (o.status == kServed) {
            o.text = QStringLiteral("XML recebido.");
        }
    }
    const int received = servedCount(notes);
    const QString status = limitAtStart   ? QStringLiteral("L")
                           : limitPartWay ? QStringLiteral("LCA")
                                          : QStringLiteral("OK");
    return QVariantList{status, QString(), QString::number(received),
                        QString::number(keys.size() - received), documentPacket(notes)};
}

}  // namespace dfe58000