// The dialogs a clerk sees after sending manifestation events or fetching XMLs: the result
// popup with its counts and "Ver Notas", the list of the rejected notes it opens, and the
// completion notice of XML generation and download. Driven through the real widgets, modal
// showings included.

#include <QApplication>
#include <QElapsedTimer>
#include <QHelpEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTextDocumentFragment>
#include <QTimer>
#include <QToolTip>
#include <QtTest>
#include <functional>
#include <memory>

#include "Cli_Dfe58140.h"
#include "Cli_Dfe58150.h"
#include "Cli_Dfe58160.h"
#include "core/clientdataset.h"
#include "support/scripteddialogs.h"
#include "ui/buttonflat.h"
#include "ui/dbgrid.h"

using host::test::ModalAction;
using host::test::ScriptedDialogs;

namespace {

const QStringList kCampos = {"NRACESSONF", "NRINSJURFORN", "NMRAZSOCFORN", "DSERRO"};

// A reason longer than its column can show, with characters that mean something in markup.
const QString kMotivoLongo = QStringLiteral(
    "Rejeição 650: Evento de \"Ciência da Operação\" para NF-e cancelada <cStat 101>; a nota "
    "foi cancelada pelo emitente antes do evento & não aceita mais manifestação.");

template <typename T = QLabel>
T* achado(const QWidget* w, const char* nome) {
    return w->findChild<T*>(QString::fromLatin1(nome));
}

// Runs abre, which shows a window modally; while that window is up, runs enquanto on it and
// closes it if enquanto did not. Returns whether a window came.
bool comModal(const std::function<void()>& abre, const std::function<void(QWidget*)>& enquanto) {
    bool veio = false;
    ModalAction acao([&](QWidget* modal) {
        veio = true;
        enquanto(modal);
        if (modal->isVisible()) {
            modal->close();
        }
    });
    abre();
    return veio;
}

// Whether a label shows its whole text inside its window.
bool inteiro(const QLabel* l) {
    const QRect naJanela(l->mapTo(l->window(), QPoint(0, 0)), l->size());
    return l->width() >= l->sizeHint().width() && l->height() >= l->sizeHint().height() &&
           l->window()->rect().contains(naJanela);
}

// The tooltip of a grid cell as plain text, its line breaks read as blanks; empty for none.
QString dicaEm(host::TDBGrid* grid, int linha, int coluna) {
    QToolTip::hideText();
    if (!QTest::qWaitFor([] { return !QToolTip::isVisible(); })) {
        return QStringLiteral("<a tip that would not go away>");
    }
    const QPoint pos = grid->visualRect(grid->model()->index(linha, coluna)).center();
    QHelpEvent ev(QEvent::ToolTip, pos, grid->viewport()->mapToGlobal(pos));
    QApplication::sendEvent(grid->viewport(), &ev);
    if (!QToolTip::isVisible()) {
        return {};
    }
    QString texto = QTextDocumentFragment::fromHtml(QToolTip::text()).toPlainText();
    return texto.replace(QChar::LineSeparator, u' ').simplified();
}

}  // namespace

class TestResultForms : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void init() { m_desde.start(); }
    void cleanup() { QVERIFY_DIALOGS(*m_dialogos); }
    void cleanupTestCase();

    void popupLinesShowTheCountsAsGiven_data();
    void popupLinesShowTheCountsAsGiven();
    void verNotasListsTheRejectedNotesWithTheirReasons();
    void reopeningTheListBuildsAFreshOneWithTheCurrentNotes();
    void completionShowsWhatEachModeReports();

  private:
    void acrescenta(const QStringList& valores);
    // The list's columns, and rows equal to those of the data set, cell by cell.
    void confereLista(QWidget* lista);

    host::TClientDataSet m_cds;  // the rejected notes, as the workspace keeps them
    host::TDataSource m_dts;
    QList<QStringList> m_linhas;
    std::unique_ptr<ScriptedDialogs> m_dialogos;
    // Closes a modal window left up too long and fails the test, so none can hang the run.
    QTimer m_vigia;
    QElapsedTimer m_desde;
};

