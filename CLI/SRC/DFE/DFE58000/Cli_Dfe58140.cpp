#include "Cli_Dfe58140.h"

#include "ui_Cli_Dfe58140.h"

#include <QScreen>
#include <algorithm>

#include "Cli_Dfe58150.h"
#include "core/clientdataset.h"
#include "core/messages.h"
#include "ui/buttonflat.h"
#include "ui/handler.h"

using namespace host;

TfrmPopUp* frmPopUp = nullptr;

namespace {

constexpr int kLargura = 351;
constexpr int kAltura = 131;
constexpr int kXOk = 135;
// Room between the end of the error count and "Ver Notas".
constexpr int kDistanciaNotas = 30;

// The message's one "%s" replaced by the value, as the sender gave it.
QString formata(QString texto, const QString& valor) {
    const qsizetype at = texto.indexOf(QLatin1String("%s"));
    if (at >= 0) {
        texto.replace(at, 2, valor);
    }
    return texto;
}

}  // namespace

TfrmPopUp::TfrmPopUp(TDataSource* dtsNotasErradas, QWidget* parent)
    : TDialogPadrao(parent), m_dtsNotasErradas(dtsNotasErradas) {
    Ui::TfrmPopUp ui;
    ui.setupUi(this);
    panFundo = ui.panFundo;
    Label1 = ui.Label1;
    lblEnviado = ui.lblEnviado;
    lblSucesso = ui.lblSucesso;
    lblErro = ui.lblErro;
    sbtNotas = ui.sbtNotas;
    sbtOK = ui.sbtOK;

    setObjectName(QStringLiteral("frmPopUp"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(kLargura, kAltura);
    Label1->adjustSize();

    msgPadrao->SetLines({QStringLiteral("ENVIADO|%s Evento(s) Enviado(s)."),
                         QStringLiteral("SUCESSO|%s Evento(s) registrado(s) com sucesso"),
                         QStringLiteral("ERRO|%s Erros")});

    bind(sbtOK, &QAbstractButton::clicked, this, [this] { sbtOKClick(); });
    bind(sbtNotas, &QAbstractButton::clicked, this, [this] { sbtNotasClick(); });
}

TfrmPopUp::~TfrmPopUp() {
    if (frmPopUp == this) {
        frmPopUp = nullptr;
    }
}

void TfrmPopUp::FormCreate() {
    lblEnviado->clear();
    lblSucesso->clear();
    lblErro->clear();
}

void TfrmPopUp::FormShow() {
    // The lines size themselves to their texts, so the button can follow the error count.
    lblErro->setText(formata(msgPadrao->Msg(QStringLiteral("ERRO")), stPopErro));
    lblErro->adjustSize();
    lblSucesso->setText(formata(msgPadrao->Msg(QStringLiteral("SUCESSO")), stPopSucesso));
    lblSucesso->adjustSize();
    lblEnviado->setText(formata(msgPadrao->Msg(QStringLiteral("ENVIADO")), stPopEnviado));
    lblEnviado->adjustSize();

    sbtNotas->move(lblErro->x() + lblErro->width() + kDistanciaNotas, sbtNotas->y());
    sbtNotas->setEnabled(stPopErro != QLatin1String("0"));

    acomodaTextos();
    if (const QScreen* tela = screen()) {
        QRect janela = frameGeometry();
        janela.moveCenter(tela->availableGeometry().center());
        move(janela.topLeft());
    }
}

void TfrmPopUp::acomodaTextos() {
    // The designed width, unless the platform's type needs more for the lines: then the popup
    // widens, with the lines' left margin kept on the right, and OK keeps to the middle.
    int largura = kLargura;
    for (const QWidget* w :
         std::initializer_list<const QWidget*>{Label1, lblEnviado, lblSucesso, lblErro, sbtNotas}) {
        largura = std::max(largura, w->x() + w->width() + Label1->x());
    }
    sbtOK->move(kXOk + (largura - kLargura) / 2, sbtOK->y());
    setFixedSize(largura, kAltura);
}

void TfrmPopUp::sbtOKClick() {
    close();
}

void TfrmPopUp::sbtNotasClick() {
    CriaFrmNotasErradas(m_dtsNotasErradas);
}
