#include <QCborStreamWriter>
#include <QRandomGenerator>
#include <QtTest>
#include <limits>

#include "core/clientdataset.h"
#include "core/packet.h"

using namespace host;

namespace {

QList<FieldDef> allTypes() {
    return {{"S", FieldType::String, 10, false}, {"F", FieldType::String, 1, true},
            {"M", FieldType::Memo, 0, false},    {"I", FieldType::Integer, 0, false},
            {"D", FieldType::Float, 0, false},   {"B", FieldType::Boolean, 0, false},
            {"DT", FieldType::Date, 0, false},   {"TS", FieldType::DateTime, 0, false}};
}

QList<QVariantList> sampleRows() {
    const QString longText(4000, u'ç');
    return {
        {QString("Ação"), QString("S"), QString("linha 1\nlinha 2"), qint64(42), 1234.5, true,
         QDate(2024, 2, 29), QDateTime(QDate(2024, 3, 1), QTime(13, 45, 10, 123))},
        {QString(""), QVariant(), longText, std::numeric_limits<qint64>::max(), -0.001, false,
         QDate(1, 1, 1), QDateTime(QDate(1969, 12, 31), QTime(23, 59, 59, 999))},
        {QVariant(), QString("N"), QVariant(), std::numeric_limits<qint64>::min(), QVariant(),
         QVariant(), QDate(9999, 12, 31), QDateTime(QDate(2023, 7, 15), QTime(0, 0))},
        {QString("ÁÉÍÓÚ ãõ 日本"), QString(""), QString(""), qint64(0), 0.0, QVariant(), QVariant(),
         QVariant()},
    };
}

// A packet written by hand, for layouts the writer refuses to produce.
QByteArray handPacket(const std::function<void(QCborStreamWriter&)>& body) {
    QByteArray bytes;
    QCborStreamWriter w(&bytes);
    body(w);
    return bytes;
}

void writeHeader(QCborStreamWriter& w, const QString& magic = "ORVPKT", quint64 version = 1) {
    w.startArray(4);
    w.append(magic);
    w.append(version);
    w.startArray(2);
    w.startArray(4);
    w.append(QStringLiteral("NOME"));
    w.append(quint64(FieldType::String));
    w.append(quint64(20));
    w.append(false);
    w.endArray();
    w.startArray(4);
    w.append(QStringLiteral("VALOR"));
    w.append(quint64(FieldType::Integer));
    w.append(quint64(0));
    w.append(false);
    w.endArray();
    w.endArray();
}

}  // namespace

class TestPacket : public QObject {
    Q_OBJECT

  private slots:
    void roundTripsEveryFieldType() {
        const QByteArray bytes = encodePacket(allTypes(), sampleRows());
        QVERIFY(looksLikePacket(bytes));
        const DecodedPacket p = decodePacket(bytes);
        QCOMPARE(p.fields, allTypes());
        QCOMPARE(p.rows.size(), sampleRows().size());
        const QList<QVariantList> expected = sampleRows();
        for (int r = 0; r < expected.size(); ++r) {
            for (int c = 0; c < expected[r].size(); ++c) {
                const QVariant want = expected[r][c];
                const QVariant got = p.rows[r][c];
                QVERIFY2(want.isValid() == got.isValid(),
                         qPrintable(QString("row %1 col %2").arg(r).arg(c)));
                if (!want.isValid()) {
                    continue;
                }
                if (c == 7) {
                    QCOMPARE(got.toDateTime().date(), want.toDateTime().date());
                    QCOMPARE(got.toDateTime().time(), want.toDateTime().time());
                } else if (c == 3) {
                    QCOMPARE(got.toLongLong(), want.toLongLong());
                } else {
                    QCOMPARE(got, want);
                }
            }
        }
        QCOMPARE(p.rows[1][2].toString().size(), 4000);
        // An empty text stays empty, a null stays null.
        QVERIFY(p.rows[1][0].isValid());
        QCOMPARE(p.rows[1][0].toString(), QString());
        QVERIFY(!p.rows[2][0].isValid());
    }