void TestResultForms::initTestCase() {
    QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
    m_dialogos = std::make_unique<ScriptedDialogs>();
    const QStringList rotulos = {"Chave de Acesso", "Inscrição", "Nome Emitente", "Descrição"};
    for (int i = 0; i < kCampos.size(); ++i) {
        m_cds.AddField({kCampos[i], host::FieldType::String, QList{44, 21, 200, 200}[i]})
            .SetDisplayLabel(rotulos[i]);
    }
    m_cds.CreateDataSet();
    m_dts.SetDataSet(&m_cds);
    acrescenta({"35240548210375000102550010000000211123456784", "48.210.375/0001-02",
                "Metalúrgica Ipê Ltda", "Rejeição 596: Evento apresentado fora do prazo."});
    acrescenta({"35240506274118000176550010000000221123456781", "06.274.118/0001-76",
                "Comércio de Açúcar São João", kMotivoLongo});

    frmPopUp = new TfrmPopUp(&m_dts);
    frmPopUp->DoCreate();
    frmConcluiXML = new TfrmConcluiXML();
    frmConcluiXML->DoCreate();

    connect(&m_vigia, &QTimer::timeout, this, [this] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && m_desde.elapsed() > 8000) {
            QTest::qFail("a modal window was left up", __FILE__, __LINE__);
            modal->close();
        }
    });
    m_vigia.start(100);
}

void TestResultForms::cleanupTestCase() {
    delete frmPopUp;
    delete frmConcluiXML;
    QVERIFY(!frmPopUp && !frmConcluiXML);
}

void TestResultForms::acrescenta(const QStringList& valores) {
    m_cds.Append();
    for (int i = 0; i < kCampos.size(); ++i) {
        m_cds.FieldByName(kCampos[i]).SetAsString(valores[i]);
    }
    m_cds.Post();
    m_linhas << valores;
}

void TestResultForms::confereLista(QWidget* lista) {
    QCOMPARE(lista->windowTitle(), QStringLiteral("Notas com Erro"));
    QCOMPARE(achado(lista, "lblCodTela")->text(), QStringLiteral("DFE58150"));
    // The hourglass is only for building the list, never left over it.
    QVERIFY(!QApplication::overrideCursor());
    auto* grid = achado<host::TDBGrid>(lista, "DBGrid1");
    QVERIFY(grid && grid->ReadOnly() && grid->RowSelect());
    QCOMPARE(grid->editTriggers(), QAbstractItemView::NoEditTriggers);
    QStringList campos, titulos;
    QList<int> larguras;
    for (int c = 0; c < grid->Columns().Count(); ++c) {
        campos << grid->Columns()[c].FieldName();
        titulos << grid->model()->headerData(c, Qt::Horizontal).toString();
        larguras << grid->columnWidth(c);
    }
    QCOMPARE(campos, kCampos);
    QCOMPARE(titulos, QStringList({"Chave de Acesso", "Inscrição", "Nome Emitente", "Descrição"}));
    QCOMPARE(larguras, QList<int>({175, 104, 139, 479}));
    QCOMPARE(grid->model()->rowCount(), m_linhas.size());
    for (int r = 0; r < m_linhas.size(); ++r) {
        for (int c = 0; c < kCampos.size(); ++c) {
            QCOMPARE(grid->model()->index(r, c).data().toString(), m_linhas[r][c]);
        }
    }
}

void TestResultForms::popupLinesShowTheCountsAsGiven_data() {
    QTest::addColumn<QStringList>("contagens");  // sent, registered, errors
    QTest::addColumn<bool>("verNotas");
    QTest::newRow("some refused") << QStringList{"3", "1", "2"} << true;
    QTest::newRow("none refused") << QStringList{"2", "2", "0"} << false;
    // Shown and compared as text: "00" is not "0", and a blank count stays blank.
    QTest::newRow("zero written twice") << QStringList{"1", "1", "00"} << true;
    QTest::newRow("server gave no count") << QStringList{"4", "", ""} << true;
    QTest::newRow("many refused") << QStringList{"1500", "2", "1498"} << true;
}

