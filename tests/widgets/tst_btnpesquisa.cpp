#include <QTest>

#include "support/scripteddialogs.h"
#include "ui/btnpesquisa.h"
#include "ui/maskedit.h"
#include "widgetfixtures.h"

using host::MsgButton;
using host::MsgType;
using host::TBtnPesquisa;
using host::test::DialogCall;
using host::test::ScriptedDialogs;

class TstBtnPesquisa : public QObject {
    Q_OBJECT

    std::unique_ptr<host::TClientDataSet> ds;
    std::unique_ptr<host::TDataSource> src;
    std::unique_ptr<QWidget> form;
    TBtnPesquisa* btp = nullptr;
    host::TMaskEdit* med = nullptr;
    QStringList log;

  private slots:
    void initTestCase() { widgettest::pinLocale(); }

    void init() {
        log.clear();
        ds = widgettest::makeDataSet(widgettest::fiveRows());
        src = std::make_unique<host::TDataSource>();
        src->SetDataSet(ds.get());
        form = std::make_unique<QWidget>();
        med = new host::TMaskEdit(form.get());
        btp = new TBtnPesquisa(form.get());
        btp->SetAssociate(med);
        btp->SetDataSource(src.get());
        btp->SetTitle(QStringLiteral("Filial"));
        btp->SetFieldCodigo(QStringLiteral("CODIGO"));
        btp->SetEmptyError(QStringLiteral("Não existe filial cadastrada."));
        btp->OnBeforePesq = [this](QObject* sender, bool&) {
            QCOMPARE(sender, btp);
            log << QStringLiteral("before");
        };
        btp->OnAfterPesq = [this](QObject*) {
            log << QStringLiteral("after:") + ds->FieldByName(QStringLiteral("CODIGO")).AsString();
            med->SetText(ds->FieldByName(QStringLiteral("CODIGO")).AsString());
        };
    }

    void cleanup() {
        form.reset();
        src.reset();
        ds.reset();
    }

    void pickPositionsTheDataSetAndRunsAfterPesq() {
        ScriptedDialogs dlg;
        dlg.setNextPick({3});
        btp->click();
        QVERIFY_DIALOGS(dlg);
        QCOMPARE(log, (QStringList{QStringLiteral("before"), QStringLiteral("after:0004")}));
        QCOMPARE(ds->RecNo(), 4);
        QCOMPARE(med->Text(), QStringLiteral("0004"));

        const DialogCall& call = dlg.calls().last();
        QCOMPARE(call.kind, DialogCall::Pick);
        QCOMPARE(call.pick.title, QStringLiteral("Filial"));
        QCOMPARE(call.pick.source, ds.get());
        QCOMPARE(call.pick.keyField, QStringLiteral("CODIGO"));
        QVERIFY(!call.pick.multiple);
        QCOMPARE(call.pick.columns, (QStringList{QStringLiteral("CODIGO"), QStringLiteral("NOME"),
                                                 QStringLiteral("VALOR")}));
        QVERIFY(call.pick.startKey.isEmpty());  // PesqChave is off
    }

    void cancelledPickChangesNothing() {
        ScriptedDialogs dlg;
        ds->SetRecNo(2);
        dlg.setNextPick({});
        btp->click();
        QVERIFY_DIALOGS(dlg);
        QCOMPARE(log, QStringList{QStringLiteral("before")});
        QCOMPARE(ds->RecNo(), 2);
    }

    void emptyListShowsEmptyErrorAndPicksNothing() {
        ScriptedDialogs dlg;
        ds->EmptyDataSet();
        dlg.expectMessage(QStringLiteral("Não existe filial cadastrada."), MsgType::Warning,
                          MsgButton::Ok);
        btp->click();
        QVERIFY_DIALOGS(dlg);
        QCOMPARE(log, QStringList{QStringLiteral("before")});

        // A list whose query was never opened is empty too.
        ds->Close();
        dlg.expectMessage(QStringLiteral("Não existe filial cadastrada."), MsgType::Warning,
                          MsgButton::Ok);
        btp->click();
        QVERIFY_DIALOGS(dlg);
    }

    void beforePesqCanRefuseOrStop() {
        ScriptedDialogs dlg;  // any list shown would be unexpected
        btp->OnBeforePesq = [this](QObject*, bool& allow) {
            log << QStringLiteral("refused");
            allow = false;
        };
        btp->click();
        QCOMPARE(log, QStringList{QStringLiteral("refused")});

        btp->OnBeforePesq = [](QObject*, bool&) { throw host::EStop(); };
        btp->click();
        QCOMPARE(log, QStringList{QStringLiteral("refused")});
        QVERIFY_DIALOGS(dlg);
    }

    void beforePesqOpensTheListItShows() {
        // The form fills the list in OnBeforePesq: the emptiness test comes after it.
        ScriptedDialogs dlg;
        ds->Close();
        dlg.setNextPick({0});
        btp->OnBeforePesq = [this](QObject*, bool&) {
            ds->Open();
            ds->Append();
            ds->FieldByName(QStringLiteral("CODIGO")).SetAsString(QStringLiteral("0099"));
            ds->Post();
        };
        btp->click();
        QVERIFY_DIALOGS(dlg);
        QCOMPARE(med->Text(), QStringLiteral("0099"));
    }

    void pesqChaveStartsOnTheTypedCode() {
        ScriptedDialogs dlg;
        btp->SetPesqChave(true);
        med->SetEditMask(QStringLiteral(">aaaa;0; "));
        QTest::keyClicks(med, QStringLiteral("0003"));
        dlg.setNextPick({2});
        btp->click();
        QVERIFY_DIALOGS(dlg);
        QCOMPARE(dlg.calls().last().pick.startKey, QStringLiteral("0003"));
    }

    void failuresInAfterPesqAreReported() {
        ScriptedDialogs dlg;
        btp->OnAfterPesq = [](QObject*) { throw host::EHostError(QStringLiteral("sem acesso")); };
        dlg.setNextPick({1});
        dlg.expectError(QStringLiteral("sem acesso"));
        btp->click();
        QVERIFY_DIALOGS(dlg);
        QCOMPARE(ds->RecNo(), 2);
    }

    void onClickReplacesTheListWhenSet() {
        ScriptedDialogs dlg;
        btp->SetDataSource(nullptr);
        btp->OnClick = [this] { log << QStringLiteral("click"); };
        btp->click();
        QCOMPARE(log, (QStringList{QStringLiteral("before"), QStringLiteral("click")}));

        // Without data source nor OnClick the click does nothing more.
        btp->OnClick = nullptr;
        log.clear();
        btp->click();
        QCOMPARE(log, QStringList{QStringLiteral("before")});
        QVERIFY_DIALOGS(dlg);
    }
};

QTEST_MAIN(TstBtnPesquisa)
#include "tst_btnpesquisa.moc"
