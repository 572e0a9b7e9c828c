#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>
#include <limits>

#include "core/clientdataset.h"
#include "core/datasetloader.h"
#include "core/packet.h"
#include "sql/adoibquery.h"
#include "sql/databasemodule.h"

using namespace host;

namespace {

const QList<FieldDef> kColumns = {
    {"CODIGO", FieldType::String, 10, false},   {"OBS", FieldType::Memo, 0, false},
    {"QTDE", FieldType::Integer, 0, false},     {"VALOR", FieldType::Float, 0, false},
    {"ATIVO", FieldType::Boolean, 0, false},    {"EMISSAO", FieldType::Date, 0, false},
    {"MOMENTO", FieldType::DateTime, 0, false},
};

QList<QVariantList> sampleRows() {
    const QDateTime moment(QDate(2024, 1, 5), QTime(13, 45, 10, 250));
    return {
        {QString("N"), QString("observação que se repete"), qint64(42), 1.5, true,
         QDate(2024, 1, 5), moment},
        {QString("Ação"), QString("observação que se repete"), qint64(-7), -0.25, false,
         QDate(1, 1, 1), QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59, 999))},
        {QVariant(), QVariant(), QVariant(), QVariant(), QVariant(), QVariant(), QVariant()},
        {QString("0001234567"), QString("única: ü € 中"), std::numeric_limits<qint64>::min(), 1e300,
         true, QDate(1970, 1, 1), QDateTime(QDate(1969, 12, 31), QTime(0, 0))},
    };
}

// The rows above, each value through the call of its column's type.
void loadTyped(DataSetLoader& loader, const QList<QVariantList>& rows) {
    for (const QVariantList& row : rows) {
        loader.beginRow();
        for (int c = 0; c < row.size(); ++c) {
            const QVariant& v = row[c];
            if (!v.isValid()) {
                loader.null();
                continue;
            }
            switch (kColumns[c].type) {
                case FieldType::String:
                    loader.text(v.toString());
                    break;
                case FieldType::Memo:
                    loader.utf8(v.toString().toUtf8());
                    break;
                case FieldType::Integer:
                    loader.integer(v.toLongLong());
                    break;
                case FieldType::Float:
                    loader.floating(v.toDouble());
                    break;
                case FieldType::Boolean:
                    loader.boolean(v.toBool());
                    break;
                case FieldType::Date:
                    loader.dateDays(packetDays(v.toDate()));
                    break;
                case FieldType::DateTime:
                    loader.dateTimeMillis(packetMillis(v.toDateTime()));
                    break;
            }
        }
        loader.endRow();
    }
}

// A data set of one row, CODIGO "antes", to see that failed loads leave it alone.
void loadOneRow(TClientDataSet& ds) {
    ds.SetData(encodePacket({kColumns[0]}, {{QString("antes")}}));
}

void expectUntouched(TClientDataSet& ds) {
    QVERIFY(ds.Active());
    QCOMPARE(ds.FieldCount(), 1);
    QCOMPARE(ds.RecordCount(), 1);
    QCOMPARE(ds.FieldByName("CODIGO").AsString(), QString("antes"));
}

}  // namespace