void TestResultForms::popupLinesShowTheCountsAsGiven() {
    QFETCH(QStringList, contagens);
    QFETCH(bool, verNotas);
    const QString &enviado = contagens[0], &sucesso = contagens[1], &erro = contagens[2];

    // The one popup is reused, so each row also shows it after the previous row's counts.
    frmPopUp->stPopEnviado = enviado;
    frmPopUp->stPopSucesso = sucesso;
    frmPopUp->stPopErro = erro;
    const bool veio = comModal(
        [] { frmPopUp->exec(); },
        [&](QWidget* p) {
            QCOMPARE(p, frmPopUp);
            QCOMPARE(p->windowTitle(), QStringLiteral("Atenção"));
            QCOMPARE(p->size(), QSize(351, 131));
            QCOMPARE(p->minimumSize(), p->maximumSize());
            QVERIFY((p->frameGeometry().center() - p->screen()->availableGeometry().center())
                        .manhattanLength() <= 2);
            QCOMPARE(achado(p, "lblEnviado")->text(), enviado + " Evento(s) Enviado(s).");
            QCOMPARE(achado(p, "lblSucesso")->text(),
                     sucesso + " Evento(s) registrado(s) com sucesso");
            QLabel* lblErro = achado(p, "lblErro");
            QCOMPARE(lblErro->text(), erro + " Erros");
            for (const char* nome : {"Label1", "lblEnviado", "lblSucesso", "lblErro"}) {
                QVERIFY2(inteiro(achado(p, nome)), nome);
            }

            // "Ver Notas" stands on the error line, 30 pixels after the end of its text.
            auto* sbtNotas = achado<host::TButtonFlat>(p, "sbtNotas");
            QCOMPARE(sbtNotas->isEnabled(), verNotas);
            QCOMPARE(sbtNotas->x() - (lblErro->x() + lblErro->sizeHint().width()), 30);
            QVERIFY(sbtNotas->y() <= lblErro->y() &&
                    sbtNotas->geometry().bottom() >= lblErro->geometry().bottom());
            QVERIFY(p->rect().contains(sbtNotas->geometry()));
            achado<host::TButtonFlat>(p, "sbtOK")->click();
            QVERIFY(!p->isVisible());
        });
    QVERIFY(veio);
}

void TestResultForms::verNotasListsTheRejectedNotesWithTheirReasons() {
    frmPopUp->stPopEnviado = QStringLiteral("2");
    frmPopUp->stPopSucesso = QStringLiteral("0");
    frmPopUp->stPopErro = QStringLiteral("2");
    bool listaVeio = false;
    QString dica, dicaNaChave;
    QVERIFY(comModal([] { frmPopUp->exec(); },
                     [&](QWidget* popup) {
                         listaVeio = comModal(
                             [&] { achado<host::TButtonFlat>(popup, "sbtNotas")->click(); },
                             [&](QWidget* lista) {
                                 confereLista(lista);
                                 auto* grid = achado<host::TDBGrid>(lista, "DBGrid1");
                                 dica = dicaEm(grid, 1, 3);
                                 dicaNaChave = dicaEm(grid, 1, 0);
                                 QToolTip::hideText();
                                 achado<host::TButtonFlat>(lista, "sbtConfirma")->click();
                             });
                         QCOMPARE(QApplication::activeModalWidget(), popup);
                     }));
    QVERIFY(listaVeio);
    // The whole reason, markup characters included, as the tip of its cell; none elsewhere.
    QCOMPARE(dica, kMotivoLongo);
    QCOMPARE(dicaNaChave, QString());
    QVERIFY(!QApplication::overrideCursor());
}