    void dataSetReproducesThePacketByteForByte() {
        const QByteArray bytes = encodePacket(allTypes(), sampleRows());
        TClientDataSet ds;
        ds.SetData(bytes);
        QCOMPARE(ds.RecordCount(), 4);
        QCOMPARE(ds.Data(), bytes);
        QCOMPARE(ds.FieldByName("TS").AsDateTime(),
                 QDateTime(QDate(2024, 3, 1), QTime(13, 45, 10, 123)));
        QCOMPARE(ds.FieldByName("DT").AsDate(), QDate(2024, 2, 29));
        QCOMPARE(ds.FieldByName("I").AsInteger(), 42);
    }

    // The writer's own encoder must give the bytes a generic CBOR writer gives for the same
    // items, at every length where a text's head changes size and for texts whose UTF-8 form
    // is up to three times their length; rows counted at finish and rows copied from another
    // writer must give the same packet as rows announced up front.
    void writerMatchesAGenericCborWriter() {
        const QList<FieldDef> fields = {{"T", FieldType::String, 0, false},
                                        {"I", FieldType::Integer, 0, false},
                                        {"D", FieldType::Float, 0, false},
                                        {"B", FieldType::Boolean, 0, false}};
        QList<QVariantList> rows;
        const qint64 ints[] = {
            0,     23,    24,           255,          256,
            65535, 65536, 4294967295LL, 4294967296LL, -1,
            -24,   -25,   -256,         -257,         std::numeric_limits<qint64>::min()};
        int k = 0;
        for (int len :
             {0, 1, 7, 8, 22, 23, 24, 25, 84, 85, 86, 254, 255, 256, 21845, 21846, 65536}) {
            for (QChar c : {QChar(u'a'), QChar(u'ç'), QChar(u'日')}) {
                rows.append({QString(len, c), ints[k % 15], k * -1.25, k % 2 == 0});
                ++k;
            }
        }
        rows.append({QVariant(), QVariant(), QVariant(), QVariant()});

        const QByteArray generic = handPacket([&](QCborStreamWriter& w) {
            w.startArray(4);
            w.append(QLatin1String("ORVPKT"));
            w.append(quint64(1));
            w.startArray(quint64(fields.size()));
            for (const FieldDef& f : fields) {
                w.startArray(4);
                w.append(f.name);
                w.append(quint64(f.type));
                w.append(quint64(f.size));
                w.append(f.fixed);
                w.endArray();
            }
            w.endArray();
            w.startArray(quint64(rows.size()));
            for (const QVariantList& r : rows) {
                w.startArray(quint64(r.size()));
                if (!r[0].isValid()) {
                    for (int i = 0; i < r.size(); ++i) {
                        w.append(nullptr);
                    }
                } else {
                    w.append(r[0].toString());
                    w.append(r[1].toLongLong());
                    w.append(r[2].toDouble());
                    w.append(r[3].toBool());
                }
                w.endArray();
            }
            w.endArray();
            w.endArray();
        });
        QCOMPARE(encodePacket(fields, rows), generic);

        PacketWriter source(fields, PacketWriter::kRowsCountedAtFinish);
        PacketWriter copy(fields, PacketWriter::kRowsCountedAtFinish);
        for (const QVariantList& r : rows) {
            const qsizetype from = source.position();
            source.row(r);
            copy.encodedRow(source.encoded(from, source.position()));
        }
        QCOMPARE(source.finish(), generic);
        QCOMPARE(copy.finish(), generic);

        // A row of another layout is refused, and so is a row outside the announced count.
        PacketWriter narrow({{"T", FieldType::String, 0, false}}, 1);
        const qsizetype from = narrow.position();
        narrow.row({QStringLiteral("x")});
        PacketWriter wide(fields, 1);
        QVERIFY_THROWS_EXCEPTION(EPacketError,
                                 wide.encodedRow(narrow.encoded(from, narrow.position())));
        PacketWriter one({{"T", FieldType::String, 0, false}}, 1);
        one.encodedRow(narrow.encoded(from, narrow.position()));
        QVERIFY_THROWS_EXCEPTION(EPacketError,
                                 one.encodedRow(narrow.encoded(from, narrow.position())));
    }

