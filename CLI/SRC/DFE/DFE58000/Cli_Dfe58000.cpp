#include "Cli_Dfe58000.h"
#include "Cli_Dfe58000Pesquisa.h"

#include "ui_Cli_Dfe58000.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFontMetrics>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QStyle>
#include <QVBoxLayout>
#include <utility>
#include <vector>

#include "Cli_Dfe58100.h"
#include "Cli_Dfe58300.h"
#include "Rdm_Dfe58000.h"
#include "core/messages.h"
#include "core/orvanta.h"
#include "core/packet.h"
#include "net/netconnection.h"
#include "notarecord.h"
#include "rdmmanifestacao.h"
#include "sql/adoibquery.h"
#include "ui/btnpesquisa.h"
#include "ui/consiste.h"
#include "ui/dbedit.h"
#include "ui/dialogs.h"
#include "ui/focusevents.h"
#include "ui/handler.h"
#include "ui/maskedit.h"

using namespace host;

TfrmManifestacao* frmManifestacao = nullptr;
bool boIdCriado = false;
int inMarcados = 0;

namespace {

const QString kMarcado = QStringLiteral("IDMARCADO");
const QColor kOlive(128, 128, 0);

// The message table of the workspace, key|text.
const QStringList& mensagens() {
    static const QStringList lines = {
        QStringLiteral("Excl|Confirma exclusão?"),
        QStringLiteral("IE_DEV|Inscrição Estadual deve ser informada no Filtro."),
        QStringLiteral("NF_0|Sem situação"),
        QStringLiteral("NF_1|Autorizado na Consulta"),
        QStringLiteral("NF_2|Uso Denegado"),
        QStringLiteral("NF_3|NF-e Cancelada"),
        QStringLiteral("MA_0|Sem Manifestação"),
        QStringLiteral("MA_1|Confirmada"),
        QStringLiteral("MA_2|Desconhecida"),
        QStringLiteral("MA_3|Não Realizada"),
        QStringLiteral("MA_4|Ciência da Operação"),
        QStringLiteral("EV_0|Sem Evento"),
        QStringLiteral("EV_1|Cancelada"),
        QStringLiteral("EV_2|Carta Correção"),
        QStringLiteral("AM_1|1 - Produção"),
        QStringLiteral("AM_2|2 - Homologação"),
        QStringLiteral("FILTRO_DEV|Filtro deve ser informado."),
        QStringLiteral("EMPR_NCAD|Empresa não cadastrada."),
        QStringLiteral("EMPR_DEV|Empresa deve ser informada."),
        QStringLiteral(
            "MANI_AVISO|Atenção! Deseja confirmar a operação para todas as notas marcadas?"),
        QStringLiteral("MA_5|Rejeitada"),
        QStringLiteral("EV_3|Manifestação"),
        QStringLiteral("MESMO_EVENTO|A nota selecionada possui um tipo diferente de evento de "
                       "manifestação. Ao selecionar notas com tipos diferentes, todas terão o "
                       "mesmo tipo de manifestação a ser realizada."),
        QStringLiteral("GeraXml|Gerando XML"),
        QStringLiteral("ErroGera|Foram encontrados erros durante a geração do(s) XML(s). "
                       "Verifique o log."),
        QStringLiteral("GeraOK|Arquivo(s) Xml gerado(s) com sucesso."),
        QStringLiteral("PRECISO_SELECIONAR|É preciso selecionar ao menos uma nota fiscal para "
                       "realizar o evento de manifestação."),
        QStringLiteral("CONFIRMAR_IMPXML|Atenção! Após confirmar a operação não será mais "
                       "possível importar o XML da mesma. Deseja confirmar a a operação?"),
        QStringLiteral("AVISO_PRAZOLIMITE|Existem notas que estão chegando ao prazo limite para "
                       "a manifestação conclusiva. Deseja verificar somente elas?"),
        QStringLiteral("MENSAGEM_BLOQUEIO|Existem notas que devem ser manifestadas agora. Favor "
                       "realizar as devidas conclusões definitivas."),
        QStringLiteral("REALIZANDO_DOWN|Realizando o download dos XMLs"),
        QStringLiteral("GeraXml|Gerando XML"),
        QStringLiteral("N_Permissao|Acesso não permitido"),
        QStringLiteral("M|Manual"),
        QStringLiteral("X|Via XML"),
        QStringLiteral("-| - "),
        QStringLiteral("INSCRJURID_DEVE|Inscrição jurídica deve ser informada."),
        QStringLiteral("LIMITE_CONSULTA|Alguns XMLs não foram baixados pois só será permitido o "
                       "download de 20 XMLs por hora, vide alteração nas consultas por chave de "
                       "acesso na versão 1.12 da NT 2014.002."),
    };
    return lines;
}

void addField(TClientDataSet* ds, const QString& name, FieldType type, int size,
              const QString& label = QString(), bool fixed = false) {
    TField& f = ds->AddField(FieldDef{name, type, size, fixed});
    if (!label.isEmpty()) {
        f.SetDisplayLabel(label);
    }
}

void setCommand(QAbstractButton* button, QAction* item, bool on) {
    button->setEnabled(on);
    if (item) {
        item->setEnabled(on);
    }
}

QChar firstChar(const QString& s) {
    return s.isEmpty() ? QChar() : s.at(0);
}

// Text colour of a row by its synchronisation code; invalid for the grid's own colour.
QColor corDaNota(QChar idNota) {
    switch (idNota.unicode()) {
        case '1':
            return QColor(255, 0, 0);
        case '2':
        case '3':
            return QColor(0, 128, 0);
        case '4':
            return QColor(0, 0, 255);
        case '5':
        case '6':
        case '7':
            return QColor(128, 128, 128);
        default:
            return QColor();
    }
}

// The old toolkit's zero date (30/12/1899), which the server may send for "no date".
bool zeroDate(const QDateTime& dt) {
    return !dt.isValid() || (dt.date() == QDate(1899, 12, 30) && dt.time() == QTime(0, 0));
}

// Detaches a data set's AfterScroll for a scope.
class AfterScrollOff {
  public:
    explicit AfterScrollOff(TClientDataSet& ds) : m_ds(ds), m_saved(std::move(ds.AfterScroll)) {
        m_ds.AfterScroll = nullptr;
    }
    ~AfterScrollOff() { m_ds.AfterScroll = std::move(m_saved); }
    AfterScrollOff(const AfterScrollOff&) = delete;
    AfterScrollOff& operator=(const AfterScrollOff&) = delete;

