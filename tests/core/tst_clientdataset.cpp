#include <QRandomGenerator>
#include <QSignalSpy>
#include <QtTest>
#include <limits>
#include <memory>

#include "core/clientdataset.h"
#include "core/packet.h"
#include "core/textfold.h"

using namespace host;

namespace {

const QList<FieldDef> kNoteFields = {
    {"IDMARCADO", FieldType::String, 1, true},    {"NMRAZSOCEMIT", FieldType::String, 250, false},
    {"DTEMISSAO", FieldType::DateTime, 0, false}, {"VRNOTAFISC", FieldType::Float, 0, false},
    {"IDNOTA", FieldType::String, 1, true},       {"NRACESSONF", FieldType::String, 50, false},
};

QDateTime at(int y, int m, int d) {
    return QDateTime(QDate(y, m, d), QTime(0, 0));
}

QVariantList note(const char* marked, const QString& name, const QDateTime& date, double value,
                  const char* idnota, const QString& key) {
    return {QString(marked), name, date, value, QString(idnota), key};
}

QByteArray notesPacket() {
    return encodePacket(kNoteFields, {
                                         note("N", "Zeta Comércio", at(2024, 1, 5), 10, "1", "K1"),
                                         note("S", "álvaro peças", at(2024, 1, 9), 30, "2", "K2"),
                                         note("N", "ÁLVARO PEÇAS", at(2024, 1, 2), 20, "3", "K3"),
                                         note("S", "Beta", at(2024, 1, 1), 5, "2", "K4"),
                                         note("N", "abacaxi", at(2024, 1, 1), 7, "5", "K5"),
                                         note("N", "Álvaro Peças", at(2024, 1, 2), 15, "", "K6"),
                                     });
}

QStringList column(TClientDataSet& ds, const QString& field) {
    QStringList out;
    for (int r = 0; r < ds.RecordCount(); ++r) {
        out << ds.FieldByName(field).ValueAt(r).toString();
    }
    return out;
}

}  // namespace