    // A packet whose row count is learnt at the end comes out byte for byte as one announced
    // up front, whatever the size of the count's head. Writers reuse the buffers of large
    // packets let go: a packet still held is never written over by the writers after it, and a
    // small packet does not keep a large buffer to itself.
    void rowsCountedAtFinishAndReusedBuffers() {
        const QList<FieldDef> fields = {{"T", FieldType::String, 0, false},
                                        {"I", FieldType::Integer, 0, false}};
        auto write = [&](qsizetype rows, qsizetype announced, char fill) {
            PacketWriter w(fields, announced);
            for (qsizetype i = 0; i < rows; ++i) {
                w.row({QString(40, QChar(fill)), i});
            }
            return w.finish();
        };
        // The held packet is the largest buffer the writers have seen, the first they would
        // write into again.
        const qsizetype rows = 150000;
        const QByteArray first = write(rows, PacketWriter::kRowsCountedAtFinish, 'x');
        const QByteArray firstCopy(first.constData(), first.size());
        QByteArray second = write(rows, PacketWriter::kRowsCountedAtFinish, 'y');
        second = QByteArray();
        for (char fill : {'z', 'w'}) {
            const QByteArray next = write(rows, PacketWriter::kRowsCountedAtFinish, fill);
            QCOMPARE(first, firstCopy);
            const DecodedPacket p = decodePacket(next);
            QCOMPARE(p.rows.size(), rows);
            QCOMPARE(p.rows.last(), (QVariantList{QString(40, QChar(fill)), qint64(rows - 1)}));
        }

        for (qsizetype n : {0, 1, 23, 24, 255, 256, 65535, 65536}) {
            QCOMPARE(write(n, PacketWriter::kRowsCountedAtFinish, 'a'), write(n, n, 'a'));
        }
        const QByteArray small = write(3, PacketWriter::kRowsCountedAtFinish, 's');
        QCOMPARE(small, write(3, 3, 's'));
        QVERIFY(small.capacity() < 64 * 1024);
    }

    // Rows in other encodings than the writer's (indefinite lengths, single and half
    // precision), here after and before plain ones, read as the same values; an error after
    // many plain rows names its row and the position of the bad value, in the reader's words.
    void rowsOfAnyEncodingReadAlike() {
        auto plainRow = [](QCborStreamWriter& w, int i) {
            w.startArray(2);
            w.append(QStringLiteral("nota %1").arg(i));
            w.append(qint64(i));
            w.endArray();
        };
        const QByteArray odd = handPacket([&](QCborStreamWriter& w) {
            writeHeader(w);
            w.startArray();  // rows of indefinite length
            for (int i = 0; i < 50; ++i) {
                plainRow(w, i);
            }
            w.startArray();  // a row of indefinite length
            w.append(QStringLiteral("ímpar"));
            w.append(qint64(-7));
            w.endArray();
            for (int i = 51; i < 100; ++i) {
                plainRow(w, i);
            }
            w.endArray();
            w.endArray();
        });
        const DecodedPacket p = decodePacket(odd);
        QCOMPARE(p.rows.size(), 100);
        QCOMPARE(p.rows[49], (QVariantList{QStringLiteral("nota 49"), qint64(49)}));
        QCOMPARE(p.rows[50], (QVariantList{QStringLiteral("ímpar"), qint64(-7)}));
        QCOMPARE(p.rows[99], (QVariantList{QStringLiteral("nota 99"), qint64(99)}));
        TClientDataSet ds;
        ds.SetData(odd);
        QCOMPARE(ds.RecordCount(), 100);
        ds.SetRecNo(51);
        QCOMPARE(ds.FieldByName("NOME").AsString(), QStringLiteral("ímpar"));
        ds.Last();
        QCOMPARE(ds.FieldByName("VALOR").AsInteger(), 99);

        const QList<FieldDef> floats = {{"D", FieldType::Float, 0, false}};
        const QByteArray narrow = handPacket([&](QCborStreamWriter& w) {
            w.startArray(4);
            w.append(QLatin1String("ORVPKT"));
            w.append(quint64(1));
            w.startArray(1);
            w.startArray(4);
            w.append(QStringLiteral("D"));
            w.append(quint64(FieldType::Float));
            w.append(quint64(0));
            w.append(false);
            w.endArray();
            w.endArray();
            w.startArray(5);
            for (const auto& v : {std::function<void()>([&] { w.append(2.5); }),
                                  std::function<void()>([&] { w.append(0.25f); }),
                                  std::function<void()>([&] { w.append(qfloat16(1.5f)); }),
                                  std::function<void()>([&] { w.append(qint64(-3)); }),
                                  std::function<void()>([&] { w.append(nullptr); })}) {
                w.startArray(1);
                v();
                w.endArray();
            }
            w.endArray();
            w.endArray();
        });
        const DecodedPacket f = decodePacket(narrow);
        QCOMPARE(f.fields, floats);
        QCOMPARE(f.rows, (QList<QVariantList>{{2.5}, {0.25}, {1.5}, {-3.0}, {QVariant()}}));

        // Text where the 201st row wants an integer.
        qsizetype badAt = 0;
        const QByteArray bad = handPacket([&](QCborStreamWriter& w) {
            writeHeader(w);
            w.startArray(300);
            for (int i = 0; i < 200; ++i) {
                plainRow(w, i);
            }
            w.startArray(2);
            w.append(QStringLiteral("x"));
            badAt = w.device()->pos();
            w.append(QStringLiteral("12"));
            w.endArray();
            for (int i = 201; i < 300; ++i) {
                plainRow(w, i);
            }
            w.endArray();
            w.endArray();
        });
        try {
            decodePacket(bad);
            QFAIL("decoded a malformed packet");
        } catch (const EPacketError& e) {
            QVERIFY2(e.text().contains(QStringLiteral("campo VALOR (Integer) da linha 201")),
                     qPrintable(e.text()));
            QVERIFY2(e.text().endsWith(QStringLiteral("na posição %1.").arg(badAt)),
                     qPrintable(e.text()));
        }
    }

