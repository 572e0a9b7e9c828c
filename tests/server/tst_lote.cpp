// A lot of marked notes where one note cannot be processed: that note comes back among the
// rejected ones with its reason, the others are registered, and the counts are true.

#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include "companydb.h"
#include "core/packet.h"
#include "documentnotes.h"
#include "fiscaldocs.h"
#include "methods.h"
#include "store.h"

using dfe58000::NoteRecord;
using dfe58000::Store;

namespace {

const QString kRegistro = QStringLiteral("48210375000102");  // company 01
const QString kEmitente = fiscal::completeCnpj(QStringLiteral("771234560001"));

QString chave(int numero) {
    return testnotes::accessKey(kEmitente, numero, QStringLiteral("55001"),
                                QStringLiteral("112345678"));
}

NoteRecord nota(int numero) {
    return testnotes::openNote(numero, kRegistro, kEmitente, chave(numero),
                               QDateTime(QDate::currentDate().addDays(-3), QTime(8, 0)),
                               QDateTime(QDate::currentDate().addDays(-2), QTime(9, 0)));
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
        dfe58000::setManifestacao(store, kRegistro, testnotes::marked(chaves), QStringLiteral("1"),
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
        dfe58000::setManifestacao(store, kRegistro, testnotes::marked({chaves.at(1)}),
                                  QStringLiteral("1"), QString(), QStringLiteral("OPER01"))
            .toList();
    QCOMPARE(again.value(2).toString(), QStringLiteral("1"));
    QCOMPARE(eventosRegistrados(store, chaves.at(1)), 1);
    QCOMPARE(situacao(store, chaves.at(1)), QStringLiteral("1"));
}

QTEST_MAIN(TestLote)
#include "tst_lote.moc"