class TestDataSetLoader : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil)); }

    // Rows loaded value by value, through the typed calls or as variants, are the rows the
    // same values bring in a packet: same fields, same values, nulls in every type.
    void everyTypeLoadsAsFromAPacket() {
        const QList<QVariantList> rows = sampleRows();
        TClientDataSet fromPacket;
        fromPacket.SetData(encodePacket(kColumns, rows));

        TClientDataSet typed;
        DataSetLoader byType(typed, kColumns, rows.size());
        loadTyped(byType, rows);
        QVERIFY(!typed.Active());  // nothing shows before finish
        byType.finish();

        TClientDataSet variants;
        DataSetLoader byValue(variants, kColumns);
        for (const QVariantList& row : rows) {
            byValue.beginRow();
            for (const QVariant& v : row) {
                byValue.value(v);
            }
            byValue.endRow();
        }
        byValue.finish();

        for (TClientDataSet* ds : {&typed, &variants}) {
            QCOMPARE(ds->FieldDefs(), kColumns);
            QCOMPARE(ds->RecordCount(), rows.size());
            QCOMPARE(ds->RecNo(), 1);
            QCOMPARE(ds->Data(), fromPacket.Data());
            for (int r = 0; r < rows.size(); ++r) {
                for (int c = 0; c < kColumns.size(); ++c) {
                    QCOMPARE(ds->ValueAt(r, c), fromPacket.ValueAt(r, c));
                }
            }
        }
        typed.SetRecNo(3);
        for (int c = 0; c < kColumns.size(); ++c) {
            QVERIFY(typed.Fields(c).IsNull());
        }
        typed.SetRecNo(2);
        QCOMPARE(typed.FieldByName("CODIGO").AsString(), QString("Ação"));
        QCOMPARE(typed.FieldByName("MOMENTO").AsString(), QString("31/12/9999 23:59:59"));

        // Text and numbers given as variants become the column's type, as in a packet.
        TClientDataSet converted;
        DataSetLoader loader(converted, {kColumns[2], kColumns[5]});
        loader.beginRow();
        loader.value(QString(" 12 "));
        loader.value(QString("05/01/2024"));
        loader.endRow();
        loader.finish();
        QCOMPARE(converted.FieldByName("QTDE").AsInteger(), 12);
        QCOMPARE(converted.FieldByName("EMISSAO").AsDate(), QDate(2024, 1, 5));
    }

    // Persistent fields take their columns by name, in any order and case, converted to the
    // field's type; other columns are passed over; the size of a column learnt at the end
    // becomes the size of a field made of it.
    void persistentFieldsTakeTheirColumnsByName() {
        TClientDataSet ds;
        ds.AddField({"emissao", FieldType::DateTime, 0, false});
        ds.AddField({"QTDE", FieldType::String, 5, false});
        ds.AddField({"CODIGO", FieldType::String, 10, false});
        DataSetLoader loader(ds, kColumns);
        loadTyped(loader, sampleRows());
        loader.finish();
        QCOMPARE(ds.FieldCount(), 3);
        QCOMPARE(ds.Fields(0).FieldName(), QString("emissao"));
        QCOMPARE(ds.FieldByName("EMISSAO").AsDateTime(), QDateTime(QDate(2024, 1, 5), QTime(0, 0)));
        QCOMPARE(ds.FieldByName("QTDE").AsString(), QString("42"));
        QCOMPARE(ds.FieldByName("CODIGO").AsString(), QString("N"));
        ds.Last();
        QCOMPARE(ds.FieldByName("QTDE").AsString(), QString("-9223"));  // cut to the field's size
        QVERIFY(ds.FindField("OBS") == nullptr);

        TClientDataSet sized;
        DataSetLoader columns(sized, {kColumns[0]});
        columns.setColumnSize(0, 37);
        columns.finish();
        QCOMPARE(sized.FieldByName("CODIGO").Size(), 37);
        QCOMPARE(sized.RecordCount(), 0);
    }

    // A load that cannot go on raises, naming what is wrong, and leaves the data set with the
    // rows it had; so does a loader dropped before finish.
    void failedLoadsLeaveTheDataSetAsItWas() {
        TClientDataSet ds;
        ds.setObjectName("cdsCarga");
        loadOneRow(ds);

        {
            DataSetLoader dropped(ds, kColumns);
            loadTyped(dropped, sampleRows());
        }
        expectUntouched(ds);

        auto attempt = [&](const std::function<void(DataSetLoader&)>& steps) {
            DataSetLoader loader(ds, kColumns);
            loader.beginRow();
            steps(loader);
            loader.endRow();
            loader.finish();
        };
        try {
            attempt([](DataSetLoader& l) { l.integer(5); });
            QFAIL("a number taken for the text column");
        } catch (const EDataSetError& e) {
            QVERIFY2(e.text().contains("CODIGO"), qPrintable(e.text()));
        }
        expectUntouched(ds);
        try {
            attempt([](DataSetLoader& l) { l.text("a"); });
            QFAIL("a row of one value ended");
        } catch (const EDataSetError& e) {
            QVERIFY2(e.text().contains("esperados 7"), qPrintable(e.text()));
        }
        expectUntouched(ds);
        QVERIFY_THROWS_EXCEPTION(EPacketError,
                                 attempt([](DataSetLoader& l) { l.utf8("caf\xC3"); }));
        expectUntouched(ds);
        QVERIFY_THROWS_EXCEPTION(EPacketError, attempt([](DataSetLoader& l) {
                                     l.text("a");
                                     l.text("b");
                                     l.value(QString("doze"));
                                 }));
        expectUntouched(ds);
        QVERIFY_THROWS_EXCEPTION(EDataSetError, attempt([](DataSetLoader& l) {
                                     for (int c = 0; c < 5; ++c) {
                                         l.null();
                                     }
                                     l.dateDays(packetDays(QDate(9999, 12, 31)) + 1);
                                 }));
        expectUntouched(ds);

        TClientDataSet persistent;
        persistent.AddField({"NOPE", FieldType::String, 1, false});
        try {
            DataSetLoader loader(persistent, kColumns);
            QFAIL("a field no column names accepted");
        } catch (const EDataSetError& e) {
            QVERIFY2(e.text().contains("NOPE"), qPrintable(e.text()));
        }
        QVERIFY(!persistent.Active());
        QVERIFY_THROWS_EXCEPTION(
            EDataSetError, (void)DataSetLoader(ds, {kColumns[0], {"codigo", FieldType::Memo}}));
        expectUntouched(ds);
    }

    // A query over an SQLite database loads its rows straight into the data set: the same
    // fields (a text column as wide as its longest value) and the same rows as those rows
    // carried in a packet, nulls and every type SQLite gives included.
    void queryRowsLoadDirectly() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath("carga.db");
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "carga-setup");
            db.setDatabaseName(path);
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(
                q.exec("CREATE TABLE NOTA (NRNOTA INTEGER, NMEMIT VARCHAR(60), VRNOTA DOUBLE,"
                       " IDATIVO BOOLEAN, DSXML BLOB, DTEMISSAO VARCHAR(10))"));
            QVERIFY(db.transaction());
            QVERIFY(q.prepare("INSERT INTO NOTA VALUES (?, ?, ?, ?, ?, ?)"));
            for (int i = 0; i < 3000; ++i) {
                q.addBindValue(i % 500 == 7 ? QVariant() : QVariant(qint64(i) * 1000003));
                q.addBindValue(i % 500 == 8
                                   ? QVariant()
                                   : QVariant(QString("Emitente %1 Ltda — ç").arg(i % 40)));
                q.addBindValue(i % 500 == 9 ? QVariant() : QVariant(i * 1.25 - 100));
                q.addBindValue(i % 500 == 10 ? QVariant() : QVariant(i % 3 == 0));
                q.addBindValue(i % 500 == 11
                                   ? QVariant()
                                   : QVariant(QString("<nfe n=\"%1\"/>").arg(i).toUtf8()));
                q.addBindValue(QDate(2024, 1, 1).addDays(i % 300).toString("yyyy-MM-dd"));
                QVERIFY2(q.exec(), qPrintable(q.lastError().text()));
            }
            QVERIFY(db.commit());
            db.close();
        }
        QSqlDatabase::removeDatabase("carga-setup");

        DatabaseModule module(QStringLiteral("sqlite:") + path, QStringLiteral("carga"));
        TADOIBQuery qry;
        qry.SetDatabaseModule(&module);
        qry.SQL = QStringList{"SELECT NRNOTA, NMEMIT, VRNOTA, IDATIVO, DSXML, DTEMISSAO",
                              "  FROM NOTA ORDER BY ROWID"};
        qry.Open();
        QCOMPARE(qry.RecordCount(), 3000);
        const QList<FieldDef> defs = qry.FieldDefs();
        QCOMPARE(defs.size(), 6);
        QVERIFY(defs[0].type == FieldType::Integer);
        QVERIFY(defs[1].type == FieldType::String);
        QCOMPARE(defs[1].size, QString("Emitente 10 Ltda — ç").size());
        QVERIFY(defs[2].type == FieldType::Float);
        QVERIFY(defs[3].type == FieldType::Boolean);
        QVERIFY(defs[4].type == FieldType::Memo);

        // The rows as a packet of the same fields would bring them.
        QList<QVariantList> rows;
        QSqlQuery raw(module.database());
        raw.setNumericalPrecisionPolicy(QSql::LowPrecisionDouble);
        QVERIFY(
            raw.exec("SELECT NRNOTA, NMEMIT, VRNOTA, IDATIVO, DSXML, DTEMISSAO FROM NOTA"
                     " ORDER BY ROWID"));
        while (raw.next()) {
            QVariantList row;
            for (int c = 0; c < 6; ++c) {
                row.append(raw.value(c));
            }
            rows.append(row);
        }
        QCOMPARE(qry.Data(), encodePacket(defs, rows));
        TClientDataSet viaPacket;
        viaPacket.SetData(encodePacket(defs, rows));
        for (int r : {0, 7, 8, 9, 10, 11, 1234, 2999}) {
            for (int c = 0; c < 6; ++c) {
                QCOMPARE(qry.ValueAt(r, c), viaPacket.ValueAt(r, c));
            }
        }
        qry.SetRecNo(13);
        QCOMPARE(qry.FieldByName("DSXML").AsString(), QString("<nfe n=\"12\"/>"));
        QCOMPARE(qry.FieldByName("VRNOTA").AsFloat(), -85.0);
        qry.SetRecNo(8);
        QVERIFY(qry.FieldByName("NRNOTA").IsNull());
        qry.Close();
    }
};

QTEST_MAIN(TestDataSetLoader)
#include "tst_datasetloader.moc"