    void emptyPacketAndNoRows() {
        const QByteArray bytes = encodePacket(allTypes(), {});
        const DecodedPacket p = decodePacket(bytes);
        QCOMPARE(p.fields.size(), 8);
        QVERIFY(p.rows.isEmpty());
        TClientDataSet ds;
        ds.SetData(bytes);
        QVERIFY(ds.Active());
        QVERIFY(ds.IsEmpty());
        QVERIFY(ds.Eof());
    }

    void dateNumbersAreArithmetic() {
        QCOMPARE(packetDays(QDate(1970, 1, 1)), 0);
        QCOMPARE(packetDays(QDate(1969, 12, 31)), -1);
        QCOMPARE(packetMillis(QDate(1970, 1, 2), QTime(0, 0, 1)), 86401000);
        QCOMPARE(packetMillis(QDate(1969, 12, 31), QTime(23, 59, 59, 999)), -1);
        const QDateTime back = packetDateTime(-1);
        QCOMPARE(back.date(), QDate(1969, 12, 31));
        QCOMPARE(back.time(), QTime(23, 59, 59, 999));
        QVERIFY(!packetDaysInRange(packetDays(QDate(1, 1, 1)) - 1));
        QVERIFY(packetDaysInRange(packetDays(QDate(9999, 12, 31))));
    }

    void coercionOfLooseValues() {
        const FieldDef f{"V", FieldType::Float, 0, false};
        QCOMPARE(packetCoerce(QString("1234.5"), f).toDouble(), 1234.5);
        QCOMPARE(packetCoerce(QString("1.234,5"), f).toDouble(), 1234.5);
        QVERIFY(!packetCoerce(QString(""), f).isValid());
        QVERIFY_THROWS_EXCEPTION(EPacketError, packetCoerce(QString("abc"), f));
        const FieldDef i{"I", FieldType::Integer, 0, false};
        QCOMPARE(packetCoerce(2.0, i).toLongLong(), 2);
        QVERIFY_THROWS_EXCEPTION(EPacketError, packetCoerce(2.5, i));
        QVERIFY_THROWS_EXCEPTION(EPacketError, packetCoerce(QVariant(quint64(1) << 63), i));
        const FieldDef dt{"D", FieldType::DateTime, 0, false};
        QCOMPARE(packetCoerce(QString("05/06/2024 07:08:09"), dt).toDateTime(),
                 QDateTime(QDate(2024, 6, 5), QTime(7, 8, 9)));
        QCOMPARE(packetCoerce(QDate(2024, 6, 5), dt).toDateTime(),
                 QDateTime(QDate(2024, 6, 5), QTime(0, 0)));
        QVERIFY_THROWS_EXCEPTION(EPacketError, packetCoerce(QString("31/02/2024"), dt));
    }

