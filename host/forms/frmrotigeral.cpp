#include "forms/frmrotigeral.h"

#include "ui_frmrotigeral.h"

#include "ui/dialogs.h"
#include "ui/handler.h"

namespace host {

TfrmRotiGeral::TfrmRotiGeral(QWidget* parent) : TDialogPadrao(parent) {
    Ui::TfrmRotiGeral ui;
    ui.setupUi(this);
    layRotina = ui.layRotina;
    grbDadosRel = ui.grbDadosRel;
    panMenu = ui.panMenu;
    layMenu = ui.layMenu;
    panHelp = ui.panHelp;
    layHelp = ui.layHelp;
    sbtHelp = ui.sbtHelp;
    panBotoes = ui.panBotoes;
    layBotoes = ui.layBotoes;
    sbtConfirma = ui.sbtConfirma;
    lblCodTela = ui.lblCodTela;
    setModal(true);
    sbtConfirma->setText(QStringLiteral("Confirmar"));
    sbtHelp->setText(QStringLiteral("Ajuda"));
    sbtConfirma->setIcon(standardGlyph(StdGlyph::Confirmar, this));
    sbtHelp->setIcon(standardGlyph(StdGlyph::Ajuda, this));
    for (TButtonFlat* b : {sbtConfirma, sbtHelp}) {
        b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    }
    useCompactFont({sbtConfirma, sbtHelp, lblCodTela});
    bind(sbtConfirma, &QAbstractButton::clicked, this, [this] { sbtConfirmaClick(); });
    bind(sbtHelp, &QAbstractButton::clicked, this, [this] { sbtHelpClick(); });
}

TfrmRotiGeral::~TfrmRotiGeral() = default;

void TfrmRotiGeral::sbtConfirmaClick() {
    SetModalResult(QDialog::Accepted);
}

void TfrmRotiGeral::sbtHelpClick() {
    const QString code = lblCodTela->text().trimmed();
    dialogs().message(code.isEmpty()
                          ? QStringLiteral("A ajuda desta rotina não está instalada.")
                          : QStringLiteral("A ajuda da tela %1 não está instalada.").arg(code),
                      MsgType::Information, MsgButton::Ok, this);
}

}  // namespace host
