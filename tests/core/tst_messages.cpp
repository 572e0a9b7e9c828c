#include <QtTest>

#include "core/messages.h"

using namespace host;

class TestMessages : public QObject {
    Q_OBJECT

  private slots:
    void textIsEverythingAfterTheFirstBar() {
        TMessages msg;
        msg.SetLines({"NF_0|Sem situação", "AM_1|1 - Produção", "PIPE|a|b|c", "VAZIO|", "sem chave",
                      "NF_0|repetida"});
        QCOMPARE(msg.Msg("NF_0"), QString("Sem situação"));
        QCOMPARE(msg.Msg("AM_1"), QString("1 - Produção"));
        QCOMPARE(msg.Msg("PIPE"), QString("a|b|c"));
        QCOMPARE(msg.Msg("VAZIO"), QString());
        QCOMPARE(msg.Lines().size(), 6);
        QVERIFY(msg.HasKey("VAZIO"));
        QVERIFY(!msg.HasKey("nf_0"));  // keys are exact
    }

    void unknownKeyIsLoud() {
        QObject form;
        form.setObjectName("frmManifestacao");
        auto* msg = new TMessages(&form);
        msg->setObjectName("msgPadrao");
        msg->SetLines({"A|texto"});
        try {
            msg->Msg("MESMO_EVENTO");
            QFAIL("unknown key returned a text");
        } catch (const EProgrammingError& e) {
            QVERIFY(e.text().contains("MESMO_EVENTO"));
            QVERIFY(e.text().contains("msgPadrao"));
            QVERIFY(e.text().contains("frmManifestacao"));
        }
        // Replacing the lines drops the old keys.
        msg->SetLines({"B|outro"});
        QVERIFY_THROWS_EXCEPTION(EProgrammingError, msg->Msg("A"));
        msg->AddLine("A|de volta");
        QCOMPARE(msg->Msg("A"), QString("de volta"));
    }
};

QTEST_GUILESS_MAIN(TestMessages)
#include "tst_messages.moc"