    void writerRefusesInconsistentRows() {
        PacketWriter w(allTypes(), 1);
        QVERIFY_THROWS_EXCEPTION(EPacketError, w.row({QString("a")}));
        PacketWriter w2(allTypes(), 2);
        w2.row(sampleRows()[0]);
        QVERIFY_THROWS_EXCEPTION(EPacketError, w2.finish());  // one row short
        QVERIFY_THROWS_EXCEPTION(EPacketError, PacketWriter({{"A", FieldType::String, 1, false},
                                                             {"a", FieldType::Integer, 0, false}},
                                                            0));
    }

    void malformedPacketsAreRejected_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("mentions");

        QTest::newRow("not cbor") << QByteArray("hello world") << "";
        QTest::newRow("empty") << QByteArray() << "vazio";
        QTest::newRow("wrong magic") << handPacket([](QCborStreamWriter& w) {
            writeHeader(w, "XXXX");
            w.startArray(0);
            w.endArray();
            w.endArray();
        }) << "marca";
        QTest::newRow("future version") << handPacket([](QCborStreamWriter& w) {
            writeHeader(w, "ORVPKT", 2);
            w.startArray(0);
            w.endArray();
            w.endArray();
        }) << "versão";
        QTest::newRow("text in integer field") << handPacket([](QCborStreamWriter& w) {
            writeHeader(w);
            w.startArray(1);
            w.startArray(2);
            w.append(QStringLiteral("x"));
            w.append(QStringLiteral("12"));
            w.endArray();
            w.endArray();
            w.endArray();
        }) << "VALOR";
        QTest::newRow("short row") << handPacket([](QCborStreamWriter& w) {
            writeHeader(w);
            w.startArray(1);
            w.startArray(1);
            w.append(QStringLiteral("x"));
            w.endArray();
            w.endArray();
            w.endArray();
        }) << "linha 1";
        QTest::newRow("long row, indefinite") << handPacket([](QCborStreamWriter& w) {
            writeHeader(w);
            w.startArray();
            w.startArray();
            w.append(QStringLiteral("x"));
            w.append(qint64(1));
            w.append(qint64(2));
            w.endArray();
            w.endArray();
            w.endArray();
        }) << "a mais";
        QTest::newRow("trailing garbage")
            << encodePacket({{"A", FieldType::Integer, 0, false}}, {{qint64(1)}}) +
                   QByteArray("\x01", 1)
            << "após";
        QTest::newRow("oversized row count") << handPacket([](QCborStreamWriter& w) {
            writeHeader(w);
            w.startArray(quint64(1) << 40);
            w.startArray(2);
            w.append(QStringLiteral("x"));
            w.append(qint64(1));
            w.endArray();
            w.endArray();
            w.endArray();
        }) << "";
        QTest::newRow("oversized string length")
            << QByteArray::fromHex("84664f5256504b5401818464") + QByteArray("NOME") +
                   QByteArray::fromHex("0114f4") + QByteArray::fromHex("81817bffffffffffffff00") +
                   QByteArray("ab")
            << "";
        // "NOME" holds bytes that are not UTF-8: a short code and a long text.
        const QByteArray header = QByteArray::fromHex("84664f5256504b5401818464") +
                                  QByteArray("NOME") + QByteArray::fromHex("0114f4");
        QTest::newRow("bad utf-8, short")
            << header + QByteArray::fromHex("81816361ff62") << "UTF-8";
        QTest::newRow("bad utf-8, long")
            << header + QByteArray::fromHex("81816c") + QByteArray("abcdefghij\xc3", 11) +
                   QByteArray("(", 1)
            << "UTF-8";
        QTest::newRow("unknown field type") << handPacket([](QCborStreamWriter& w) {
            w.startArray(4);
            w.append(QStringLiteral("ORVPKT"));
            w.append(quint64(1));
            w.startArray(1);
            w.startArray(4);
            w.append(QStringLiteral("X"));
            w.append(quint64(9));
            w.append(quint64(0));
            w.append(false);
            w.endArray();
            w.endArray();
            w.startArray(0);
            w.endArray();
            w.endArray();
        }) << "tipo 9";
        QTest::newRow("date out of range") << handPacket([](QCborStreamWriter& w) {
            w.startArray(4);
            w.append(QStringLiteral("ORVPKT"));
            w.append(quint64(1));
            w.startArray(1);
            w.startArray(4);
            w.append(QStringLiteral("D"));
            w.append(quint64(FieldType::DateTime));
            w.append(quint64(0));
            w.append(false);
            w.endArray();
            w.endArray();
            w.startArray(1);
            w.startArray(1);
            w.append(std::numeric_limits<qint64>::max());
            w.endArray();
            w.endArray();
            w.endArray();
        }) << "intervalo";
        QTest::newRow("integer beyond int64") << handPacket([](QCborStreamWriter& w) {
            writeHeader(w);
            w.startArray(1);
            w.startArray(2);
            w.append(QStringLiteral("x"));
            w.append(std::numeric_limits<quint64>::max());
            w.endArray();
            w.endArray();
            w.endArray();
        }) << "grande demais";
    }

    void malformedPacketsAreRejected() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, mentions);
        try {
            decodePacket(bytes);
            QFAIL("decoded a malformed packet");
        } catch (const EPacketError& e) {
            QVERIFY2(e.text().contains(mentions), qPrintable(e.text()));
            QVERIFY(e.text().startsWith("Pacote de dados inválido"));
        }
        // A data set that already holds rows keeps them.
        TClientDataSet ds;
        ds.SetData(encodePacket(allTypes(), sampleRows()));
        ds.Next();
        QVERIFY_THROWS_EXCEPTION(EPacketError, ds.SetData(bytes));
        QCOMPARE(ds.RecordCount(), 4);
        QCOMPARE(ds.RecNo(), 2);
        QCOMPARE(ds.FieldCount(), 8);
    }

    void everyTruncationIsAnError() {
        const QByteArray bytes =
            encodePacket(allTypes(), sampleRows().mid(0, 1) + sampleRows().mid(2));
        const QByteArray good = encodePacket(allTypes(), sampleRows());
        TClientDataSet ds;
        ds.SetData(good);
        for (int cut = 0; cut < bytes.size(); ++cut) {
            const QByteArray part = bytes.left(cut);
            bool threw = false;
            try {
                decodePacket(part);
            } catch (const EPacketError&) {
                threw = true;
            }
            QVERIFY2(threw, qPrintable(QString("cut at %1 decoded").arg(cut)));
            QVERIFY_THROWS_EXCEPTION(EPacketError, ds.SetData(part));
        }
        QCOMPARE(ds.Data(), good);
    }

    void randomByteFlipsNeverCrash() {
        const QByteArray bytes =
            encodePacket(allTypes(), sampleRows().mid(0, 1) + sampleRows().mid(2));
        QRandomGenerator rng(20240517);
        int rejected = 0;
        for (int round = 0; round < 3000; ++round) {
            QByteArray bad = bytes;
            const int flips = 1 + int(rng.bounded(3));
            for (int k = 0; k < flips; ++k) {
                const int at = int(rng.bounded(bad.size()));
                bad[at] = char(bad[at] ^ char(1 + rng.bounded(255)));
            }
            TClientDataSet ds;
            try {
                ds.SetData(bad);
                // Whatever decoded must be a consistent data set that encodes again.
                const QByteArray again = ds.Data();
                QCOMPARE(decodePacket(again).rows.size(), ds.RecordCount());
            } catch (const EPacketError&) {
                ++rejected;
                QVERIFY(!ds.Active());
            } catch (const EDataSetError&) {
                ++rejected;
                QVERIFY(!ds.Active());
            }
        }
        QVERIFY(rejected > 1000);
    }
};

QTEST_GUILESS_MAIN(TestPacket)
#include "tst_packet.moc"