void TestResultForms::reopeningTheListBuildsAFreshOneWithTheCurrentNotes() {
    using namespace Cli_Dfe58150;
    QTRY_VERIFY(!frmNotasErradas);
    QVERIFY(!boIdCriado);

    QPointer<QWidget> primeira;
    QVERIFY(comModal([this] { CriaFrmNotasErradas(&m_dts); },
                     [&](QWidget* lista) {
                         primeira = lista;
                         QVERIFY(boIdCriado && frmNotasErradas == lista);
                         confereLista(lista);
                         QTest::keyClick(lista, Qt::Key_Escape);
                     }));
    QVERIFY(!boIdCriado);
    // The closed list is destroyed, and the unit lets go of it.
    QTRY_VERIFY(primeira.isNull());
    QVERIFY(!frmNotasErradas);

    // The next manifestation refused one other note.
    m_cds.EmptyDataSet();
    m_linhas.clear();
    acrescenta({"41240512345678000190550010000000311123456780", "12.345.678/0001-90",
                "Laticínios Paraná", "Rejeição 573: Duplicidade de evento."});
    QPointer<QWidget> segunda;
    QVERIFY(comModal([this] { CriaFrmNotasErradas(&m_dts); },
                     [&](QWidget* lista) {
                         segunda = lista;
                         confereLista(lista);
                     }));
    QTRY_VERIFY(segunda.isNull());
    QVERIFY(!frmNotasErradas && !boIdCriado);
}

void TestResultForms::completionShowsWhatEachModeReports() {
    TfrmConcluiXML& d = *frmConcluiXML;
    QCOMPARE(d.windowTitle(), QStringLiteral("Operação Concluída"));
    QLabel* lblLimite = achado(&d, "lblLimite");
    QCOMPARE(lblLimite->text(),
             QStringLiteral("Só será permitido o download de 20 XMLs por hora, \n"
                            "vide alteração nas consultas por chave de acesso \n"
                            "na versão 1.12 da NT 2014.002."));
    QCOMPARE(lblLimite->y(), 132);  // out of sight until the limit is reported

    // Shows the dialog for a mode; checks which labels show, that each shows its whole text,
    // and the two count lines.
    const auto mostra = [&](const char* modo, const QString& sucesso, const QString& erro,
                            bool limite, const QString& linha1, const QString& linha2) {
        d.stIdMensagem = QString::fromLatin1(modo);
        d.stSucesso = sucesso;
        d.stErro = erro;
        const bool veio =
            comModal([&] { d.exec(); },
                     [&](QWidget* modal) {
                         QCOMPARE(modal, &d);
                         for (const char* nome : {"lblTitulo", "lblSucesso", "lblErro"}) {
                             QCOMPARE(achado(&d, nome)->isVisible(), !limite);
                         }
                         QCOMPARE(lblLimite->isVisible(), limite);
                         for (QLabel* l : d.findChildren<QLabel*>()) {
                             QVERIFY2(!l->isVisible() || inteiro(l), qPrintable(l->objectName()));
                         }
                         QCOMPARE(achado(&d, "lblSucesso")->text(), linha1);
                         QCOMPARE(achado(&d, "lblErro")->text(), linha2);
                         achado<QPushButton>(&d, "btpOk")->click();
                         QVERIFY(!d.isVisible());
                     });
        QVERIFY(veio);
    };
    mostra("G", "3", "1", false, "3 XML(s) gerado(s) com sucesso.", "1 XML(s) não gerado(s).");
    mostra("D", "20", "5", false, "20 Registro(s) recebido(s) com sucesso.",
           "5 Registro(s) não recebido(s).");
    // The limit already reached: the notice alone, moved up into sight; no text changes.
    mostra("L", "9", "9", true, "20 Registro(s) recebido(s) com sucesso.",
           "5 Registro(s) não recebido(s).");
    QCOMPARE(lblLimite->y(), 20);
    // A download after the limit notice: title and counts come back, the notice goes.
    mostra("D", "0", "2", false, "0 Registro(s) recebido(s) com sucesso.",
           "2 Registro(s) não recebido(s).");
    // The mode is its first letter; a letter of no mode changes no text.
    mostra("Gx", "7", "0", false, "7 XML(s) gerado(s) com sucesso.", "0 XML(s) não gerado(s).");
    mostra("X", "8", "8", false, "7 XML(s) gerado(s) com sucesso.", "0 XML(s) não gerado(s).");
}

QTEST_MAIN(TestResultForms)
#include "tst_resultforms.moc"
