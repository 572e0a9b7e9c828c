// A lot of marked notes where one note cannot be processed: that note comes back among the
// rejected ones with its reason, the others are registered, and the counts are true.

#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include "companydb.h"
#include "core/packet.h"
#include "fiscaldocs.h"
#include "methods.h"
#include "store.h"

using dfe58000::NoteRecord;
using dfe58000::Store;

namespace {

const QString kRegistro = QStringLiteral("48210375000102");  // company 01
const QString kEmitente = fiscal::completeCnpj(QStringLiteral("771234560001"));

QString chave(int numero) {
    const QString first43 = QStringLiteral("352611") + kEmitente + QStringLiteral("55001") +
                            QStringLiteral("%1").arg(numero, 9, 10, QChar(u'0')) +
                            QStringLiteral("112345678");
    return first43 + QString::number(fiscal::accessKeyCheckDigit(first43));
}

NoteRecord nota(int numero) {
    NoteRecord n;
    n.CDEMPRESA = QStringLiteral("01");
    n.NRNOTAFISC = QString::number(numero);
    n.IDSTATUSNFE = QStringLiteral("1");
    n.IDSTATUSMANIF = QStringLiteral("0");
    n.IDNOTA = QStringLiteral("1");
    n.NRINSJURIESTDEST = kRegistro;
    n.NRINSJURNFORIG = kEmitente;
    n.NMRAZSOCEMIT = QStringLiteral("Fornecedor %1").arg(numero);
    n.DTEMISSAO = QDateTime(QDate::currentDate().addDays(-3), QTime(8, 0));
    n.DTRECBTO = QDateTime(QDate::currentDate().addDays(-2), QTime(9, 0));
    n.NRACESSONF = chave(numero);
    return n;
}

QByteArray marcadas(const QStringList& chaves) {
    QList<QVariantList> rows;
    for (const QString& k : chaves)
        rows.append({k, QStringLiteral("N")});
    return host::encodePacket({{QStringLiteral("NRACESSONF"), host::FieldType::String, 50, false},
                               {QStringLiteral("IDCONSULTADO"), host::FieldType::String, 1, false}},
                              rows);
}

int eventosRegistrados(Store& store, const QString& key) {
    QSqlQuery q(store.database());
    q.prepare(QStringLiteral("SELECT COUNT(*) FROM EVENTOREG WHERE NRACESSONF = ?"));
    q.addBindValue(key);
    return q.exec() && q.next() ? q.value(0).toInt() : -1;
}

QString situacao(Store& store, const QString& key) {
    QSqlQuery q(store.database());
    q.prepare(QStringLiteral("SELECT IDSTATUSMANIF FROM NOTADEST WHERE NRACESSONF = ?"));
    q.addBindValue(key);
    return q.exec() && q.next() ? q.value(0).toString() : QString();
}

}  // namespace

class TestLote : public QObject {
    Q_OBJECT

  private slots:
    void aNoteThatFailsIsRejectedAndTheOthersGoOn();
};

void TestLote::aNoteThatFailsIsRejectedAndTheOthersGoOn() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString url = QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("empresa.db"));
    companydb::ensureDatabase(url, 0, {dfe58000::storeSchema()});
    Store store(url);
    QStringList chaves;
    for (int n = 1; n <= 3; ++n) {
        store.insertNote(nota(n));
        chaves << chave(n);
    }
    // The archive refuses the second note's event, as a full disk or a broken page would.
    QSqlQuery trigger(store.database());
    QVERIFY(trigger.exec(QStringLiteral("CREATE TRIGGER FALHA_ARQUIVO BEFORE INSERT ON EVENTONFE "
                                        "WHEN NEW.NRACESSONF = '%1' BEGIN SELECT RAISE(ABORT, "
                                        "'disco cheio'); END")
                             .arg(chaves.at(1))));

    const QVariant resposta =
        dfe58000::setManifestacao(store, kRegistro, marcadas(chaves), QStringLiteral("1"),
                                  QString(), QStringLiteral("OPER01"));
    const QVariantList r = resposta.toList();
    QCOMPARE(r.value(0).toString(), QStringLiteral("OK"));
    QCOMPARE(r.value(2).toString(), QStringLiteral("2"));
    QCOMPARE(r.value(3).toString(), QStringLiteral("1"));
    const QList<QVariantList> erradas = host::decodePacket(r.value(4).toByteArray()).rows;
    QCOMPARE(erradas.size(), 1);
    QCOMPARE(erradas.first().value(0).toString(), chaves.at(1));
    QCOMPARE(erradas.first().value(1).toString(), kEmitente);
    QCOMPARE(erradas.first().value(2).toString(), QStringLiteral("Fornecedor 2"));
    QVERIFY2(erradas.first().value(3).toString().contains(QStringLiteral("disco cheio")),
             qPrintable(erradas.first().value(3).toString()));

    // The failed note left nothing behind; the others are registered once.
    QCOMPARE(eventosRegistrados(store, chaves.at(0)), 1);
    QCOMPARE(eventosRegistrados(store, chaves.at(1)), 0);
    QCOMPARE(eventosRegistrados(store, chaves.at(2)), 1);
    QCOMPARE(situacao(store, chaves.at(0)), QStringLiteral("1"));
    QCOMPARE(situacao(store, chaves.at(1)), QStringLiteral("0"));

    // Once the archive works again, the note that failed goes through on its own.
    QVERIFY(trigger.exec(QStringLiteral("DROP TRIGGER FALHA_ARQUIVO")));
    const QVariantList again =
        dfe58000::setManifestacao(store, kRegistro, marcadas({chaves.at(1)}), QStringLiteral("1"),
                                  QString(), QStringLiteral("OPER01"))
            .toList();
    QCOMPARE(again.value(2).toString(), QStringLiteral("1"));
    QCOMPARE(eventosRegistrados(store, chaves.at(1)), 1);
    QCOMPARE(situacao(store, chaves.at(1)), QStringLiteral("1"));
}

QTEST_MAIN(TestLote)
#include "tst_lote.moc"
