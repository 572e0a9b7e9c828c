#include "Cli_Dfe58110.h"

#include <QPlainTextEdit>
#include <QTextCursor>

#include "Cli_Dfe58000.h"
#include "Cli_Dfe58100.h"
#include "Rdm_Dfe58000.h"
#include "core/messages.h"
#include "core/orvanta.h"
#include "rdmmanifestacao.h"
#include "ui/consiste.h"
#include "ui/dateeditplus.h"
#include "ui/dialogs.h"
#include "ui/maskedit.h"
#include "ui/numberedit.h"
#include "ui/showavi.h"
#include "ui_Cli_Dfe58110.h"

using namespace host;

TfrmOperacaoNRealizada* frmOperacaoNRealizada = nullptr;

namespace {

const QStringList& mensagens() {
    static const QStringList lines = {
        QStringLiteral("JUSTIFICATIVA_DEV|Justificativa deve ser informada."),
        QStringLiteral(
            "CONFIRMAR_OPER|Deseja confirmar a justificativa para as notas fiscais marcadas?"),
        QStringLiteral("INSCRJURID_DEVE|Inscrição jurídica deve ser informada."),
    };
    return lines;
}

}  // namespace

TfrmOperacaoNRealizada::TfrmOperacaoNRealizada(QWidget* parent) : TfrmRotiGeral(parent) {
    setObjectName(QStringLiteral("frmOperacaoNRealizada"));
    setWindowTitle(QStringLiteral("Operação Não Realizada"));
    lblCodTela->setText(QStringLiteral("DFE58110"));
    panHelp->setVisible(false);
    msgPadrao->SetLines(mensagens());

    Ui::TfrmOperacaoNRealizadaDados ui;
    ui.setupUi(grbDadosRel);
    panNota = ui.panNota;
    medInscricao = ui.medInscricao;
    medRazaoSocial = ui.medRazaoSocial;
    depEmissao = ui.depEmissao;
    medNrNotaFisc = ui.medNrNotaFisc;
    nedValor = ui.nedValor;
    medChaveAcesso = ui.medChaveAcesso;
    panJustificativa = ui.panJustificativa;
    panTitulo = ui.panTitulo;
    memJustificativa = ui.memJustificativa;
    lblTamanho = ui.lblTamanho;

    // The note's fields are shown, never edited: disabled, in the button-face colour.
    for (QWidget* w : {static_cast<QWidget*>(medInscricao), static_cast<QWidget*>(medRazaoSocial),
                       static_cast<QWidget*>(depEmissao), static_cast<QWidget*>(medNrNotaFisc),
                       static_cast<QWidget*>(nedValor), static_cast<QWidget*>(medChaveAcesso)}) {
        w->setEnabled(false);
        QPalette p = w->palette();
        p.setColor(QPalette::Disabled, QPalette::Base, p.color(QPalette::Button));
        p.setColor(QPalette::Disabled, QPalette::Text, p.color(QPalette::Active, QPalette::Text));
        w->setPalette(p);
    }
    nedValor->SetDisplayFormat(QStringLiteral("#,##0.00"));
    QPalette memo = memJustificativa->palette();
    memo.setColor(QPalette::Base, memo.color(QPalette::ToolTipBase));
    memo.setColor(QPalette::Text, memo.color(QPalette::ToolTipText));
    memJustificativa->setPalette(memo);
    connect(memJustificativa, &QPlainTextEdit::textChanged, this,
            [this] { memJustificativaChange(); });
    memJustificativaChange();
    resize(533, 280);
}

TfrmOperacaoNRealizada::~TfrmOperacaoNRealizada() {
    if (frmOperacaoNRealizada == this) {
        frmOperacaoNRealizada = nullptr;
    }
}

void TfrmOperacaoNRealizada::FormClose(TCloseAction& action) {
    action = TCloseAction::caHide;
}

// The memo takes at most 255 characters: what goes beyond (typed or pasted) is cut off, and the
// count beneath it follows the text.
void TfrmOperacaoNRealizada::memJustificativaChange() {
    const QString text = memJustificativa->toPlainText();
    if (text.size() > kMaxJustificativa) {
        const QSignalBlocker block(memJustificativa);
        QTextCursor cursor = memJustificativa->textCursor();
        const int position = std::min(cursor.position(), kMaxJustificativa);
        memJustificativa->setPlainText(text.left(kMaxJustificativa));
        cursor = memJustificativa->textCursor();
        cursor.setPosition(position);
        memJustificativa->setTextCursor(cursor);
    }
    const int size = int(memJustificativa->toPlainText().size());
    const bool fora = size > 0 && size < kMinJustificativa;
    lblTamanho->setText(QStringLiteral("%1 de %2 caracteres (a justificativa deve ter de %3 a %2)")
                            .arg(size)
                            .arg(kMaxJustificativa)
                            .arg(kMinJustificativa));
    lblTamanho->setStyleSheet(fora ? QStringLiteral("color: #a00000;") : QString());
}

void TfrmOperacaoNRealizada::sbtConfirmaClick() {
    if (!frmFiltro || Consiste::EmptyString(frmFiltro->medInscrJurid->Text())) {
        Consiste::MensErro(msgPadrao->Msg(QStringLiteral("INSCRJURID_DEVE")), true);
    }
    if (memJustificativa->toPlainText().isEmpty()) {
        memJustificativa->setFocus();
        Consiste::MensErro(msgPadrao->Msg(QStringLiteral("JUSTIFICATIVA_DEV")), true);
    }
    if (dialogs().message(msgPadrao->Msg(QStringLiteral("CONFIRMAR_OPER")), MsgType::Warning,
                          MsgButton::Yes | MsgButton::No, this) != MsgButton::Yes) {
        return;
    }
    TfrmManifestacao& ws = *frmManifestacao;
    ws.InsereCdsFiltrado();
    // Up until the result popup is closed, whatever happens on the way.
    ShowAviGuard avi(this, Showavi::kProcessando);
    const QVariantList resultado = Rdm_Dfe58000::setManifestacao(
        frmFiltro->medInscrJurid->Text(), ws.cdsMarcados->Data(), QStringLiteral("3"),
        memJustificativa->toPlainText(), Orvanta::Operador());
    namespace rm = rdmManifestacao::setManifestacao;
    if (resultado.at(rm::Status).toString() == QLatin1String(rm::kErro)) {
        Consiste::MensErro(resultado.at(rm::Mensagem).toString(), true);
    }
    ws.PreparaResultado(resultado);
    ws.MostraResultado();
}
