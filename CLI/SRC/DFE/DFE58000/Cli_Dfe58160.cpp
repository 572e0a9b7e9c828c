#include "Cli_Dfe58160.h"

#include "ui_Cli_Dfe58160.h"

#include <QScreen>
#include <algorithm>

#include "core/messages.h"
#include "ui/handler.h"

using namespace host;

TfrmConcluiXML* frmConcluiXML = nullptr;

namespace {

constexpr int kLargura = 313;
constexpr int kAltura = 129;
// Where the limit notice stands when it is the dialog's only text, and its designed size.
constexpr int kTopoLimite = 20;
constexpr int kLarguraLimite = 298;
constexpr int kAlturaLimite = 39;
constexpr int kXOk = 120;

// The message's one "%s" replaced by the value, as the workspace gave it.
QString formata(QString texto, const QString& valor) {
    const qsizetype at = texto.indexOf(QLatin1String("%s"));
    if (at >= 0) {
        texto.replace(at, 2, valor);
    }
    return texto;
}

QChar primeira(const QString& s) {
    return s.isEmpty() ? QChar() : s.at(0);
}

}  // namespace

TfrmConcluiXML::TfrmConcluiXML(QWidget* parent) : TDialogPadrao(parent) {
    Ui::TfrmConcluiXML ui;
    ui.setupUi(this);
    panFundo = ui.panFundo;
    lblTitulo = ui.lblTitulo;
    lblSucesso = ui.lblSucesso;
    lblErro = ui.lblErro;
    lblLimite = ui.lblLimite;
    btpOk = ui.btpOk;

    setObjectName(QStringLiteral("frmConcluiXML"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(kLargura, kAltura);
    lblTitulo->adjustSize();

    msgPadrao->SetLines({QStringLiteral("XML_GERADO|%s XML(s) gerado(s) com sucesso."),
                         QStringLiteral("XML_NGERADO|%s XML(s) não gerado(s)."),
                         QStringLiteral("DOWNLOAD_OK|%s Registro(s) recebido(s) com sucesso."),
                         QStringLiteral("DOWNLOAD_ERRO|%s Registro(s) não recebido(s).")});

    bind(btpOk, &QAbstractButton::clicked, this, [this] { btpOkClick(); });
}

TfrmConcluiXML::~TfrmConcluiXML() {
    if (frmConcluiXML == this) {
        frmConcluiXML = nullptr;
    }
}

void TfrmConcluiXML::MostraLabel(const QString& stIdMsg) {
    const bool limite = primeira(stIdMsg) == u'L';
    lblTitulo->setVisible(!limite);
    lblSucesso->setVisible(!limite);
    lblErro->setVisible(!limite);
    lblLimite->setVisible(limite);
}

void TfrmConcluiXML::FormShow() {
    // Filled before the first paint as well: a window manager may activate the dialog late,
    // and the previous showing's texts must not flash meanwhile.
    FormActivate();
    if (const QScreen* tela = screen()) {
        QRect janela = frameGeometry();
        janela.moveCenter(tela->availableGeometry().center());
        move(janela.topLeft());
    }
}

void TfrmConcluiXML::FormActivate() {
    MostraLabel(stIdMensagem);
    switch (primeira(stIdMensagem).unicode()) {
        case u'D':
            lblSucesso->setText(formata(msgPadrao->Msg(QStringLiteral("DOWNLOAD_OK")), stSucesso));
            lblErro->setText(formata(msgPadrao->Msg(QStringLiteral("DOWNLOAD_ERRO")), stErro));
            break;
        case u'G':
            lblSucesso->setText(formata(msgPadrao->Msg(QStringLiteral("XML_GERADO")), stSucesso));
            lblErro->setText(formata(msgPadrao->Msg(QStringLiteral("XML_NGERADO")), stErro));
            break;
        case u'L':
            lblLimite->move(lblLimite->x(), kTopoLimite);
            break;
        default:
            break;
    }
    lblSucesso->adjustSize();
    lblErro->adjustSize();
    acomodaTextos();
}

void TfrmConcluiXML::acomodaTextos() {
    const QSize limite = lblLimite->sizeHint();
    lblLimite->resize(std::max(kLarguraLimite, limite.width()),
                      std::max(kAlturaLimite, limite.height()));
    // The designed width, unless the platform's type needs more for a text: then the dialog
    // widens, with the same margin on the right of that text as on its left, and the OK
    // button keeps to the middle.
    int largura = kLargura;
    for (const QLabel* l : {lblTitulo, lblSucesso, lblErro, lblLimite}) {
        if (!l->isHidden()) {
            largura = std::max(largura, 2 * l->x() + l->width());
        }
    }
    btpOk->move(kXOk + (largura - kLargura) / 2, btpOk->y());
    setFixedSize(largura, kAltura);
}

void TfrmConcluiXML::btpOkClick() {
    close();
}
