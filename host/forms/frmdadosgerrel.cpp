#include "forms/frmdadosgerrel.h"

#include "ui_frmdadosgerrel.h"

#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>

#include "core/messages.h"
#include "report/reportengine.h"
#include "ui/buttonflat.h"
#include "ui/consiste.h"
#include "ui/dialogs.h"
#include "ui/handler.h"

namespace host {

namespace {

// The message's two %s, in order: the report code, then the directory.
QString fillPlaceholders(QString text, const QStringList& values) {
    int from = 0;
    for (const QString& v : values) {
        const int at = int(text.indexOf(QLatin1String("%s"), from));
        if (at < 0) {
            break;
        }
        text.replace(at, 2, v);
        from = at + int(v.size());
    }
    return text;
}

struct SaveKind {
    const char* suffix;
    const char* filter;
};

SaveKind saveKind(ReportOutput output) {
    switch (output) {
        case ReportOutput::Xlsx:
            return {"xlsx", "Planilha do Excel (*.xlsx)"};
        case ReportOutput::Csv:
            return {"csv", "Texto separado por ponto e vírgula (*.csv)"};
        default:
            return {"pdf", "Documento PDF (*.pdf)"};
    }
}

}  // namespace

TfrmDadosGerRel::TfrmDadosGerRel(QWidget* parent) : TDialogPadrao(parent) {
    Ui::TfrmDadosGerRel ui;
    ui.setupUi(this);
    panRelat = ui.panRelat;
    lblRelatorio = ui.lblRelatorio;
    cbbReportNames = ui.cbbReportNames;
    lblCodRel = ui.lblCodRel;
    grbDadosRel = ui.grbDadosRel;
    panMenu = ui.panMenu;
    sbtImprime = ui.sbtImprime;
    sbtVisualiza = ui.sbtVisualiza;
    sbtConfigura = ui.sbtConfigura;
    sbtSalva = ui.sbtSalva;
    sbtFechar = ui.sbtFechar;
    setModal(true);

    rpddPadrao = new TReportDesignerDialog(this);
    rpddPadrao->setObjectName(QStringLiteral("rpddPadrao"));

    sbtImprime->setText(QStringLiteral("Imprimir"));
    sbtVisualiza->setText(QStringLiteral("Visualizar"));
    sbtConfigura->setText(QStringLiteral("Configurar"));
    sbtSalva->setText(QStringLiteral("Salvar"));
    sbtFechar->setText(QStringLiteral("Fechar"));
    for (auto [button, glyph] :
         {std::pair{sbtImprime, StdGlyph::Imprimir}, std::pair{sbtVisualiza, StdGlyph::Procurar},
          std::pair{sbtConfigura, StdGlyph::Verificar}, std::pair{sbtSalva, StdGlyph::Salvar},
          std::pair{sbtFechar, StdGlyph::Fechar}}) {
        button->setIcon(standardGlyph(glyph, this));
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    }
    useCompactFont({sbtImprime, sbtVisualiza, sbtConfigura, sbtSalva, sbtFechar, lblCodRel});

    ppmSalvar = new QMenu(this);
    ppmSalvar->setObjectName(QStringLiteral("ppmSalvar"));
    const auto addSave = [this](const QString& caption, ReportOutput output) {
        QAction* a = ppmSalvar->addAction(caption);
        connect(a, &QAction::triggered, this,
                [this, output] { runHandler(this, [&] { SalvaComo(output); }); });
    };
    addSave(QStringLiteral("PDF..."), ReportOutput::Pdf);
    addSave(QStringLiteral("Planilha (.xlsx)..."), ReportOutput::Xlsx);
    addSave(QStringLiteral("CSV..."), ReportOutput::Csv);
    sbtSalva->setMenu(ppmSalvar);
    sbtSalva->setPopupMode(QToolButton::InstantPopup);

    bind(sbtImprime, &QAbstractButton::clicked, this, [this] { Executa(ReportOutput::Printer); });
    bind(sbtVisualiza, &QAbstractButton::clicked, this, [this] { Executa(ReportOutput::Preview); });
    bind(sbtConfigura, &QAbstractButton::clicked, this, [this] { rpddPadrao->PrinterSetup(this); });
    bind(sbtFechar, &QAbstractButton::clicked, this, [this] { reject(); });
}

TfrmDadosGerRel::~TfrmDadosGerRel() = default;

void TfrmDadosGerRel::FormCreate() {
    const QString prefix = lblCodRel->text().trimmed().left(6);
    cbbReportNames->clear();
    FRepNames.clear();
    if (prefix.isEmpty()) {
        return;
    }
    for (const TReportDesignerDialog::Entry& e : rpddPadrao->Catalogue(prefix)) {
        cbbReportNames->addItem(e.title);
        FRepNames << e.code.mid(prefix.size());
    }
    if (cbbReportNames->count() > 0) {
        cbbReportNames->setCurrentIndex(0);
    }
}

void TfrmDadosGerRel::FormActivate() {
    if (cbbReportNames->isEnabled() && !cbbReportNames->hasFocus() &&
        !grbDadosRel->isAncestorOf(focusWidget())) {
        cbbReportNames->setFocus();
    }
}

QString TfrmDadosGerRel::CodigoRelatorio() const {
    const int i = cbbReportNames->currentIndex();
    if (i < 0 || i >= FRepNames.size()) {
        return {};
    }
    return lblCodRel->text().trimmed().left(6) + FRepNames.at(i);
}

void TfrmDadosGerRel::Executa(ReportOutput output, const QString& file) {
    const QString code = CodigoRelatorio();
    if (code.isEmpty()) {
        Consiste::MensErro(QStringLiteral("Escolha um relatório da lista."));
    }
    if (!rpddPadrao->DefinitionExists(code)) {
        Consiste::MensErro(
            fillPlaceholders(msgPadrao->Msg(QStringLiteral("Arq_Rel_Err")),
                             {code, QDir::toNativeSeparators(rpddPadrao->ReportDir())}));
    }
    rpddPadrao->Execute(code, output, file, this);
}

void TfrmDadosGerRel::SalvaComo(ReportOutput output) {
    const QString code = CodigoRelatorio();
    if (code.isEmpty()) {
        Consiste::MensErro(QStringLiteral("Escolha um relatório da lista."));
    }
    const SaveKind kind = saveKind(output);
    const QString suggested =
        QDir::home().filePath(QStringLiteral("%1.%2").arg(code, QLatin1String(kind.suffix)));
    const QString file = dialogs().chooseSaveFile(QStringLiteral("Salvar relatório"), suggested,
                                                  QString::fromUtf8(kind.filter), this);
    if (file.isEmpty()) {
        return;
    }
    Executa(output, file);
}

}  // namespace host