  private:
    TClientDataSet& m_ds;
    std::function<void(TClientDataSet&)> m_saved;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Construction

TfrmManifestacao::TfrmManifestacao(QWidget* parent) : TfrmPadraoGrid(parent) {
    setObjectName(QStringLiteral("frmManifestacao"));
    QWidget holder;
    Ui::TfrmManifestacao ui;
    ui.setupUi(&holder);
    setWindowTitle(holder.windowTitle());
    resize(1040, 572);
    lblCodTela->setText(QStringLiteral("DFE58000"));
    msgPadrao->SetLines(mensagens());

    // Toolbar: the module's commands join the standard ones at their places.
    sbtFiltro = ui.sbtFiltro;
    sbtCiencia = ui.sbtCiencia;
    sbtConfirmaOperacao = ui.sbtConfirmaOperacao;
    sbtDesconhecimento = ui.sbtDesconhecimento;
    sbtOperacaoNRealizada = ui.sbtOperacaoNRealizada;
    sbtVisualizarDocumento = ui.sbtVisualizarDocumento;
    sbtGeraXML = ui.sbtGeraXML;
    sbtDownloadXML = ui.sbtDownloadXML;
    sbtSincronizarNFE = ui.sbtSincronizarNFE;
    const struct {
        TButtonFlat* button;
        QStyle::StandardPixmap glyph;
    } glyphs[] = {
        {sbtFiltro, QStyle::SP_FileDialogContentsView},
        {sbtCiencia, QStyle::SP_MessageBoxInformation},
        {sbtConfirmaOperacao, QStyle::SP_DialogApplyButton},
        {sbtDesconhecimento, QStyle::SP_MessageBoxQuestion},
        {sbtOperacaoNRealizada, QStyle::SP_DialogCancelButton},
        {sbtVisualizarDocumento, QStyle::SP_FileDialogDetailedView},
        {sbtGeraXML, QStyle::SP_FileIcon},
        {sbtDownloadXML, QStyle::SP_ArrowDown},
        {sbtSincronizarNFE, QStyle::SP_BrowserReload},
    };
    for (const auto& g : glyphs) {
        const QRect r = g.button->geometry();
        g.button->setParent(panMenu);
        g.button->setGeometry(r);
        g.button->setIcon(style()->standardIcon(g.glyph, nullptr, this));
        g.button->setIconSize(QSize(16, 16));
        if (g.button == sbtSincronizarNFE) {
            g.button->setIcon(QIcon());  // the caption alone fits its width
            g.button->setToolButtonStyle(Qt::ToolButtonTextOnly);
            g.button->setFixedSize(115, 21);
        } else {
            g.button->setFixedSize(21, 21);
        }
        g.button->show();
    }
    sbtAjuda->hide();

    mnuFIltro = new QAction(QStringLiteral("Filtro"), this);
    mnuFIltro->setObjectName(QStringLiteral("mnuFIltro"));
    mnuFIltro->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    mnuFIltro->setShortcutContext(Qt::WindowShortcut);
    {
        // Before the separator that opens the listing group.
        const QList<QAction*> items = mnuManutencao->actions();
        const int at = int(items.indexOf(mnuListagem)) - 1;
        mnuManutencao->insertAction(at >= 0 ? items.at(at) : nullptr, mnuFIltro);
    }

    // Company panel, right under the toolbar.
    panEmpresa = ui.panEmpresa;
    lblEmpresa = ui.lblEmpresa;
    medCdEmpresa = ui.medCdEmpresa;
    btpEmpresa = ui.btpEmpresa;
    medNmEmpresa = ui.medNmEmpresa;
    imgCheck = ui.imgCheck;
    imgUncheck = ui.imgUncheck;
    panEmpresa->setParent(this);
    layPadrao->insertWidget(layPadrao->indexOf(panMenu) + 1, panEmpresa);
    medCdEmpresa->SetEditMask(QStringLiteral("99;0; "));
    medCdEmpresa->SetMaxLength(2);
    {
        QPalette pal = medCdEmpresa->palette();
        pal.setColor(QPalette::Base, pal.color(QPalette::ToolTipBase));
        medCdEmpresa->setPalette(pal);
        QPalette nm = medNmEmpresa->palette();
        nm.setColor(QPalette::Base, nm.color(QPalette::Button));
        nm.setColor(QPalette::Disabled, QPalette::Base, nm.color(QPalette::Button));
        medNmEmpresa->setPalette(nm);
    }
    setTabOrder(medCdEmpresa, btpEmpresa);
    m_check = CheckPicture(true);
    m_uncheck = CheckPicture(false);
    imgCheck->setPixmap(m_check);
    imgUncheck->setPixmap(m_uncheck);
    imgCheck->hide();
    imgUncheck->hide();
    // The pictures as they are copied into the grid: olive shows the cell through.
    for (QPixmap* pm : {&m_check, &m_uncheck}) {
        pm->setMask(pm->createMaskFromColor(kOlive, Qt::MaskInColor));
    }

    // Page of the list: the grid in its scroll box, the access key and the legend below.
    panDbgPadrao = new QWidget(tshPadrao);
    panDbgPadrao->setObjectName(QStringLiteral("panDbgPadrao"));
    auto* layDbg = new QVBoxLayout(panDbgPadrao);
    layDbg->setContentsMargins(0, 0, 0, 0);
    layDbg->setSpacing(0);
    scbFolhaDados = new QScrollArea(panDbgPadrao);
    scbFolhaDados->setObjectName(QStringLiteral("scbFolhaDados"));
    scbFolhaDados->setWidgetResizable(true);
    scbFolhaDados->setFrameShape(QFrame::NoFrame);
    scbFolhaDados->setMinimumSize(200, 120);
    layLista->removeWidget(dbgPadrao);
    scbFolhaDados->setWidget(dbgPadrao);
    panChaveAcesso = ui.panChaveAcesso;
    lblAcesso = ui.lblAcesso;
    dbeAcesso = ui.dbeAcesso;
    panChaveAcesso->setParent(panDbgPadrao);
    layDbg->addWidget(scbFolhaDados, 1);
    layDbg->addWidget(panChaveAcesso);
    layLista->addWidget(panDbgPadrao);
    {
        QPalette pal = dbeAcesso->palette();
        pal.setColor(QPalette::Base, pal.color(QPalette::Button));
        dbeAcesso->setPalette(pal);
        // The whole key in view, whatever the screen's font: 32 digits, the 12 characters of a
        // CNPJ that may be letters, and the frame.
        const QFontMetrics fm = dbeAcesso->fontMetrics();
        const int inteira =
            fm.horizontalAdvance(QString(32, u'0')) + fm.horizontalAdvance(QString(12, u'W')) + 12;
        if (dbeAcesso->width() < inteira) {
            dbeAcesso->resize(inteira, dbeAcesso->height());
        }
    }

    // Server connection and company query.
    netManifestacao = new TNetConnection(this);
    netManifestacao->setObjectName(QStringLiteral("netManifestacao"));
    netManifestacao->SetServerName(QStringLiteral("DFE58000.rdmManifestacao"));
    netManifestacao->SetThrowException(false);
    netManifestacao->OnBeforeConnect = [this](TNetConnection& net) {
        netManifestacaoBeforeConnect(net);
    };

    qryEmpresa = new TADOIBQuery(this);
    qryEmpresa->setObjectName(QStringLiteral("qryEmpresa"));
    qryEmpresa->SQL = {QStringLiteral("SELECT CDEMPRESA, NMEMPRESA"),
                       QStringLiteral("FROM EMPRESA"),
                       QStringLiteral("WHERE (CDEMPRESA = :P_CDEMPRESA OR 'T' = :P_TCDEMPRESA)"),
                       QStringLiteral("ORDER BY CDEMPRESA")};
    addField(qryEmpresa, QStringLiteral("CDEMPRESA"), FieldType::String, 2,
             QStringLiteral("Código"));
    addField(qryEmpresa, QStringLiteral("NMEMPRESA"), FieldType::String, 40,
             QStringLiteral("Nome"));
    dtsEmpresa = new TDataSource(this);
    dtsEmpresa->setObjectName(QStringLiteral("dtsEmpresa"));
    dtsEmpresa->SetDataSet(qryEmpresa);
    btpEmpresa->SetAssociate(medCdEmpresa);
    btpEmpresa->SetDataSource(dtsEmpresa);
    btpEmpresa->SetTitle(QStringLiteral("Empresa"));
    btpEmpresa->SetFieldCodigo(QStringLiteral("CDEMPRESA"));
    btpEmpresa->SetEmptyError(QStringLiteral("Não há empresa cadastrada."));
    btpEmpresa->SetHint(QStringLiteral("Pesquisar"));

    declareDataSets();
    buildList();
    dbeAcesso->SetDataSource(dtsPadrao);
    dbeAcesso->SetDataField(QStringLiteral("NRACESSONF"));
    bindHandlers();
}

TfrmManifestacao::~TfrmManifestacao() {
    if (frmManifestacao == this) {
        frmManifestacao = nullptr;
        boIdCriado = false;
    }
}

QPixmap TfrmManifestacao::CheckPicture(bool checked) {
    QImage img(16, 16, QImage::Format_RGB32);
    img.fill(kOlive);
    QPainter p(&img);
    p.fillRect(QRect(3, 3, 12, 12), QColor(192, 192, 192));  // shadow
    p.fillRect(QRect(1, 1, 12, 12), Qt::white);
    p.setPen(Qt::black);
    p.drawRect(QRect(1, 1, 11, 11));
    if (checked) {
        p.setRenderHint(QPainter::Antialiasing, false);
        QPen pen(Qt::black);
        pen.setWidth(2);
        p.setPen(pen);
        p.drawLine(QPoint(4, 6), QPoint(6, 9));
        p.drawLine(QPoint(6, 9), QPoint(10, 4));
    }
    p.end();
    return QPixmap::fromImage(img);
}

void TfrmManifestacao::declareDataSets() {
    cdsNotasDestinadas = new TClientDataSet(this);
    cdsNotasDestinadas->setObjectName(QStringLiteral("cdsNotasDestinadas"));
    for (const rdmManifestacao::NoteFieldSpec& nf : rdmManifestacao::kNoteRecord) {
        addField(cdsNotasDestinadas, QString::fromLatin1(nf.name), nf.type, nf.size,
                 QString::fromUtf8(nf.label), nf.fixed);
    }
    TField& valor = cdsNotasDestinadas->FieldByName(QStringLiteral("VRNOTAFISC"));
    valor.SetDisplayFormat(QStringLiteral("###0.00"));
    valor.SetAlignment(Qt::AlignRight | Qt::AlignVCenter);
    cdsNotasDestinadas->SetIndexFieldNames(QStringLiteral("NMRAZSOCEMIT;DTEMISSAO;VRNOTAFISC"));
    dtsPadrao->SetDataSet(cdsNotasDestinadas);

    cdsMarcados = new TClientDataSet(this);
    cdsMarcados->setObjectName(QStringLiteral("cdsMarcados"));
    addField(cdsMarcados, QStringLiteral("NRACESSONF"), FieldType::String, 50);
    addField(cdsMarcados, QStringLiteral("IDCONSULTADO"), FieldType::String, 1);

    cdsNotasErradas = new TClientDataSet(this);
    cdsNotasErradas->setObjectName(QStringLiteral("cdsNotasErradas"));
    addField(cdsNotasErradas, QStringLiteral("NRACESSONF"), FieldType::String, 44,
             QStringLiteral("Chave de Acesso"));
    addField(cdsNotasErradas, QStringLiteral("NRINSJURFORN"), FieldType::String, 21,
             QStringLiteral("Inscrição"));
    addField(cdsNotasErradas, QStringLiteral("NMRAZSOCFORN"), FieldType::String, 200,
             QStringLiteral("Nome Emitente"));
    addField(cdsNotasErradas, QStringLiteral("DSERRO"), FieldType::String, 200,
             QStringLiteral("Descrição"));
    dtsNotasErradas = new TDataSource(this);
    dtsNotasErradas->setObjectName(QStringLiteral("dtsNotasErradas"));
    dtsNotasErradas->SetDataSet(cdsNotasErradas);

    cdsDocumentoXML = new TClientDataSet(this);
    cdsDocumentoXML->setObjectName(QStringLiteral("cdsDocumentoXML"));
    addField(cdsDocumentoXML, QStringLiteral("NRACESSONF"), FieldType::String, 44,
             QStringLiteral("Chave de Acesso"));
    addField(cdsDocumentoXML, QStringLiteral("DSTEXTOXML"), FieldType::Memo, 0);
    addField(cdsDocumentoXML, QStringLiteral("CDSTATUS"), FieldType::String, 3,
             QStringLiteral("Status"));
    addField(cdsDocumentoXML, QStringLiteral("DSSTATUS"), FieldType::String, 4000,
             QStringLiteral("Descrição"));
    dtsDocumentoXML = new TDataSource(this);
    dtsDocumentoXML->setObjectName(QStringLiteral("dtsDocumentoXML"));
    dtsDocumentoXML->SetDataSet(cdsDocumentoXML);

    // Scratch set without fields of its own: a packet brings them.
    cdsNotasTemp = new TClientDataSet(this);
    cdsNotasTemp->setObjectName(QStringLiteral("cdsNotasTemp"));

    // Display texts of the code and date fields.
    using GetText = void (TfrmManifestacao::*)(TField&, QString&, bool);
    const struct {
        const char* field;
        GetText handler;
    } textos[] = {
        {"IDSTATUSNFE", &TfrmManifestacao::cdsNotasDestinadasIDSTATUSNFEGetText},
        {"IDSTATUSMANIF", &TfrmManifestacao::cdsNotasDestinadasIDSTATUSMANIFGetText},
        {"IDTIPOEVENTO", &TfrmManifestacao::cdsNotasDestinadasIDTIPOEVENTOGetText},
        {"IDAMBIENTEMANIF", &TfrmManifestacao::cdsNotasDestinadasIDAMBIENTEMANIFGetText},
        {"IDTIPOINCL", &TfrmManifestacao::cdsNotasDestinadasIDTIPOINCLGetText},
        {"DTENTRSAID", &TfrmManifestacao::cdsNotasDestinadasDTENTRSAIDGetText},
        {"DTEMISSAO", &TfrmManifestacao::cdsNotasDestinadasDTEMISSAOGetText},
        {"DTRECBTO", &TfrmManifestacao::cdsNotasDestinadasDTRECBTOGetText},
    };
    for (const auto& t : textos) {
        cdsNotasDestinadas->FieldByName(QString::fromLatin1(t.field))
            .SetOnGetText([this, h = t.handler](TField& f, QString& text, bool display) {
                (this->*h)(f, text, display);
            });
    }
}

void TfrmManifestacao::cdsNotasDestinadasIDSTATUSNFEGetText(TField&, QString& text, bool) {
    text = codeText(QStringLiteral("IDSTATUSNFE"), QStringLiteral("NF_"), QStringLiteral("0123"));
}

void TfrmManifestacao::cdsNotasDestinadasIDSTATUSMANIFGetText(TField&, QString& text, bool) {
    text =
        codeText(QStringLiteral("IDSTATUSMANIF"), QStringLiteral("MA_"), QStringLiteral("012345"));
}

void TfrmManifestacao::cdsNotasDestinadasIDTIPOEVENTOGetText(TField&, QString& text, bool) {
    text = codeText(QStringLiteral("IDTIPOEVENTO"), QStringLiteral("EV_"), QStringLiteral("0123"));
}

void TfrmManifestacao::cdsNotasDestinadasIDAMBIENTEMANIFGetText(TField&, QString& text, bool) {
    text = codeText(QStringLiteral("IDAMBIENTEMANIF"), QStringLiteral("AM_"), QStringLiteral("12"));
}

void TfrmManifestacao::cdsNotasDestinadasIDTIPOINCLGetText(TField& sender, QString& text, bool) {
    const QChar c = firstChar(sender.AsString());
    if (c.isNull()) {
        text.clear();
    } else if (c == QLatin1Char('M') || c == QLatin1Char('X')) {
        text = msgPadrao->Msg(QString(c));
    } else {
        text = msgPadrao->Msg(QStringLiteral("-"));
    }
}

void TfrmManifestacao::cdsNotasDestinadasDTENTRSAIDGetText(TField& sender, QString& text, bool) {
    text = dateText(sender);
}

void TfrmManifestacao::cdsNotasDestinadasDTEMISSAOGetText(TField& sender, QString& text, bool) {
    text = dateText(sender);
}

void TfrmManifestacao::cdsNotasDestinadasDTRECBTOGetText(TField& sender, QString& text, bool) {
    const QChar nota =
        firstChar(cdsNotasDestinadas->FieldByName(QStringLiteral("IDNOTA")).AsString());
    if (nota.isNull() || nota.isSpace()) {
        text.clear();
    } else if (nota == QLatin1Char('5') || nota == QLatin1Char('6')) {
        text = msgPadrao->Msg(QStringLiteral("-"));
    } else {
        text = dateText(sender);
    }
}

void TfrmManifestacao::buildList() {
    TDBGridColumns& cols = dbgPadrao->Columns();
    cols.Clear();
    TColumn& marca = cols.Add(kMarcado, QStringLiteral("✓"), 20);
    marca.SetTitleAlignment(Qt::AlignCenter);
    marca.SetAlignment(Qt::AlignCenter);
    QFont symbol(QStringLiteral("Monotype Sorts"));
    symbol.setBold(true);
    marca.SetTitleFont(symbol);
    cols.Add(QStringLiteral("CDFILIALORIG"), QStringLiteral("Filial"));
    cols.Add(QStringLiteral("NRINSJURIESTDEST"), QStringLiteral("Inscrição Juridica"));
    cols.Add(QStringLiteral("CDINSCESTADEST"), QStringLiteral("Inscrição Estadual"));
    cols.Add(QStringLiteral("NRINSJURNFORIG"), QStringLiteral("Inscrição Origem"));
    cols.Add(QStringLiteral("NMRAZSOCEMIT"), QStringLiteral("Razão Social"), 200);
    cols.Add(QStringLiteral("NRNOTAFISC"), QStringLiteral("Nº Nota"));
    cols.Add(QStringLiteral("DTENTRSAID"), QStringLiteral("Data de Entrada"));
    cols.Add(QStringLiteral("DTEMISSAO"), QStringLiteral("Data de Emissão"));
    cols.Add(QStringLiteral("CDSERIE"), QStringLiteral("Série"), 60);
    TColumn& valor = cols.Add(QStringLiteral("VRNOTAFISC"), QStringLiteral("Valor"));
    valor.SetTitleAlignment(Qt::AlignRight | Qt::AlignVCenter);
    valor.SetAlignment(Qt::AlignRight | Qt::AlignVCenter);
    cols.Add(QStringLiteral("IDSTATUSNFE"), QStringLiteral("Situação NF"), 130);
    cols.Add(QStringLiteral("IDSTATUSMANIF"), QStringLiteral("Situação Manif."), 120);
    cols.Add(QStringLiteral("DSOBSSTATUSMANIF"), QStringLiteral("Observação")).SetVisible(false);
    cols.Add(QStringLiteral("IDTIPOEVENTO"), QStringLiteral("Evento"), 80);
    cols.Add(QStringLiteral("DSCORRECAONFE"), QStringLiteral("Descrição Correção"), 198);
    cols.Add(QStringLiteral("IDAMBIENTEMANIF"), QStringLiteral("Ambiente"), 100);
    cols.Add(QStringLiteral("IDTIPOINCL"), QStringLiteral("Inclusão"));
    cols.Add(QStringLiteral("DTRECBTO"), QStringLiteral("Dt. Autorização"), 90);
    dbgPadrao->SetReadOnly(true);
    dbgPadrao->SetRowSelect(true);
}

void TfrmManifestacao::bindHandlers() {
    bind(sbtFiltro, &QAbstractButton::clicked, this, [this] { sbtFiltroClick(); });
    bind(sbtCiencia, &QAbstractButton::clicked, this, [this] { sbtCienciaClick(); });
    bind(sbtConfirmaOperacao, &QAbstractButton::clicked, this,
         [this] { sbtConfirmaOperacaoClick(); });
    bind(sbtDesconhecimento, &QAbstractButton::clicked, this,
         [this] { sbtDesconhecimentoClick(); });
    bind(sbtOperacaoNRealizada, &QAbstractButton::clicked, this,
         [this] { sbtOperacaoNRealizadaClick(); });
    bind(sbtGeraXML, &QAbstractButton::clicked, this, [this] { sbtGeraXMLClick(); });
    bind(sbtDownloadXML, &QAbstractButton::clicked, this, [this] { sbtDownloadXMLClick(); });
    bind(sbtVisualizarDocumento, &QAbstractButton::clicked, this,
         [this] { sbtVisualizarDocumentoClick(); });
    bind(sbtSincronizarNFE, &QAbstractButton::clicked, this, [this] { sbtSincronizarNFEClick(); });
    connect(mnuFIltro, &QAction::triggered, this, [this] { mnuFIltroClick(); });
    bind(medCdEmpresa, &TMaskEdit::changed, this, [this] { medCdEmpresaChange(); });
    FocusEvents::setExit(medCdEmpresa, [this] { medCdEmpresaExit(); });
    FocusEvents::setEnter(panEmpresa, [this] { panEmpresaEnter(); });
    FocusEvents::setExit(panEmpresa, [this] { panEmpresaExit(); });
    FocusEvents::setEnter(dbgPadrao, [this] { dbgPadraoEnter(); });
    btpEmpresa->OnBeforePesq = [this](QObject* s, bool& allow) { btpEmpresaBeforePesq(s, allow); };
    btpEmpresa->OnAfterPesq = [this](QObject* s) { btpEmpresaAfterPesq(s); };
    dbgPadrao->OnDrawColumnCell = [this](QPainter& p, const QRect& r, int i, const TColumn& c,
                                         const DrawCellState& st) {
        dbgPadraoDrawColumnCell(p, r, i, c, st);
    };
    dbgPadrao->OnTitleClick = [this](TColumn& c) { dbgPadraoTitleClick(c); };
    dbgPadrao->OnKeyDown = [this](int& key, Qt::KeyboardModifiers m) { dbgPadraoKeyDown(key, m); };
    dbgPadrao->OnDblClick = [this] { dbgPadraoDblClick(); };
    cdsNotasDestinadas->AfterScroll = [this](TClientDataSet& ds) {
        cdsNotasDestinadasAfterScroll(ds);
    };
}

// ---------------------------------------------------------------------------------------------
// Entry and lifecycle

void CriaManifestacao() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    bool novo = false;
    {
        struct CursorBack {
            ~CursorBack() { QApplication::restoreOverrideCursor(); }
        } back;
        if (!boIdCriado || !frmManifestacao) {
            frmManifestacao = new TfrmManifestacao();
            QObject::connect(frmManifestacao, &TfrmPadraoGrid::formDestroying, frmManifestacao,
                             [](TfrmPadraoGrid* form) {
                                 if (form == frmManifestacao) {
                                     frmManifestacao = nullptr;
                                     boIdCriado = false;
                                 }
                             });
            boIdCriado = true;
            novo = true;
            frmManifestacao->DoCreate();
        }
    }
    frmManifestacao->ShowForm();
    if (novo) {
        frmManifestacao->medCdEmpresa->setFocus();
    }
}

void TfrmManifestacao::FormCreate() {
    TfrmPadraoGrid::FormCreate();
    setCommand(sbtImprimir, mnuListagem, false);
    // A server that cannot be reached now is reported by the first call that needs it.
    try {
        netManifestacao->SetConnected(true);
    } catch (const ENetError&) {
    }
    cdsMarcados->CreateDataSet();
    AbreQryEmpresa(Orvanta::EmprProc(), QString());
    if (!qryEmpresa->IsEmpty()) {
        medCdEmpresa->SetText(qryEmpresa->FieldByName(QStringLiteral("CDEMPRESA")).AsString());
        medNmEmpresa->setText(qryEmpresa->FieldByName(QStringLiteral("NMEMPRESA")).AsString());
    }
    boAvisoManifestacao = false;
    stManifestacao.clear();
}

void TfrmManifestacao::FormClose(TCloseAction& action) {
    TfrmPadraoGrid::FormClose(action);
    // A socket may report itself connected for a moment after a close: ask until it is not.
    for (int tries = 0; netManifestacao->Connected() && tries < 100; ++tries) {
        netManifestacao->SetConnected(false);
    }
}

void TfrmManifestacao::netManifestacaoBeforeConnect(TNetConnection& connection) {
    connection.SetPort(Orvanta::WebPort());
    connection.SetHost(Orvanta::WebURL());
}

void TfrmManifestacao::AbreQryEmpresa(const QString& code, const QString& all) {
    Pesquisa::Abre(qryEmpresa, {{"P_CDEMPRESA", code}, {"P_TCDEMPRESA", all}});
}

void TfrmManifestacao::CarregaNotas(const QByteArray& packet) {
    using rdmManifestacao::GetNotasDestinadas::kName;
    // A packet of another layout would load in part or by conversions: refused whole.
    Rdm_Dfe58000::ConfereLayout(packet, cdsNotasDestinadas->FieldDefs(), kName,
                                QStringLiteral("A lista de notas"));
    // The new list comes without marks; a list that cannot be loaded keeps its own.
    const int marcados = std::exchange(inMarcados, 0);
    try {
        Rdm_Dfe58000::CarregaPacote(*cdsNotasDestinadas, packet, kName);
    } catch (...) {
        inMarcados = marcados;
        throw;
    }
}

// ---------------------------------------------------------------------------------------------
// Company panel and commands

void TfrmManifestacao::panEmpresaEnter() {
    m_focoNoPainel = true;
    setCommand(sbtIncluir, mnuIncluir, false);
    setCommand(sbtExcluir, mnuExcluir, false);
    setCommand(sbtProcurar, mnuProcurar, false);
    setCommand(sbtVerificar, mnuVerificar, false);
    setCommand(sbtCancelar, mnuCancelar, false);
    setCommand(sbtFiltro, mnuFIltro, true);
    cdsNotasDestinadas->Close();
    setCommand(sbtImprimir, mnuListagem, false);
}

void TfrmManifestacao::panEmpresaExit() {
    if (Consiste::EmptyString(medCdEmpresa->Text())) {
        medCdEmpresa->setFocus();
        Consiste::MensErro(msgPadrao->Msg(QStringLiteral("EMPR_DEV")), true);
    }
    medCdEmpresa->SetText(Consiste::Ajusta(medCdEmpresa->Text(), 2));
    AbreQryEmpresa(medCdEmpresa->Text(), QString());
    if (qryEmpresa->IsEmpty()) {
        medCdEmpresa->setFocus();
        Consiste::MensErro(msgPadrao->Msg(QStringLiteral("EMPR_NCAD")), true);
    }
    if (!CriaFiltro()) {
        medCdEmpresa->setFocus();
        Consiste::Abort();
    }
    m_focoNoPainel = false;
    dtsPadraoStateChange();
}

void TfrmManifestacao::medCdEmpresaChange() {
    medNmEmpresa->clear();
    if (frmFiltro) {
        frmFiltro->Filtro.stInscrJurid.clear();
        frmFiltro->Filtro.stCdInscEsta.clear();
    }
    if (cdsNotasDestinadas->Active() && cdsNotasDestinadas->State() == DataSetState::Browse) {
        cdsNotasDestinadas->EmptyDataSet();
    }
}

void TfrmManifestacao::medCdEmpresaExit() {
    if (Consiste::EmptyString(medCdEmpresa->Text())) {
        return;
    }
    medCdEmpresa->SetText(Consiste::Ajusta(medCdEmpresa->Text(), 2));
    AbreQryEmpresa(medCdEmpresa->Text(), QString());
    if (qryEmpresa->IsEmpty()) {
        medCdEmpresa->setFocus();
        Consiste::MensErro(msgPadrao->Msg(QStringLiteral("EMPR_NCAD")), true);
    }
    medNmEmpresa->setText(qryEmpresa->FieldByName(QStringLiteral("NMEMPRESA")).AsString());
}

void TfrmManifestacao::btpEmpresaBeforePesq(QObject*, bool&) {
    AbreQryEmpresa(QString(), QStringLiteral("T"));
}

void TfrmManifestacao::btpEmpresaAfterPesq(QObject*) {
    if (!qryEmpresa->Active() || qryEmpresa->IsEmpty()) {
        return;
    }
    const QString code = qryEmpresa->FieldByName(QStringLiteral("CDEMPRESA")).AsString();
    const QString name = qryEmpresa->FieldByName(QStringLiteral("NMEMPRESA")).AsString();
    medCdEmpresa->SetText(code);
    medNmEmpresa->setText(name);
}

void TfrmManifestacao::sbtFiltroClick() {
    if (Consiste::EmptyString(medCdEmpresa->Text())) {
        medCdEmpresa->setFocus();
        Consiste::MensErro(msgPadrao->Msg(QStringLiteral("EMPR_DEV")), true);
    }
    medCdEmpresa->SetText(Consiste::Ajusta(medCdEmpresa->Text(), 2));
    CriaFiltro();
}

void TfrmManifestacao::mnuFIltroClick() {
    sbtFiltro->click();
}

void TfrmManifestacao::sbtImprimirClick() {
    CriaRelatorio();
}

void TfrmManifestacao::dtsPadraoStateChange() {
    // While the caret is in the company panel, searching and verifying wait for a company and
    // its filter: the list closing or loading meanwhile does not offer them.
    const bool noPainel = m_focoNoPainel;
    setCommand(sbtIncluir, mnuIncluir, false);
    setCommand(sbtExcluir, mnuExcluir, false);
    setCommand(sbtProcurar, mnuProcurar, !noPainel);
    setCommand(sbtVerificar, mnuVerificar, !noPainel);
    setCommand(sbtCancelar, mnuCancelar, false);
    if (sbtFiltro) {
        setCommand(sbtFiltro, mnuFIltro, true);
    }
}

void TfrmManifestacao::dbgPadraoEnter() {
    m_focoNoPainel = false;
    dtsPadraoStateChange();
    const bool rows = cdsNotasDestinadas->Active() && !cdsNotasDestinadas->IsEmpty();
    setCommand(sbtImprimir, mnuListagem, rows);
    if (TColumn* valor = dbgPadrao->Columns().Find(QStringLiteral("VRNOTAFISC"))) {
        valor->SetAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
}

// ---------------------------------------------------------------------------------------------
// Display

QString TfrmManifestacao::codeText(const QString& field, const QString& prefix,
                                   const QString& valid) const {
    const QChar c = firstChar(cdsNotasDestinadas->FieldByName(field).AsString());
    if (c.isNull() || !valid.contains(c)) {
        return {};
    }
    return msgPadrao->Msg(prefix + c);
}

QString TfrmManifestacao::dateText(const TField& field) const {
    if (field.IsNull()) {
        return msgPadrao->Msg(QStringLiteral("-"));
    }
    const QDateTime dt = field.AsDateTime();
    if (zeroDate(dt)) {
        return msgPadrao->Msg(QStringLiteral("-"));
    }
    QString text = dt.date().toString(QStringLiteral("dd/MM/yyyy"));
    if (dt.time() != QTime(0, 0)) {
        text += QLatin1Char(' ') + dt.time().toString(QStringLiteral("HH:mm:ss"));
    }
    return text;
}

void TfrmManifestacao::dbgPadraoDrawColumnCell(QPainter& painter, const QRect& rect, int,
                                               const TColumn& column, const DrawCellState& state) {
    TClientDataSet* ds = cdsNotasDestinadas;
    if (!ds->Active()) {
        return;
    }
    const bool rows = !ds->IsEmpty();
    const QString idNota =
        rows ? ds->FieldByName(QStringLiteral("IDNOTA")).AsString().trimmed() : QString();
    if (rows && !idNota.isEmpty()) {
        QColor cor = corDaNota(idNota.at(0));
        if (!cor.isValid()) {
            cor = dbgPadrao->palette().color(QPalette::WindowText);
        }
        painter.save();
        painter.fillRect(rect, state.background);
        painter.setClipRect(rect);
        painter.setFont(dbgPadrao->font());
        painter.setPen(cor);
        const TField* field = column.Field();
        const QString text = field ? field->DisplayText() : QString();
        const QFontMetrics fm(painter.font());
        const int x =
            column.FieldName().compare(QStringLiteral("VRNOTAFISC"), Qt::CaseInsensitive) == 0
                ? rect.x() + rect.width() - fm.horizontalAdvance(text) - 2
                : rect.x() + 2;
        painter.drawText(QPoint(x, rect.y() + 2 + fm.ascent()), text);
        painter.restore();
    }
    if (column.FieldName().compare(kMarcado, Qt::CaseInsensitive) == 0) {
        const QString marca = ds->FieldByName(kMarcado).AsString();
        const QPixmap* pic = marca == QLatin1String("S")   ? &m_check
                             : marca == QLatin1String("N") ? &m_uncheck
                                                           : nullptr;
        painter.fillRect(rect, state.background);
        if (pic) {
            painter.save();
            painter.setClipRect(rect);
            const int h = qMin(rect.height(), pic->height());
            painter.drawPixmap(QRect(rect.x() + 4, rect.y(), pic->width(), h), *pic,
                               QRect(0, 0, pic->width(), h));
            painter.restore();
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Marking

void TfrmManifestacao::ValidaAviso() {
    const QString situacao =
        cdsNotasDestinadas->FieldByName(QStringLiteral("IDSTATUSMANIF")).AsString();
    if (inMarcados == 0) {
        stManifestacao = situacao;
        return;
    }
    if (situacao != stManifestacao && !boAvisoManifestacao) {
        boAvisoManifestacao = true;
        dialogs().message(msgPadrao->Msg(QStringLiteral("MESMO_EVENTO")), MsgType::Warning,
                          MsgButton::Ok, this);
    }
}

void TfrmManifestacao::marcaNota(bool completeNow) {
    TClientDataSet* ds = cdsNotasDestinadas;
    ds->Edit();
    TField& marca = ds->FieldByName(kMarcado);
    if (marca.AsString() == QLatin1String("S")) {
        marca.SetAsString(QStringLiteral("N"));
        --inMarcados;
        if (inMarcados == 0) {
            boAvisoManifestacao = false;
        }
    } else {
        marca.SetAsString(QStringLiteral("S"));
        ValidaAviso();
        ++inMarcados;
    }
    if (completeNow) {
        ds->Post();
    }
}

void TfrmManifestacao::dbgPadraoKeyDown(int& key, Qt::KeyboardModifiers) {
    const bool rows = cdsNotasDestinadas->Active() && !cdsNotasDestinadas->IsEmpty();
    if (key == Qt::Key_Space && rows) {
        marcaNota(false);
        dbgPadrao->SetSelectedIndex(dbgPadrao->Columns().IndexOf(kMarcado));
        key = 0;
    }
    AplicaEstadoComandos(false);
}

void TfrmManifestacao::dbgPadraoDblClick() {
    if (cdsNotasDestinadas->Active() && !cdsNotasDestinadas->IsEmpty()) {
        marcaNota(true);
    }
    AplicaEstadoComandos(false);
}

void TfrmManifestacao::dbgPadraoTitleClick(TColumn& column) {
    TClientDataSet* ds = cdsNotasDestinadas;
    if (column.FieldName().compare(kMarcado, Qt::CaseInsensitive) != 0 || !ds->Active() ||
        ds->IsEmpty()) {
        return;
    }
    TDBGridUpdateLock freeze(*dbgPadrao);
    DataSetControlsLock quiet(*ds);
    // The pass goes row by row with the screen frozen. The list returns to browsing after every
    // row, and the command states are those of the last move of the cursor, so both are applied
    // once, at the end, with the counter as it stood at that last move.
    const bool desmarca = inMarcados > 0;
    int contadorNoUltimoMovimento = inMarcados;
    {
        QSignalBlocker silent(dtsPadrao);
        AfterScrollOff noScroll(*ds);
        TField& marca = ds->FieldByName(kMarcado);
        const QString sim = QStringLiteral("S");
        const QString nao = QStringLiteral("N");
        ds->First();
        while (!ds->Eof()) {
            contadorNoUltimoMovimento = inMarcados;
            if (desmarca) {
                if (marca.AsString() != nao) {
                    ds->Edit();
                    marca.SetAsString(nao);
                    ds->Post();
                }
            } else if (marca.AsString() == nao) {
                ds->Edit();
                marca.SetAsString(sim);
                ds->Post();
                ++inMarcados;
            }
            ds->Next();
        }
    }
    const int contador = inMarcados;
    inMarcados = contadorNoUltimoMovimento;
    AplicaEstadoComandos(true);
    inMarcados = desmarca ? 0 : contador;
    dtsPadraoStateChange();
}

void TfrmManifestacao::cdsNotasDestinadasAfterScroll(TClientDataSet&) {
    AplicaEstadoComandos(true);
}

void TfrmManifestacao::AplicaEstadoComandos(bool rowChanged) {
    TClientDataSet* ds = cdsNotasDestinadas;
    const bool rows = ds->Active() && !ds->IsEmpty();
    QChar manif, nfe;
    bool lancada = false;
    bool xml = false;
    if (rows) {
        manif = firstChar(ds->FieldByName(QStringLiteral("IDSTATUSMANIF")).AsString());
        nfe = firstChar(ds->FieldByName(QStringLiteral("IDSTATUSNFE")).AsString());
        lancada = !Consiste::EmptyString(ds->FieldByName(QStringLiteral("NRLANCTONF")).AsString());
        xml = ds->FieldByName(QStringLiteral("IDARQXMLNFE")).AsString() == QLatin1String("S");
    }
    const bool on = rows && inMarcados > 0;
    auto is = [](QChar c, const char* set) {
        return !c.isNull() && QLatin1String(set).contains(c);
    };
    sbtCiencia->setEnabled(on && is(manif, "05"));
    sbtConfirmaOperacao->setEnabled(on && manif != QLatin1Char('1'));
    sbtDesconhecimento->setEnabled(on && !lancada && manif != QLatin1Char('2'));
    sbtOperacaoNRealizada->setEnabled(on && !lancada && manif != QLatin1Char('3'));
    sbtDownloadXML->setEnabled(on && is(manif, "14") && is(nfe, "01"));
    sbtGeraXML->setEnabled(on && xml);
    if (rowChanged) {
        sbtVisualizarDocumento->setEnabled(lancada);
    }
}

void TfrmManifestacao::InsereCdsFiltrado() {
    TClientDataSet* ds = cdsNotasDestinadas;
    if (!cdsMarcados->Active()) {
        cdsMarcados->CreateDataSet();
    }
    cdsMarcados->EmptyDataSet();
    if (!ds->Active()) {
        return;
    }
    // A mark still being edited counts: it is completed first.
    if (ds->State() == DataSetState::Edit || ds->State() == DataSetState::Insert) {
        ds->Post();
    }
    // The rows are read where they stand, without moving the cursor or filtering the list, so
    // the list, its position and its views are left exactly as they were. The marked set is
    // written as one packet: a row per marked note, in list order.
    TField& marca = ds->FieldByName(kMarcado);
    TField& chave = ds->FieldByName(QStringLiteral("NRACESSONF"));
    const QString sim = QStringLiteral("S");
    const QString nao = QStringLiteral("N");
    const int total = ds->RecordCount();
    std::vector<int> marcadas;
    marcadas.reserve(size_t(total));
    for (int i = 0; i < total; ++i) {
        if (marca.ValueAt(i).toString() == sim) {
            marcadas.push_back(i);
        }
    }
    PacketWriter pacote(cdsMarcados->FieldDefs(), qsizetype(marcadas.size()),
                        qsizetype(marcadas.size()) * 52);
    for (int i : marcadas) {
        pacote.beginRow();
        pacote.string(chave.ValueAt(i).toString());
        pacote.string(nao);
        pacote.endRow();
    }
    cdsMarcados->SetData(pacote.finish());
}