class TestClientDataSet : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil)); }

    // --- fields -----------------------------------------------------------------------------
    // A large answer's texts that do not repeat (keys, notes) are kept as their bytes until
    // read, and its rows live in blocks that the next data sets reuse once this one lets them
    // go: every value reads as the packet says, however it is reached, and a data set still
    // open keeps its values while others load into the memory of those closed.
    void largeAnswersReadAsThePacketSays() {
        const QList<FieldDef> fields = {{"CHAVE", FieldType::String, 44, false},
                                        {"NOME", FieldType::String, 60, false},
                                        {"OBS", FieldType::Memo, 0, false},
                                        {"VALOR", FieldType::Integer, 0, false}};
        const QStringList names = {QStringLiteral("Comércio Ávila"), QStringLiteral("Beta Ltda"),
                                   QStringLiteral("Çedilha & Filhos")};
        auto packet = [&](int rows, int salt) {
            QList<QVariantList> out;
            for (int i = 0; i < rows; ++i) {
                QVariant obs;
                if (i % 7 == 1) {
                    obs = QStringLiteral("observação número %1/%2 — ü").arg(i).arg(salt);
                } else if (i == 4500) {
                    obs = QString(70000, QChar(u'é'));  // longer than a block
                } else if (i % 7 == 3) {
                    obs = QStringLiteral("\uFEFFcom marca de ordem %1").arg(i);
                }
                out.append({QStringLiteral("%1").arg(i * 7919 + salt, 44, 10, QChar(u'0')),
                            names[i % names.size()], obs, qint64(i)});
            }
            return encodePacket(fields, out);
        };
        auto checkAll = [&](TClientDataSet& ds, const QByteArray& bytes) {
            const DecodedPacket p = decodePacket(bytes);
            QCOMPARE(ds.RecordCount(), p.rows.size());
            for (int i = 0; i < p.rows.size(); i += 97) {
                ds.SetRecNo(i + 1);
                for (int f = 0; f < fields.size(); ++f) {
                    QCOMPARE(ds.Fields(f).Value(), p.rows[i][f]);
                }
            }
            ds.Last();
            QCOMPARE(ds.FieldByName("OBS").Value(), p.rows.last()[2]);
        };

        const QByteArray first = packet(6000, 1);
        auto ds1 = std::make_unique<TClientDataSet>();
        ds1->SetData(first);
        checkAll(*ds1, first);
        QCOMPARE(decodePacket(ds1->Data()).rows, decodePacket(first).rows);
        TClientDataSet ds2;
        const QByteArray second = packet(5000, 2);
        ds2.SetData(second);
        ds2.SetRecNo(4501);
        QCOMPARE(ds2.FieldByName("OBS").AsString(), QString(70000, QChar(u'é')));

        // Reached through the index (the keys sort as texts), a filter and Locate too; a row
        // added to the sorted keys takes its place among them.
        ds2.SetIndexFieldNames("CHAVE");
        ds2.First();
        QCOMPARE(ds2.FieldByName("VALOR").AsInteger(), 0);
        ds2.Next();
        QCOMPARE(ds2.FieldByName("VALOR").AsInteger(), 1);
        ds2.Last();
        QCOMPARE(ds2.FieldByName("VALOR").AsInteger(), 4999);
        ds2.Append();
        ds2.FieldByName("CHAVE").SetAsString(
            QStringLiteral("%1").arg(7919 + 1, 44, 10, QChar(u'0')));
        ds2.FieldByName("VALOR").SetAsInteger(-1);
        ds2.Post();
        QCOMPARE(ds2.RecNo(), 2);
        ds2.Delete();
        QCOMPARE(decodePacket(ds2.Data()).rows, decodePacket(second).rows);
        ds2.SetIndexFieldNames("");
        ds2.SetFilter(QStringLiteral("OBS = 'observação número 8/2 — ü'"));
        ds2.SetFiltered(true);
        QCOMPARE(ds2.RecordCount(), 1);
        QCOMPARE(ds2.FieldByName("VALOR").AsInteger(), 8);
        ds2.SetFiltered(false);
        QVERIFY(ds2.Locate("CHAVE", QStringLiteral("%1").arg(3 * 7919 + 2, 44, 10, QChar(u'0'))));
        QCOMPARE(ds2.FieldByName("OBS").AsString(), QStringLiteral("com marca de ordem 3"));

        // The first one closed, two more load into its memory; the second still reads right.
        ds1.reset();
        TClientDataSet ds3, ds4;
        const QByteArray third = packet(6000, 3);
        ds3.SetData(third);
        ds4.SetData(first);
        checkAll(ds2, second);
        checkAll(ds3, third);
        checkAll(ds4, first);

        // Bytes that are not UTF-8 far into the packet are refused; the data set keeps its rows.
        QByteArray broken = third;
        const QByteArray text = QStringLiteral("observação número 4999/3 — ü").toUtf8();
        const qsizetype at = broken.indexOf(text);
        QVERIFY(at > 0);
        broken[at + text.size() - 1] = char(0xff);
        try {
            ds3.SetData(broken);
            QFAIL("loaded a packet that is not UTF-8");
        } catch (const EPacketError& e) {
            QVERIFY2(e.text().contains("UTF-8"), qPrintable(e.text()));
        }
        checkAll(ds3, third);
    }

    void persistentFieldsAreFilledByName() {
        TClientDataSet ds;
        ds.setObjectName("cdsNotas");
        // Declared in another order than the packet, and without IDNOTA/IDMARCADO.
        ds.AddField({"NRACESSONF", FieldType::String, 50, false});
        ds.AddField({"vrnotafisc", FieldType::Float, 0, false});
        ds.AddField({"DTEMISSAO", FieldType::Date, 0, false});  // packet has DateTime
        ds.SetData(notesPacket());
        QCOMPARE(ds.FieldCount(), 3);
        QCOMPARE(ds.Fields(0).FieldName(), QString("NRACESSONF"));
        QCOMPARE(ds.FieldByName("NRACESSONF").AsString(), QString("K1"));
        QCOMPARE(ds.FieldByName("VRNOTAFISC").AsFloat(), 10.0);
        QCOMPARE(ds.FieldByName("DTEMISSAO").AsDate(), QDate(2024, 1, 5));
        QVERIFY(ds.FindField("IDNOTA") == nullptr);

        // A packet without a declared field is refused, naming it, and nothing changes.
        TClientDataSet other;
        other.AddField({"NRACESSONF", FieldType::String, 50, false});
        other.AddField({"CDFILIAL", FieldType::String, 4, false});
        try {
            other.SetData(notesPacket());
            QFAIL("missing field accepted");
        } catch (const EDataSetError& e) {
            QVERIFY2(e.text().contains("CDFILIAL"), qPrintable(e.text()));
        }
        QVERIFY(!other.Active());
        QCOMPARE(other.FieldCount(), 2);

        // A packet whose values do not fit a declared type is refused as a whole.
        TClientDataSet typed;
        typed.AddField({"NRACESSONF", FieldType::Float, 0, false});
        typed.AddField({"IDNOTA", FieldType::Integer, 0, false});
        typed.CreateDataSet();
        typed.Append();
        typed.FieldByName("IDNOTA").SetAsInteger(9);
        typed.Post();
        try {
            typed.SetData(notesPacket());
            QFAIL("text accepted into a number field");
        } catch (const EDataSetError& e) {
            QVERIFY2(e.text().contains("NRACESSONF"), qPrintable(e.text()));
        }
        QCOMPARE(typed.RecordCount(), 1);
        QCOMPARE(typed.FieldByName("IDNOTA").AsInteger(), 9);
    }

    void packetFieldsWithoutPersistentOnes() {
        TClientDataSet ds;
        ds.SetData(notesPacket());
        QCOMPARE(ds.FieldDefs(), kNoteFields);
        QVERIFY_THROWS_EXCEPTION(EDataSetError, ds.FieldByName("NOPE"));
        QVERIFY_THROWS_EXCEPTION(EDataSetError, ds.AddField({"X", FieldType::String, 1, false}));
        // A second packet with other fields replaces them; a field that stays keeps its
        // object and settings.
        TField* kept = &ds.FieldByName("NRACESSONF");
        kept->SetDisplayLabel("Chave de Acesso");
        ds.SetData(encodePacket(
            {{"A", FieldType::Integer, 0, false}, {"NRACESSONF", FieldType::String, 44, false}},
            {{qint64(7), QString("K")}}));
        QCOMPARE(ds.FieldCount(), 2);
        QCOMPARE(ds.FieldByName("a").AsInteger(), 7);
        QCOMPARE(&ds.FieldByName("NRACESSONF"), kept);
        QCOMPARE(kept->Index(), 1);
        QCOMPARE(kept->Size(), 44);
        QCOMPARE(kept->DisplayLabel(), QString("Chave de Acesso"));
        QCOMPARE(kept->AsString(), QString("K"));
    }

    void badValuesAreRefusedWithTheirField() {
        TClientDataSet ds;
        ds.SetData(notesPacket());
        QVERIFY_THROWS_EXCEPTION(EDataSetError, ds.FieldByName("IDMARCADO").SetAsString("S"));
        ds.Edit();
        try {
            ds.FieldByName("VRNOTAFISC").SetAsString("doze");
            QFAIL("text accepted as a number");
        } catch (const EDataSetError& e) {
            QVERIFY(e.text().contains("VRNOTAFISC"));
        }
        ds.FieldByName("VRNOTAFISC").SetAsString("1.234,5");
        QCOMPARE(ds.FieldByName("VRNOTAFISC").AsFloat(), 1234.5);
        // Sized strings keep their size.
        ds.FieldByName("IDMARCADO").SetAsString("SIM");
        QCOMPARE(ds.FieldByName("IDMARCADO").AsString(), QString("S"));
        QVERIFY_THROWS_EXCEPTION(EDataSetError, ds.FieldByName("NMRAZSOCEMIT").AsInteger());
        ds.Cancel();
        QCOMPARE(ds.FieldByName("VRNOTAFISC").AsFloat(), 10.0);
    }

    // --- filter -----------------------------------------------------------------------------
    void filterExpressions_data() {
        QTest::addColumn<QString>("expr");
        QTest::addColumn<QStringList>("keys");
        QTest::newRow("marked") << "IDMARCADO = 'S'" << QStringList{"K2", "K4"};
        QTest::newRow("or in parentheses")
            << "(IDNOTA = '2' OR IDNOTA = '3')" << QStringList{"K2", "K3", "K4"};
        QTest::newRow("lower-case keywords and names")
            << "idmarcado = 'N' and not (idnota = '5' or IdNota <> '1')" << QStringList{"K1"};
        QTest::newRow("empty text matches empty") << "IDNOTA = ''" << QStringList{"K6"};
        QTest::newRow("quote inside text") << "NMRAZSOCEMIT = 'O''Brien'" << QStringList{};
        QTest::newRow("number field") << "VRNOTAFISC > 12" << QStringList{"K2", "K3", "K6"};
        QTest::newRow("date field")
            << "DTEMISSAO = '01/01/2024' AND IDMARCADO = 'S'" << QStringList{"K4"};
        QTest::newRow("and binds tighter than or")
            << "IDNOTA = '1' OR IDNOTA = '2' AND IDMARCADO = 'N'" << QStringList{"K1"};
    }

    void filterExpressions() {
        QFETCH(QString, expr);
        QFETCH(QStringList, keys);
        TClientDataSet ds;
        ds.SetData(notesPacket());
        ds.SetFilter(expr);
        ds.SetFiltered(true);
        QCOMPARE(column(ds, "NRACESSONF"), keys);
        QCOMPARE(ds.RecNo(), keys.isEmpty() ? 0 : 1);
        // The packet still holds every row.
        QCOMPARE(decodePacket(ds.Data()).rows.size(), 6);
        ds.SetFiltered(false);
        QCOMPARE(ds.RecordCount(), 6);
    }

    // A float read as an integer is rounded; one no qint64 holds is refused, not converted
    // with undefined behaviour.
    void floatAsInteger_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<bool>("fits");
        QTest::addColumn<qint64>("integer");
        QTest::newRow("rounded half away from zero") << -2.5 << true << qint64(-3);
        QTest::newRow("largest below 2^63")
            << 9223372036854774784.0 << true << qint64(9223372036854774784LL);
        QTest::newRow("-2^63") << -9223372036854775808.0 << true
                               << std::numeric_limits<qint64>::min();
        QTest::newRow("2^63") << 9223372036854775808.0 << false << qint64(0);
        QTest::newRow("1e300") << 1e300 << false << qint64(0);
        QTest::newRow("-inf") << -std::numeric_limits<double>::infinity() << false << qint64(0);
        QTest::newRow("nan") << std::numeric_limits<double>::quiet_NaN() << false << qint64(0);
    }

    void floatAsInteger() {
        QFETCH(double, value);
        QFETCH(bool, fits);
        QFETCH(qint64, integer);
        TClientDataSet ds;
        ds.AddField({"V", FieldType::Float, 0, false});
        ds.CreateDataSet();
        ds.Append();
        ds.FieldByName("V").SetAsFloat(value);
        ds.Post();
        if (fits) {
            QCOMPARE(ds.FieldByName("V").AsInteger(), integer);
        } else {
            QVERIFY_THROWS_EXCEPTION(EDataSetError, ds.FieldByName("V").AsInteger());
        }
    }

    // The packet the fuzzer found it with: a note whose value is 8.8e201.
    void floatBeyondIntegerFromAPacket() {
        QFile f(
            QStringLiteral(ORVANTA_SOURCE_DIR "/tests/core/data/packet-float-beyond-integer.cbor"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        TClientDataSet ds;
        ds.SetData(f.readAll());
        QVERIFY(ds.RecordCount() > 0);
        const TField& value = ds.FieldByName("VRNOTAFISC");
        QVERIFY(value.AsFloat() > 1e201);
        QVERIFY_THROWS_EXCEPTION(EDataSetError, value.AsInteger());
    }

    void badFilterExpressions_data() {
        QTest::addColumn<QString>("expr");
        QTest::addColumn<QString>("mentions");
        QTest::newRow("unknown field") << "IDFOO = 'S'"
                                       << "IDFOO";
        QTest::newRow("open quote") << "IDMARCADO = 'S"
                                    << "aspa";
        QTest::newRow("missing paren") << "(IDMARCADO = 'S'"
                                       << ")";
        QTest::newRow("missing value") << "IDMARCADO ="
                                       << "valor";
        QTest::newRow("dangling and") << "IDMARCADO = 'S' AND"
                                      << "incompleta";
        QTest::newRow("bad number") << "VRNOTAFISC = 'muito'"
                                    << "VRNOTAFISC";
        QTest::newRow("field to field") << "IDNOTA = IDMARCADO"
                                        << "campos";
        QTest::newRow("stray char") << "IDMARCADO = 'S' ; drop"
                                    << ";";
        // The expression is quoted as typed, whatever percent signs it holds (the first one
        // as the fuzzer found it).
        QTest::newRow("percent digits in the text") << "DA`%00'"
                                                    << "\"DA`%00'\"";
        QTest::newRow("percent one in a literal") << "NMRAZSOCEMIT = '100%1' AND"
                                                  << "\"NMRAZSOCEMIT = '100%1' AND\"";
    }

    void badFilterExpressions() {
        QFETCH(QString, expr);
        QFETCH(QString, mentions);
        TClientDataSet ds;
        ds.SetData(notesPacket());
        ds.SetFilter("IDMARCADO = 'S'");
        ds.SetFiltered(true);
        try {
            ds.SetFilter(expr);
            QFAIL("bad filter accepted");
        } catch (const EDataSetError& e) {
            QVERIFY2(e.text().contains(mentions), qPrintable(e.text()));
        }
        // The previous filter stays in force.
        QCOMPARE(ds.Filter(), QString("IDMARCADO = 'S'"));
        QCOMPARE(ds.RecordCount(), 2);

        TClientDataSet off;
        off.SetData(notesPacket());
        off.SetFilter(expr);  // not filtered yet: no complaint
        QVERIFY_THROWS_EXCEPTION(EDataSetError, off.SetFiltered(true));
        QVERIFY(!off.Filtered());
        QCOMPARE(off.RecordCount(), 6);
    }

    // --- index ------------------------------------------------------------------------------
    void indexOrderIgnoresCaseAndAccents() {
        TClientDataSet ds;
        ds.SetIndexFieldNames("NMRAZSOCEMIT;DTEMISSAO;VRNOTAFISC");
        ds.SetData(notesPacket());
        // abacaxi; then the three "alvaro pecas" by date and value; Beta; Zeta.
        QCOMPARE(column(ds, "NRACESSONF"), (QStringList{"K5", "K6", "K3", "K2", "K4", "K1"}));

        // Editing a key field moves the row to its place on Post; the cursor follows it.
        QVERIFY(ds.Locate("NRACESSONF", "K4"));
        ds.Edit();
        ds.FieldByName("NMRAZSOCEMIT").SetAsString("Ângulo");
        QCOMPARE(column(ds, "NRACESSONF").at(4), QString("K4"));  // not before Post
        ds.Post();
        QCOMPARE(column(ds, "NRACESSONF"), (QStringList{"K5", "K6", "K3", "K2", "K4", "K1"}));
        ds.Edit();
        ds.FieldByName("NMRAZSOCEMIT").SetAsString("ÂÂ");
        ds.Post();
        QCOMPARE(column(ds, "NRACESSONF"), (QStringList{"K4", "K5", "K6", "K3", "K2", "K1"}));
        QCOMPARE(ds.FieldByName("NRACESSONF").AsString(), QString("K4"));
        QCOMPARE(ds.RecNo(), 1);

        // Nulls first; an appended row lands in order; insertion order is back without index.
        ds.Append();
        ds.FieldByName("NRACESSONF").SetAsString("K7");
        ds.FieldByName("NMRAZSOCEMIT").SetAsString("beta");
        ds.FieldByName("DTEMISSAO").SetAsDateTime(at(2023, 12, 31));
        ds.Post();
        QCOMPARE(ds.RecNo(), 6);
        ds.Append();
        ds.FieldByName("NRACESSONF").SetAsString("K8");
        ds.Post();
        QCOMPARE(column(ds, "NRACESSONF"),
                 (QStringList{"K8", "K4", "K5", "K6", "K3", "K2", "K7", "K1"}));
        ds.SetIndexFieldNames("");
        QCOMPARE(column(ds, "NRACESSONF"),
                 (QStringList{"K1", "K2", "K3", "K4", "K5", "K6", "K7", "K8"}));
        QVERIFY_THROWS_EXCEPTION(EDataSetError, ds.SetIndexFieldNames("NMRAZSOCEMIT;NOPE"));
    }

    void indexOrderHoldsThroughRandomEdits() {
        // Names from a tiny alphabet so that many differ only by case or accent.
        const QString letters = QStringLiteral("aAáÁbBcCçÇeEéÉ ");
        QRandomGenerator rng(4242);
        auto name = [&]() -> QVariant {
            if (rng.bounded(20) == 0) {
                return {};
            }
            QString s;
            const int len = 1 + int(rng.bounded(4));
            for (int i = 0; i < len; ++i) {
                s += letters[int(rng.bounded(letters.size()))];
            }
            return s;
        };
        QList<QVariantList> rows;
        for (int i = 0; i < 1500; ++i) {
            rows.append({QString("N"), name(), at(2024, 1, 1 + int(rng.bounded(3))),
                         rng.bounded(4) == 0 ? QVariant() : QVariant(double(rng.bounded(5)) - 2),
                         QString("1"), QString::number(i)});
        }
        TClientDataSet ds;
        ds.SetIndexFieldNames("NMRAZSOCEMIT;DTEMISSAO;VRNOTAFISC");
        ds.SetData(encodePacket(kNoteFields, rows));

        auto checkOrder = [&]() {
            TField& n = ds.FieldByName("NMRAZSOCEMIT");
            TField& d = ds.FieldByName("DTEMISSAO");
            TField& v = ds.FieldByName("VRNOTAFISC");
            for (int r = 1; r < ds.RecordCount(); ++r) {
                const QVariant n0 = n.ValueAt(r - 1), n1 = n.ValueAt(r);
                int c = n0.isValid() == n1.isValid()
                            ? (n0.isValid() ? foldCompare(n0.toString(), n1.toString()) : 0)
                            : (n0.isValid() ? 1 : -1);
                if (c == 0) {
                    const qint64 d0 = d.ValueAt(r - 1).toDateTime().toMSecsSinceEpoch();
                    const qint64 d1 = d.ValueAt(r).toDateTime().toMSecsSinceEpoch();
                    c = d0 < d1 ? -1 : (d0 > d1 ? 1 : 0);
                }
                if (c == 0) {
                    const QVariant v0 = v.ValueAt(r - 1), v1 = v.ValueAt(r);
                    c = v0.isValid() == v1.isValid()
                            ? (v0.isValid() ? (v0.toDouble() < v1.toDouble()
                                                   ? -1
                                                   : (v0.toDouble() > v1.toDouble() ? 1 : 0))
                                            : 0)
                            : (v0.isValid() ? 1 : -1);
                }
                QVERIFY2(c <= 0,
                         qPrintable(QString("rows %1 and %2 out of order").arg(r).arg(r + 1)));
            }
        };
        checkOrder();
        // Equal keys keep their packet order (a stable sort).
        ds.SetIndexFieldNames("IDMARCADO");
        QCOMPARE(ds.FieldByName("NRACESSONF").ValueAt(1499).toString(), QString("1499"));
        ds.SetIndexFieldNames("NMRAZSOCEMIT;DTEMISSAO;VRNOTAFISC");
        checkOrder();
        for (int i = 0; i < 200; ++i) {
            ds.SetRecNo(1 + int(rng.bounded(ds.RecordCount())));
            const QString key = ds.FieldByName("NRACESSONF").AsString();
            ds.Edit();
            ds.FieldByName("NMRAZSOCEMIT").SetValue(name());
            if (i % 3 == 0) {
                ds.FieldByName("VRNOTAFISC").SetAsFloat(double(rng.bounded(5)));
            }
            ds.Post();
            QCOMPARE(ds.FieldByName("NRACESSONF").AsString(), key);  // the cursor follows
        }
        checkOrder();
        QCOMPARE(ds.RecordCount(), 1500);
    }

    // --- navigation and Locate ----------------------------------------------------------------
    void navigationAndLocate() {
        TClientDataSet ds;
        ds.SetData(notesPacket());
        QVERIFY(ds.Bof());
        QCOMPARE(ds.RecNo(), 1);
        QStringList seen;
        for (ds.First(); !ds.Eof(); ds.Next()) {
            seen << ds.FieldByName("NRACESSONF").AsString();
        }
        QCOMPARE(seen.size(), 6);
        QCOMPARE(ds.RecNo(), 6);
        ds.Prior();
        QCOMPARE(ds.RecNo(), 5);
        ds.MoveBy(-10);
        QVERIFY(ds.Bof());
        QCOMPARE(ds.RecNo(), 1);
        ds.Last();
        QVERIFY(ds.Eof());
        ds.SetRecNo(3);
        QCOMPARE(ds.FieldByName("NRACESSONF").AsString(), QString("K3"));

        QVERIFY(ds.Locate("IDNOTA;IDMARCADO", QVariantList{"2", "N"}) == false);
        QCOMPARE(ds.RecNo(), 3);  // unchanged
        QVERIFY(ds.Locate("IDNOTA;IDMARCADO", QVariantList{"2", "S"}));
        QCOMPARE(ds.FieldByName("NRACESSONF").AsString(), QString("K2"));
        QVERIFY(!ds.Locate("NMRAZSOCEMIT", "beta"));
        QVERIFY(ds.Locate("NMRAZSOCEMIT", "beta", TClientDataSet::loCaseInsensitive));
        QCOMPARE(ds.RecNo(), 4);
        QVERIFY(ds.Locate("nmrazsocemit", "ÁLV", TClientDataSet::loPartialKey));
        QCOMPARE(ds.RecNo(), 3);
        QVERIFY(ds.Locate("VRNOTAFISC", 15));
        QCOMPARE(ds.RecNo(), 6);
        QVERIFY(ds.Locate("DTEMISSAO", QDate(2024, 1, 9)));
        QCOMPARE(ds.RecNo(), 2);
        QVERIFY_THROWS_EXCEPTION(EDataSetError, ds.Locate("NOPE", "x"));
        QVERIFY_THROWS_EXCEPTION(EDataSetError, ds.Locate("IDNOTA;IDMARCADO", "2"));
    }

    // --- states -----------------------------------------------------------------------------
    void editingStatesAndAutoPost() {
        TClientDataSet ds;
        QCOMPARE(ds.State(), DataSetState::Inactive);
        QVERIFY_THROWS_EXCEPTION(EDataSetError, ds.Next());
        ds.SetData(notesPacket());
        QCOMPARE(ds.State(), DataSetState::Browse);

        // Moving posts.
        ds.Edit();
        QCOMPARE(ds.State(), DataSetState::Edit);
        ds.FieldByName("IDMARCADO").SetAsString("S");
        QCOMPARE(ds.ValueAt(0, 0).toString(), QString("S"));  // the grid sees the pending edit
        ds.Next();
        QCOMPARE(ds.State(), DataSetState::Browse);
        QCOMPARE(ds.ValueAt(0, 0).toString(), QString("S"));

        // Filtering posts, and the posted value counts for the filter.
        ds.Edit();
        ds.FieldByName("IDMARCADO").SetAsString("N");
        ds.SetFilter("IDMARCADO = 'S'");
        ds.SetFiltered(true);
        QCOMPARE(column(ds, "NRACESSONF"), (QStringList{"K1", "K4"}));
        // A posted row that leaves the filter leaves the view.
        ds.Edit();
        ds.FieldByName("IDMARCADO").SetAsString("N");
        ds.Post();
        QCOMPARE(column(ds, "NRACESSONF"), (QStringList{"K4"}));
        ds.SetFiltered(false);

        // Cancel throws the change away.
        ds.First();
        ds.Edit();
        ds.FieldByName("NMRAZSOCEMIT").SetAsString("outro");
        ds.Cancel();
        QCOMPARE(ds.FieldByName("NMRAZSOCEMIT").AsString(), QString("Zeta Comércio"));

        // Insert goes before the current row; Append at the end.
        ds.SetRecNo(2);
        ds.Insert();
        QCOMPARE(ds.State(), DataSetState::Insert);
        QVERIFY(ds.FieldByName("NRACESSONF").IsNull());
        ds.FieldByName("NRACESSONF").SetAsString("NEW");
        ds.Post();
        QCOMPARE(ds.RecNo(), 2);
        ds.Append();
        ds.FieldByName("NRACESSONF").SetAsString("LAST");
        ds.Cancel();
        QCOMPARE(ds.RecordCount(), 7);
        ds.Append();
        ds.FieldByName("NRACESSONF").SetAsString("LAST");
        ds.Close();  // closing posts too
        QVERIFY(!ds.Active());
        QCOMPARE(ds.FieldCount(), 6);

        TClientDataSet again;
        again.SetData(notesPacket());
        again.SetRecNo(2);
        again.Insert();
        again.FieldByName("NRACESSONF").SetAsString("NEW");
        again.Post();
        QCOMPARE(column(again, "NRACESSONF"),
                 (QStringList{"K1", "NEW", "K2", "K3", "K4", "K5", "K6"}));
        QCOMPARE(decodePacket(again.Data()).rows.at(1).at(5).toString(), QString("NEW"));

        // Delete, EmptyDataSet, Edit on an empty set inserts.
        again.SetRecNo(7);
        again.Delete();
        QCOMPARE(again.RecordCount(), 6);
        QCOMPARE(again.RecNo(), 6);
        again.EmptyDataSet();
        QVERIFY(again.IsEmpty());
        QVERIFY(again.Active());
        QVERIFY_THROWS_EXCEPTION(EDataSetError, again.Delete());
        again.Edit();
        QCOMPARE(again.State(), DataSetState::Insert);
        again.FieldByName("IDMARCADO").SetAsString("S");
        again.Post();
        QCOMPARE(again.RecordCount(), 1);
        QVERIFY_THROWS_EXCEPTION(EDataSetError, again.Post());
    }

    void createDataSetFromDeclaredFields() {
        TClientDataSet marked;
        marked.AddField({"NRACESSONF", FieldType::String, 50, false});
        marked.AddField({"IDCONSULTADO", FieldType::String, 1, false});
        QVERIFY_THROWS_EXCEPTION(EDataSetError,
                                 marked.AddField({"nracessonf", FieldType::String, 1, false}));
        marked.CreateDataSet();
        QVERIFY(marked.IsEmpty());
        for (int i = 0; i < 3; ++i) {
            marked.Insert();
            marked.FieldByName("NRACESSONF").SetAsString(QString("K%1").arg(i));
            marked.FieldByName("IDCONSULTADO").SetAsString("N");
            marked.Post();
        }
        QCOMPARE(marked.RecordCount(), 3);
        TClientDataSet copy;
        copy.SetData(marked.Data());
        // Each Insert went before the current (last inserted) row.
        QCOMPARE(column(copy, "NRACESSONF"), (QStringList{"K2", "K1", "K0"}));
    }

    // --- events and signals -------------------------------------------------------------------
    void afterScrollRunsOnEveryMove() {
        TClientDataSet ds;
        int scrolls = 0;
        QStringList rowsSeen;
        ds.AfterScroll = [&](TClientDataSet& sender) {
            ++scrolls;
            rowsSeen << sender.FieldByName("NRACESSONF").AsString();
        };
        ds.SetData(notesPacket());
        QCOMPARE(scrolls, 1);  // opening lands on the first row
        ds.DisableControls();
        ds.First();
        while (!ds.Eof()) {
            ds.Next();
        }
        ds.EnableControls();
        QCOMPARE(scrolls, 1 + 1 + 5);  // First, then five real moves; Next at the end does not
        QCOMPARE(rowsSeen.last(), QString("K6"));
        ds.Locate("NRACESSONF", "K3");
        ds.SetFilter("IDMARCADO = 'S'");
        ds.SetFiltered(true);  // filtering goes to the first row
        QCOMPARE(scrolls, 9);
        QCOMPARE(rowsSeen.last(), QString("K2"));
        ds.Delete();
        QCOMPARE(scrolls, 10);
        QCOMPARE(rowsSeen.last(), QString("K4"));
    }

    void disabledControlsHearOnceAtTheEnd() {
        TClientDataSet ds;
        ds.SetData(notesPacket());
        QSignalSpy data(&ds, &TClientDataSet::dataChanged);
        QSignalSpy current(&ds, &TClientDataSet::currentChanged);
        QSignalSpy row(&ds, &TClientDataSet::rowChanged);
        QSignalSpy state(&ds, &TClientDataSet::stateChanged);

        ds.Next();
        QCOMPARE(current.count(), 1);
        QCOMPARE(current.last().at(0).toInt(), 1);

        ds.DisableControls();
        ds.DisableControls();
        QVERIFY(ds.ControlsDisabled());
        ds.First();
        while (!ds.Eof()) {
            ds.Edit();
            ds.FieldByName("IDMARCADO").SetAsString("S");
            ds.Next();
        }
        ds.EnableControls();
        QVERIFY(ds.ControlsDisabled());
        QCOMPARE(data.count() + row.count() + state.count(), 0);
        QCOMPARE(current.count(), 1);
        ds.EnableControls();
        QVERIFY(!ds.ControlsDisabled());
        QCOMPARE(data.count(), 1);
        QCOMPARE(state.count(), 1);
        QCOMPARE(current.count(), 2);
        QCOMPARE(row.count(), 0);
        ds.EnableControls();  // unbalanced: ignored
        QCOMPARE(data.count(), 1);

        // Nothing happened while disabled: nothing to tell.
        ds.DisableControls();
        ds.EnableControls();
        QCOMPARE(data.count(), 1);

        // Outside a disabled stretch each edit is a row change.
        ds.Edit();
        ds.FieldByName("IDMARCADO").SetAsString("N");
        ds.Post();
        QVERIFY(row.count() >= 1);
        QCOMPARE(row.last().at(0).toInt(), ds.CurrentViewRow());
    }

    void dataSourceRelaysTheDataSet() {
        TClientDataSet ds;
        TDataSource src;
        int stateCalls = 0;
        src.OnStateChange = [&](TDataSource&) { ++stateCalls; };
        QSignalSpy changed(&src, &TDataSource::dataSetChanged);
        QSignalSpy data(&src, &TDataSource::dataChanged);
        src.SetDataSet(&ds);
        QCOMPARE(changed.count(), 1);
        ds.SetData(notesPacket());
        QCOMPARE(stateCalls, 1);
        QVERIFY(data.count() >= 1);
        ds.Edit();
        QCOMPARE(stateCalls, 2);
        ds.Cancel();
        src.SetDataSet(nullptr);
        ds.Edit();
        QCOMPARE(stateCalls, 3);
        {
            auto* temp = new TClientDataSet;
            src.SetDataSet(temp);
            delete temp;
        }
        QVERIFY(src.DataSet() == nullptr);
    }

    // --- display ----------------------------------------------------------------------------
    void displayTexts() {
        TClientDataSet ds;
        ds.SetData(
            encodePacket({{"V", FieldType::Float, 0, false},
                          {"D", FieldType::DateTime, 0, false},
                          {"C", FieldType::String, 1, false}},
                         {{1234.5, QDateTime(QDate(2024, 3, 7), QTime(0, 0)), QString("1")},
                          {-0.004, QDateTime(QDate(2024, 3, 7), QTime(8, 5, 3)), QString("9")},
                          {1234567.891, QVariant(), QVariant()}}));
        TField& v = ds.FieldByName("V");
        QCOMPARE(v.DisplayText(), QString("1234,5"));
        v.SetDisplayFormat("###0.00");
        QCOMPARE(v.DisplayText(), QString("1234,50"));
        QCOMPARE(v.DisplayTextAt(1), QString("0,00"));  // no "-0,00"
        QCOMPARE(v.DisplayTextAt(2), QString("1234567,89"));
        v.SetDisplayFormat("#,##0.00");
        QCOMPARE(v.DisplayTextAt(2), QString("1.234.567,89"));
        v.SetDisplayFormat("R$ #,##0.##");
        QCOMPARE(v.DisplayText(), QString("R$ 1.234,5"));

        TField& d = ds.FieldByName("D");
        QCOMPARE(d.DisplayText(), QString("07/03/2024"));
        QCOMPARE(d.DisplayTextAt(1), QString("07/03/2024 08:05:03"));
        QCOMPARE(d.DisplayTextAt(2), QString());

        // OnGetText sees the displayed row as the current one; no handler text means none.
        TField& c = ds.FieldByName("C");
        c.SetOnGetText([](TField& sender, QString& text, bool) {
            if (sender.AsString() == "1") {
                text = "Confirmada";
            }
        });
        QCOMPARE(c.DisplayTextAt(0), QString("Confirmada"));
        QCOMPARE(c.DisplayTextAt(1), QString());
        QCOMPARE(ds.RecNo(), 1);
        ds.Next();
        QCOMPARE(c.DisplayText(), QString());
    }
};

QTEST_GUILESS_MAIN(TestClientDataSet)
#include "tst_clientdataset.moc"
