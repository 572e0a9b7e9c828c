// The list of addressed notes: layout, display texts, the owner-drawn cells, marking with its
// counter and warning, the command states and the copy of the marked notes.

#include <QHeaderView>
#include <QImage>
#include <QtTest>

#include "Cli_Dfe58000.h"
#include "support/scripteddialogs.h"
#include "workspacefixture.h"

using namespace host;
using host::test::ScriptedDialogs;

namespace {

const QString kAviso = QStringLiteral(
    "A nota selecionada possui um tipo diferente de evento de manifestação. Ao selecionar notas "
    "com tipos diferentes, todas terão o mesmo tipo de manifestação a ser realizada.");

QVariantMap nota(const QString& nome, const QString& marcado, const QString& manif,
                 const QVariantMap& extra = {}) {
    QVariantMap m{{"NMRAZSOCEMIT", nome},
                  {"IDMARCADO", marcado},
                  {"IDSTATUSMANIF", manif},
                  {"IDSTATUSNFE", "1"},
                  {"IDNOTA", "2"},
                  {"NRACESSONF", "3520" + nome.toUtf8().toHex().leftJustified(40, '0')}};
    for (auto it = extra.begin(); it != extra.end(); ++it) {
        m.insert(it.key(), it.value());
    }
    return m;
}

// Whether any pixel of the rectangle has exactly this colour.
bool hasColour(const QImage& img, const QRect& r, const QColor& c) {
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) {
            if (img.pixelColor(x, y).rgb() == c.rgb()) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace

class TestNotesList : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void init();
    void cleanup();

    void recordLayoutOrderAndGrid();
    void displayTextsOfCodesAndDates();
    void cellsAreColouredAndCheckedByRow();
    void warningShownOncePerMarkingCycle();
    void markAllAndUnmarkAllCounters();
    void commandStatesFollowTheCurrentRow();
    void copyOfMarkedNotesLeavesListUnfiltered();

  private:
    void load(const QList<QVariantMap>& rows);
    QImage grabGrid();
    WorkspaceEnv m_env;
    TfrmManifestacao* f = nullptr;
};

void TestNotesList::initTestCase() {
    const QString failed = m_env.start(QStringLiteral("01"), false);
    QVERIFY2(failed.isEmpty(), qPrintable(failed));
}

void TestNotesList::init() {
    inMarcados = 0;
    f = new TfrmManifestacao();
    f->DoCreate();
    f->resize(1200, 600);
    f->show();
    QVERIFY(QTest::qWaitForWindowExposed(f));
}

void TestNotesList::cleanup() {
    delete f;
    f = nullptr;
}

void TestNotesList::load(const QList<QVariantMap>& rows) {
    f->CarregaNotas(notesPacket(*f->cdsNotasDestinadas, rows));
    QCoreApplication::processEvents();
}

QImage TestNotesList::grabGrid() {
    f->dbgPadrao->viewport()->update();
    QCoreApplication::processEvents();
    return f->dbgPadrao->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

void TestNotesList::recordLayoutOrderAndGrid() {
    const QStringList names = {
        "IDMARCADO",     "CDFILIALORIG",  "CDEMPRESA",        "NRINSJURNFORIG",  "NMRAZSOCEMIT",
        "NRNOTAFISC",    "DTENTRSAID",    "DTEMISSAO",        "CDSERIE",         "IDSTATUSNFE",
        "IDSTATUSMANIF", "IDTIPOINCL",    "IDTIPOEVENTO",     "IDAMBIENTEMANIF", "DTHREVENTO",
        "NRSEQEVENTO",   "DSCORRECAONFE", "DSOBSSTATUSMANIF", "CDFILIAL",        "NRLANCTONF",
        "NRINSJURNF",    "IDENTRSAIDNF",  "IDENTRSAIDOP",     "NRACESSONF",      "IDNOTA",
        "IDARQXMLNFE",   "NRACESSOINTG",  "VRNOTAFISC",       "DTRECBTO",        "NRINSJURIESTDEST",
        "CDINSCESTADEST"};
    const QList<FieldDef> defs = f->cdsNotasDestinadas->FieldDefs();
    QCOMPARE(defs.size(), 31);
    for (int i = 0; i < 31; ++i) {
        QCOMPARE(defs[i].name, names[i]);
    }
    QVERIFY(defs[0].fixed && defs[24].fixed);
    QCOMPARE(defs[16].size, 1000);
    QCOMPARE(defs[23].size, 50);
    QCOMPARE(defs[27].type, FieldType::Float);
    QCOMPARE(defs[28].type, FieldType::DateTime);
    QCOMPARE(f->cdsNotasDestinadas->IndexFieldNames(),
             QStringLiteral("NMRAZSOCEMIT;DTEMISSAO;VRNOTAFISC"));

    // Issuer, then issue date, then value.
    load({nota("Beta", "N", "0", {{"DTEMISSAO", QDateTime(QDate(2024, 1, 2), QTime())}}),
          nota("alfa", "N", "0", {{"VRNOTAFISC", 20.0}}),
          nota("Alfa", "N", "0", {{"VRNOTAFISC", 10.0}}),
          nota("Beta", "N", "0", {{"DTEMISSAO", QDateTime(QDate(2024, 1, 1), QTime())}})});
    QStringList order;
    for (f->cdsNotasDestinadas->First(); !f->cdsNotasDestinadas->Eof();
         f->cdsNotasDestinadas->Next()) {
        order << f->cdsNotasDestinadas->FieldByName("NMRAZSOCEMIT").AsString() + ":" +
                     f->cdsNotasDestinadas->FieldByName("VRNOTAFISC").DisplayText() + ":" +
                     f->cdsNotasDestinadas->FieldByName("DTEMISSAO").DisplayText();
    }
    QCOMPARE(order.join('|'),
             QStringLiteral("Alfa:10,00: - |alfa:20,00: - |Beta::01/01/2024|Beta::02/01/2024"));

    const TDBGridColumns& cols = f->dbgPadrao->Columns();
    QCOMPARE(cols.Count(), 19);
    QCOMPARE(cols[0].FieldName(), QStringLiteral("IDMARCADO"));
    QCOMPARE(cols[0].Width(), 20);
    QCOMPARE(cols[2].Title(), QStringLiteral("Inscrição Juridica"));
    QCOMPARE(cols[5].Width(), 200);
    QCOMPARE(cols[10].FieldName(), QStringLiteral("VRNOTAFISC"));
    QVERIFY(cols[10].TitleAlignment() & Qt::AlignRight);
    QCOMPARE(cols[13].Title(), QStringLiteral("Observação"));
    QVERIFY(!cols[13].Visible());
    QVERIFY(f->dbgPadrao->isColumnHidden(13));
    QCOMPARE(cols[18].Title(), QStringLiteral("Dt. Autorização"));
    QCOMPARE(cols[18].Width(), 90);

    QCOMPARE(f->cdsMarcados->FieldDefs().size(), 2);
    QCOMPARE(f->cdsNotasErradas->FieldByName("NMRAZSOCFORN").DisplayLabel(),
             QStringLiteral("Nome Emitente"));
    QCOMPARE(f->cdsDocumentoXML->FieldByName("DSTEXTOXML").DataType(), FieldType::Memo);
    QCOMPARE(f->cdsNotasTemp->FieldCount(), 0);
}

void TestNotesList::displayTextsOfCodesAndDates() {
    const QDateTime comHora(QDate(2024, 3, 5), QTime(14, 7, 9));
    const QDateTime meiaNoite(QDate(2024, 3, 6), QTime(0, 0));
    load({nota("A", "N", "5",
               {{"IDSTATUSNFE", "2"},
                {"IDTIPOINCL", "MX"},
                {"IDTIPOEVENTO", "9"},
                {"IDAMBIENTEMANIF", "2"},
                {"DTEMISSAO", comHora},
                {"DTENTRSAID", meiaNoite},
                {"IDNOTA", "6"},
                {"DTRECBTO", comHora},
                {"VRNOTAFISC", 1234.5}}),
          nota("B", "N", "4",
               {{"IDSTATUSNFE", "3"},
                {"IDTIPOINCL", "Z"},
                {"IDTIPOEVENTO", "2"},
                {"IDNOTA", "7"},
                {"DTRECBTO", meiaNoite},
                {"DTEMISSAO", QDateTime(QDate(1899, 12, 30), QTime())}}),
          nota("C", "N", "", {{"IDSTATUSNFE", ""}, {"IDNOTA", ""}, {"DTRECBTO", comHora}})});
    TClientDataSet& ds = *f->cdsNotasDestinadas;
    auto text = [&](const char* field) { return ds.FieldByName(field).DisplayText(); };
    ds.First();
    QCOMPARE(text("IDSTATUSNFE"), QStringLiteral("Uso Denegado"));
    QCOMPARE(text("IDSTATUSMANIF"), QStringLiteral("Rejeitada"));
    QCOMPARE(text("IDTIPOINCL"), QStringLiteral("Manual"));
    QCOMPARE(text("IDTIPOEVENTO"), QString());
    QCOMPARE(text("IDAMBIENTEMANIF"), QStringLiteral("2 - Homologação"));
    QCOMPARE(text("DTEMISSAO"), QStringLiteral("05/03/2024 14:07:09"));
    QCOMPARE(text("DTENTRSAID"), QStringLiteral("06/03/2024"));
    QCOMPARE(text("DTRECBTO"), QStringLiteral(" - "));
    QCOMPARE(text("VRNOTAFISC"), QStringLiteral("1234,50"));
    ds.Next();
    QCOMPARE(text("IDSTATUSNFE"), QStringLiteral("NF-e Cancelada"));
    QCOMPARE(text("IDSTATUSMANIF"), QStringLiteral("Ciência da Operação"));
    QCOMPARE(text("IDTIPOINCL"), QStringLiteral(" - "));
    QCOMPARE(text("IDTIPOEVENTO"), QStringLiteral("Carta Correção"));
    QCOMPARE(text("IDAMBIENTEMANIF"), QString());
    QCOMPARE(text("DTEMISSAO"), QStringLiteral(" - "));
    QCOMPARE(text("DTENTRSAID"), QStringLiteral(" - "));
    QCOMPARE(text("DTRECBTO"), QStringLiteral("06/03/2024"));
    ds.Next();
    QCOMPARE(text("IDSTATUSNFE"), QString());
    QCOMPARE(text("IDSTATUSMANIF"), QString());
    QCOMPARE(text("IDTIPOINCL"), QString());
    QCOMPARE(text("DTRECBTO"), QString());

    // The grid shows the same texts on rows the cursor is not on.
    const int col = f->dbgPadrao->Columns().IndexOf("IDSTATUSMANIF");
    QCOMPARE(f->dbgPadrao->model()->index(0, col).data().toString(), QStringLiteral("Rejeitada"));
}

void TestNotesList::cellsAreColouredAndCheckedByRow() {
    load({nota("A", "S", "0", {{"IDNOTA", "1"}, {"VRNOTAFISC", 1234.5}}),
          nota("B", "N", "0", {{"IDNOTA", "6"}}), nota("C", "N", "0", {{"IDNOTA", ""}}),
          nota("D", "N", "0", {{"IDNOTA", "2"}})});
    f->cdsNotasDestinadas->Last();  // keep the selection off the rows sampled
    TDBGrid* g = f->dbgPadrao;
    const int nome = g->Columns().IndexOf("NMRAZSOCEMIT");
    const int valor = g->Columns().IndexOf("VRNOTAFISC");
    const int marca = g->Columns().IndexOf("IDMARCADO");
    for (int c = 1; c < g->Columns().Count(); ++c) {  // everything sampled within the view
        if (c != nome && c != valor) {
            g->setColumnHidden(c, true);
        }
    }
    const QImage img = grabGrid();
    const QColor red(255, 0, 0), grey(128, 128, 128), olive(128, 128, 0);

    QVERIFY(hasColour(img, g->CellRect(0, nome), red));
    QVERIFY(!hasColour(img, g->CellRect(0, nome), grey));
    QVERIFY(hasColour(img, g->CellRect(1, nome), grey));
    QVERIFY(!hasColour(img, g->CellRect(2, nome), red));
    QVERIFY(!hasColour(img, g->CellRect(2, nome), grey));

    // The value ends 2 pixels from the right edge of its cell.
    const QRect v = g->CellRect(0, valor);
    int rightmost = -1;
    for (int x = v.left(); x <= v.right(); ++x) {
        for (int y = v.top(); y <= v.bottom(); ++y) {
            if (img.pixelColor(x, y).red() > 200 && img.pixelColor(x, y).green() < 200) {
                rightmost = x;
            }
        }
    }
    QVERIFY(rightmost > 0);
    QVERIFY2(v.right() - rightmost >= 2 && v.right() - rightmost <= 4,
             qPrintable(QString::number(v.right() - rightmost)));

    // Check pictures: drawn 4 pixels in, olive left transparent, in every row.
    for (int row = 0; row < 4; ++row) {
        const QRect c = g->CellRect(row, marca);
        QVERIFY(!hasColour(img, c, olive));
        QCOMPARE(img.pixelColor(c.left() + 4 + 2, c.top() + 2), QColor(Qt::white));
        QCOMPARE(img.pixelColor(c.left() + 4 + 1, c.top() + 1), QColor(Qt::black));
        QVERIFY(img.pixelColor(c.left() + 1, c.top() + 2) != QColor(Qt::black));
    }
    // Checked has a tick inside the square; unchecked is white there.
    const QRect checked = g->CellRect(0, marca);
    const QRect unchecked = g->CellRect(1, marca);
    QVERIFY(hasColour(img, QRect(checked.left() + 7, checked.top() + 4, 5, 6), Qt::black));
    QVERIFY(!hasColour(img, QRect(unchecked.left() + 7, unchecked.top() + 4, 5, 6), Qt::black));
}

void TestNotesList::warningShownOncePerMarkingCycle() {
    load({nota("A", "N", "0"), nota("B", "N", "4"), nota("C", "N", "1")});
    TClientDataSet& ds = *f->cdsNotasDestinadas;
    TDBGrid* g = f->dbgPadrao;
    ScriptedDialogs dlg;
    ds.First();
    QTest::keyClick(g, Qt::Key_Space);
    QCOMPARE(inMarcados, 1);
    QCOMPARE(f->stManifestacao, QStringLiteral("0"));
    QCOMPARE(g->SelectedIndex(), 0);
    dlg.expectMessage(kAviso, MsgType::Warning, MsgButton::Ok);
    ds.Next();
    QTest::keyClick(g, Qt::Key_Space);
    QVERIFY_DIALOGS(dlg);
    ds.Next();
    QTest::keyClick(g, Qt::Key_Space);  // a third situation: no second warning
    QVERIFY_DIALOGS(dlg);
    QCOMPARE(inMarcados, 3);
    ds.First();  // posts the pending mark
    QCOMPARE(ds.FieldByName("IDMARCADO").AsString(), QStringLiteral("S"));

    // Single unmarking down to zero starts a new cycle: the warning comes again.
    for (int i = 0; i < 3; ++i) {
        ds.SetRecNo(i + 1);
        f->dbgPadraoDblClick();
    }
    QCOMPARE(inMarcados, 0);
    QVERIFY(!f->AvisoManifestacao());
    ds.SetRecNo(2);
    f->dbgPadraoDblClick();
    QCOMPARE(f->stManifestacao, QStringLiteral("4"));
    dlg.expectMessage(kAviso, MsgType::Warning, MsgButton::Ok);
    ds.SetRecNo(1);
    f->dbgPadraoDblClick();
    QVERIFY_DIALOGS(dlg);

    // Unmarking all through the title keeps the cycle's warning spent.
    f->dbgPadraoTitleClick(g->Columns()[0]);
    QCOMPARE(inMarcados, 0);
    QVERIFY(f->AvisoManifestacao());
    ds.SetRecNo(1);
    f->dbgPadraoDblClick();
    ds.SetRecNo(2);
    f->dbgPadraoDblClick();
    QVERIFY_DIALOGS(dlg);
    QCOMPARE(inMarcados, 2);
}

void TestNotesList::markAllAndUnmarkAllCounters() {
    load({nota("A", "N", "0"), nota("B", "S", "0"), nota("C", "X", "0"), nota("D", "N", "0"),
          nota("E", "N", "0")});
    TClientDataSet& ds = *f->cdsNotasDestinadas;
    TDBGrid* g = f->dbgPadrao;
    auto marks = [&] {
        QString s;
        for (int i = 0; i < ds.RecordCount(); ++i) {
            s += ds.FieldByName("IDMARCADO").ValueAt(i).toString();
        }
        return s;
    };
    ScriptedDialogs dlg;  // no warning from either pass
    // A title other than the mark column's does nothing.
    f->dbgPadraoTitleClick(g->Columns()[5]);
    QCOMPARE(marks(), QStringLiteral("NSXNN"));

    const int resets = g->GridModel()->ResetCount();
    QTest::mouseClick(g->horizontalHeader()->viewport(), Qt::LeftButton, {},
                      QPoint(g->horizontalHeader()->sectionViewportPosition(0) + 5, 5));
    QCOMPARE(marks(), QStringLiteral("SSXSS"));
    QCOMPARE(inMarcados, 3);
    QCOMPARE(ds.RecNo(), 5);
    QVERIFY(g->GridModel()->ResetCount() - resets <= 1);

    f->dbgPadraoTitleClick(g->Columns()[0]);
    QCOMPARE(marks(), QStringLiteral("NNNNN"));
    QCOMPARE(inMarcados, 0);
    QVERIFY_DIALOGS(dlg);

    // Empty list: nothing to mark, nothing breaks.
    load({});
    f->dbgPadraoTitleClick(g->Columns()[0]);
    f->dbgPadraoDblClick();
    QCOMPARE(inMarcados, 0);
}

void TestNotesList::commandStatesFollowTheCurrentRow() {
    load({nota("A", "N", "1", {{"IDSTATUSNFE", "0"}}),
          nota("B", "N", "0", {{"NRLANCTONF", "123"}, {"IDARQXMLNFE", "S"}}),
          nota("C", "N", "5", {{"IDSTATUSNFE", "3"}})});
    TClientDataSet& ds = *f->cdsNotasDestinadas;
    auto states = [&] {
        QString s;
        for (QWidget* b : {f->sbtCiencia, f->sbtConfirmaOperacao, f->sbtDesconhecimento,
                           f->sbtOperacaoNRealizada, f->sbtDownloadXML, f->sbtGeraXML,
                           f->sbtVisualizarDocumento}) {
            s += b->isEnabled() ? '1' : '0';
        }
        return s;
    };
    ds.First();
    QCOMPARE(states(), QStringLiteral("0000000"));  // nothing marked
    f->dbgPadraoDblClick();                         // confirmed note, NF-e situation 0
    QCOMPARE(states(), QStringLiteral("0011100"));
    ds.Next();  // booked note, XML available
    QCOMPARE(states(), QStringLiteral("1100011"));
    ds.Next();  // rejected, cancelled NF-e
    QCOMPARE(states(), QStringLiteral("1111000"));
    ScriptedDialogs dlg;
    dlg.expectMessage(kAviso, MsgType::Warning, MsgButton::Ok);
    ds.SetRecNo(2);
    f->dbgPadraoDblClick();  // marks B as well, of another situation
    QVERIFY_DIALOGS(dlg);
    ds.First();
    f->dbgPadraoDblClick();  // unmarks A: one left, states still by the current row
    QCOMPARE(inMarcados, 1);
    QCOMPARE(states(), QStringLiteral("0011100"));
    ds.SetRecNo(2);
    f->dbgPadraoDblClick();  // none left
    QCOMPARE(inMarcados, 0);
    QCOMPARE(states(), QStringLiteral("0000001"));
}

void TestNotesList::copyOfMarkedNotesLeavesListUnfiltered() {
    load({nota("A", "S", "0"), nota("B", "N", "0"), nota("C", "S", "1"), nota("D", "N", "0"),
          nota("E", "S", "4")});
    TClientDataSet& ds = *f->cdsNotasDestinadas;
    ScriptedDialogs dlg;
    ds.SetRecNo(2);
    f->dbgPadraoDblClick();  // B marked too, pending edits posted
    ds.SetRecNo(4);
    f->cdsNotasDestinadas->Edit();  // an edit pending when the copy starts
    f->InsereCdsFiltrado();
    QVERIFY(!ds.Filtered());
    QCOMPARE(ds.RecordCount(), 5);
    QCOMPARE(f->cdsMarcados->RecordCount(), 4);
    QStringList keys;
    for (f->cdsMarcados->First(); !f->cdsMarcados->Eof(); f->cdsMarcados->Next()) {
        QCOMPARE(f->cdsMarcados->FieldByName("IDCONSULTADO").AsString(), QStringLiteral("N"));
        keys << f->cdsMarcados->FieldByName("NRACESSONF").AsString();
    }
    QStringList expected;
    for (const char* n : {"A", "B", "C", "E"}) {
        expected << nota(n, "S", "0").value("NRACESSONF").toString();
    }
    QCOMPARE(keys, expected);

    // A second copy starts from scratch.
    f->dbgPadraoTitleClick(f->dbgPadrao->Columns()[0]);  // unmark all
    f->InsereCdsFiltrado();
    QCOMPARE(f->cdsMarcados->RecordCount(), 0);
    QCOMPARE(ds.RecordCount(), 5);
}

QTEST_MAIN(TestNotesList)
#include "tst_noteslist.moc"
