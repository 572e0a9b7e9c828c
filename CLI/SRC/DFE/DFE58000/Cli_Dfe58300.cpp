#include "Cli_Dfe58300.h"

#include "ui_Cli_Dfe58300.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "Cli_Dfe58000.h"
#include "Cli_Dfe58100.h"
#include "core/clientdataset.h"
#include "core/messages.h"
#include "core/orvanta.h"
#include "notarecord.h"
#include "report/reportengine.h"
#include "sql/adoibquery.h"
#include "ui/btnpesquisa.h"
#include "ui/consiste.h"
#include "ui/dateeditplus.h"
#include "ui/handler.h"
#include "ui/maskedit.h"
#include "ui/pesqlista.h"

TfrmRelatorio* frmRelatorio = nullptr;
QString stIdEntrSaidOp;
QString stCdTipoOper;
QString stCNPJ;

using namespace host;

namespace {

const QString kTodos = QStringLiteral("T");
const QString kMaskFilial = QStringLiteral(">aaaa;0; ");

// The form's keyed messages, the report base's own first. "menot" in DATAEMISFIN_DEV is the
// text users have always seen; it stays as it is.
const QStringList kMensagens = {
    QStringLiteral("Arq_Rel_Err|O arquivo contendo a definição do relatório de código '%s' não "
                   "foi encontrado no diretório '%s'."),
    QStringLiteral("NovoCaption|Título do relatório"),
    QStringLiteral("NovoPrompt|Informe o título do relatório:"),
    QStringLiteral("VD_TRAD|Validando tradução de relatórios"),
    QStringLiteral("EMPR_DEV|Empresa deve ser informada."),
    QStringLiteral("TipoOper|Tipo de Operação"),
    QStringLiteral("TipoOper_N|Tipo de Operação não cadastrado."),
    QStringLiteral("INSCRESTAD|Inscrição Estadual"),
    QStringLiteral("IE_N|Inscrição Estadual não cadastrada."),
    QStringLiteral("CNPJ_N|CNPJ não cadastrado."),
    QStringLiteral("CNPJ|CNPJ"),
    QStringLiteral("CNPJ_DEV|CNPJ deve ser informado."),
    QStringLiteral("CHAVEACES_44|Chave de acesso deve conter 44 caracteres."),
    QStringLiteral("EMPR_N|Empresa não cadastrada."),
    QStringLiteral("SERIE_N|Série não cadastrada."),
    QStringLiteral("FIL_N|Filial não cadastrada."),
    QStringLiteral("CLIE_N|Cliente não cadastrado."),
    QStringLiteral("FORN_N|Fornecedor não cadastrado."),
    QStringLiteral("SITUACAONF_DEV|Situação da NF-e deve ser informada."),
    QStringLiteral("SITUMANIFESTA_DEV|Situação da Manifestação deve ser informada."),
    QStringLiteral("CLIE_DEV|Cliente deve ser informado."),
    QStringLiteral("FORN_DEV|Fornecedor deve ser informado."),
    QStringLiteral("FIL_DEV|Filial deve ser informada."),
    QStringLiteral("TIPOOPER_DEV|Tipo de Operação deve ser informado."),
    QStringLiteral("FILIORIG_N|Filial de Origem não cadastrada."),
    QStringLiteral("DTINI_DEVE|Data Inicial deve ser informada."),
    QStringLiteral("DTFIN_DEVE|Data final deve ser informada."),
    QStringLiteral("DATAEMISFIN_DEV|Data Inicial deve ser menot ou igual à data final informada."),
    QStringLiteral("INSCRJURID_DEVE|Inscrição jurídica deve ser informada."),
    QStringLiteral("INSCRJURID_N_CAD|Inscrição jurídica não cadastrada."),
};

// Read-only displays wear the window's grey.
void corDeFundo(QWidget* w, QPalette::ColorRole from) {
    QPalette p = w->palette();
    const QColor c = QApplication::palette().color(from);
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        p.setColor(group, QPalette::Base, c);
    }
    w->setPalette(p);
}

void botao(TBtnPesquisa* b, QWidget* associate, const QString& title, const QString& fieldCodigo,
           const QString& emptyError) {
    b->SetAssociate(associate);
    b->SetTitle(title);
    b->SetFieldCodigo(fieldCodigo);
    b->SetEmptyError(emptyError);
    b->SetHint(QStringLiteral("Pesquisar"));
}

}  // namespace

TfrmRelatorio::TfrmRelatorio(QWidget* parent) : TfrmDadosGerRel(parent) {
    declareComponents();
    declareLookups();
    declareDataSets();
    setDesignProperties();
    bindHandlers();
    bindLookups();
}

TfrmRelatorio::~TfrmRelatorio() {
    if (frmRelatorio == this) {
        frmRelatorio = nullptr;
    }
}

void TfrmRelatorio::declareComponents() {
    panCriterios = new QWidget(grbDadosRel);
    panCriterios->setObjectName(QStringLiteral("panCriterios"));
    Ui::TfrmRelatorioCriterios ui;
    ui.setupUi(panCriterios);
    panCriterios->setObjectName(QStringLiteral("panCriterios"));
    panCriterios->setFixedSize(panCriterios->size());
    if (!grbDadosRel->layout()) {
        new QVBoxLayout(grbDadosRel);
    }
    grbDadosRel->layout()->addWidget(panCriterios);

    lblEmpresa = ui.lblEmpresa;
    medCdEmpresa = ui.medCdEmpresa;
    btpEmpresa = ui.btpEmpresa;
    medNmEmpresa = ui.medNmEmpresa;
    lblInscrJurid = ui.lblInscrJurid;
    medInscrJurid = ui.medInscrJurid;
    btpInscrJurid = ui.btpInscrJurid;
    lblIE = ui.lblIE;
    medIE = ui.medIE;
    btpIE = ui.btpIE;
    lblFiliOrig = ui.lblFiliOrig;
    medCdFiliOrig = ui.medCdFiliOrig;
    btpFiliOrig = ui.btpFiliOrig;
    medNmFiliOrig = ui.medNmFiliOrig;
    lblSerie = ui.lblSerie;
    medCdSerie = ui.medCdSerie;
    btpSerie = ui.btpSerie;

    grbEmitente = ui.grbEmitente;
    cboEmitente = ui.cboEmitente;
    nbkEmitente = ui.nbkEmitente;
    medTodos = ui.medTodos;
    BtnPesquisa5 = ui.BtnPesquisa5;
    medNmTodos = ui.medNmTodos;
    medCdCliente = ui.medCdCliente;
    btpCliente = ui.btpCliente;
    medNmCliente = ui.medNmCliente;
    medCdFornecedor = ui.medCdFornecedor;
    btpFornecedor = ui.btpFornecedor;
    medNmFornecedor = ui.medNmFornecedor;
    medCdFilial = ui.medCdFilial;
    btpFilial = ui.btpFilial;
    medNmFilial = ui.medNmFilial;

    grbEmissao = ui.grbEmissao;
    depInicial = ui.depInicial;
    depFinal = ui.depFinal;
    grbOperacao = ui.grbOperacao;
    cboOperacao = ui.cboOperacao;
    rbtTodosOper = ui.rbtTodosOper;
    rbtListaOper = ui.rbtListaOper;
    btpOperacao = ui.btpOperacao;
    grbSituacaoNFe = ui.grbSituacaoNFe;
    chkSemSituacao = ui.chkSemSituacao;
    chkAutorizada = ui.chkAutorizada;
    chkDenegada = ui.chkDenegada;
    chkCancelada = ui.chkCancelada;
    grbSituacaoManifestacao = ui.grbSituacaoManifestacao;
    chkSemManifestacao = ui.chkSemManifestacao;
    chkConfirmadaOperacao = ui.chkConfirmadaOperacao;
    chkCienciaOperacao = ui.chkCienciaOperacao;
    chkOperacaoNRealizada = ui.chkOperacaoNRealizada;
    chkDesconhecida = ui.chkDesconhecida;
    grbChaveAcesso = ui.grbChaveAcesso;
    medChaveAcesso = ui.medChaveAcesso;
}

void TfrmRelatorio::declareDataSets() {
    // The copies of the workspace's list: its record without the addressee's registrations.
    const auto copia = [this](const char* name) {
        auto* cds = new TClientDataSet(this);
        cds->setObjectName(QString::fromLatin1(name));
        for (const rdmManifestacao::NoteFieldSpec& nf : rdmManifestacao::kNoteRecord) {
            const QString campo = QString::fromLatin1(nf.name);
            if (campo == QLatin1String("NRINSJURIESTDEST") ||
                campo == QLatin1String("CDINSCESTADEST")) {
                continue;
            }
            TField& f = cds->AddField({campo, nf.type, nf.size, nf.fixed});
            if (*nf.label) {
                f.SetDisplayLabel(QString::fromUtf8(nf.label));
            }
        }
        cds->CreateDataSet();
        return cds;
    };
    const auto fonte = [this](const char* name, TClientDataSet* ds) {
        auto* s = new TDataSource(this);
        s->setObjectName(QString::fromLatin1(name));
        s->SetDataSet(ds);
        return s;
    };
    cdsNotasDestinadas = copia("cdsNotasDestinadas");
    dtsNotasDestinadas = fonte("dtsNotasDestinadas", cdsNotasDestinadas);
    cdsAux = copia("cdsAux");
    dtsAux = fonte("dtsAux", cdsAux);

    cdsContaNotas = new TClientDataSet(this);
    cdsContaNotas->setObjectName(QStringLiteral("cdsContaNotas"));
    cdsContaNotas->AddField({QStringLiteral("IDNOTA"), FieldType::String, 20, false});
    cdsContaNotas->AddField({QStringLiteral("Quantidade"), FieldType::String, 20, false});
    cdsContaNotas->CreateDataSet();
    dtsContaNotas = fonte("dtsContaNotas", cdsContaNotas);

    rpddPadrao->AddDataSet(QStringLiteral("dtsNotasDestinadas"), cdsNotasDestinadas);
    rpddPadrao->AddDataSet(QStringLiteral("dtsAux"), cdsAux);
    rpddPadrao->AddDataSet(QStringLiteral("dtsContaNotas"), cdsContaNotas);
}

void TfrmRelatorio::setDesignProperties() {
    setObjectName(QStringLiteral("frmRelatorio"));
    setWindowTitle(QStringLiteral("Relatórios de Manifestação do Destinatário"));
    lblCodRel->setText(QStringLiteral("DFE58300"));
    msgPadrao->SetLines(kMensagens);

    // Group titles are bold like the labels, as in the filter; their contents are not.
    panCriterios->setStyleSheet(QStringLiteral("QGroupBox { font-weight: bold; }"));
    QFont negrito = lblEmpresa->font();
    negrito.setBold(true);
    for (QLabel* l : {lblEmpresa, lblInscrJurid, lblIE, lblFiliOrig, lblSerie}) {
        l->setFont(negrito);
    }

    medCdEmpresa->SetEditMask(QStringLiteral("99;0; "));
    medCdEmpresa->SetMaxLength(2);
    botao(btpEmpresa, medCdEmpresa, QStringLiteral("Empresa"), QStringLiteral("CDEMPRESA"),
          QStringLiteral("Não há empresa cadastrada."));
    btpEmpresa->SetDataSource(dtsEmpresa);
    medInscrJurid->SetMaxLength(20);
    botao(btpInscrJurid, medInscrJurid, QStringLiteral("Inscrição Jurídica"),
          QStringLiteral("NRINSJURIEST"), QStringLiteral("Não há inscrição jurídica cadastrada."));
    btpInscrJurid->SetDataSource(dtsPesqInscrJurid);
    medIE->SetMaxLength(16);
    botao(btpIE, medIE, QStringLiteral("Inscrição Estadual"), QStringLiteral("CDINSCESTA"),
          QStringLiteral("Não há inscrição estadual cadastrada."));
    btpIE->SetDataSource(dtsPesqInscrEstad);
    medCdFiliOrig->SetEditMask(kMaskFilial);
    medCdFiliOrig->SetMaxLength(4);
    botao(btpFiliOrig, medCdFiliOrig, QStringLiteral("Filial"), QStringLiteral("CDFILIAL"),
          QStringLiteral("Não há filial cadastrada."));
    btpFiliOrig->SetDataSource(dtsPesqFilial);
    medCdSerie->SetMaxLength(5);
    botao(btpSerie, medCdSerie, QStringLiteral("Série"), QStringLiteral("CDSERIE"),
          QStringLiteral("Não há série cadastrada."));
    btpSerie->SetDataSource(dtsSerieNF);

    medTodos->SetText(QStringLiteral("Todos"));
    BtnPesquisa5->SetHint(QStringLiteral("Pesquisar"));
    medCdCliente->SetMaxLength(20);
    botao(btpCliente, medCdCliente, QStringLiteral("Cliente"), QStringLiteral("NRINSJURCLIE"),
          QStringLiteral("Não há cliente cadastrado."));
    btpCliente->SetDataSource(dtsCliente);
    medCdFornecedor->SetMaxLength(20);
    botao(btpFornecedor, medCdFornecedor, QStringLiteral("Fornecedor"),
          QStringLiteral("NRINSJURFORN"), QStringLiteral("Não há fornecedor cadastrado."));
    btpFornecedor->SetDataSource(dtsFornecedor);
    medCdFilial->SetEditMask(kMaskFilial);
    medCdFilial->SetMaxLength(4);
    botao(btpFilial, medCdFilial, QStringLiteral("Filial"), QStringLiteral("CDFILIAL"),
          QStringLiteral("Não há filial cadastrada."));
    btpFilial->SetDataSource(dtsPesqFilial);
    for (TMaskEdit* nome : {medNmEmpresa, medNmFiliOrig, medTodos, medNmTodos, medNmCliente,
                            medNmFornecedor, medNmFilial}) {
        corDeFundo(nome, QPalette::Button);
    }

    for (TDateEditPlus* d : {depInicial, depFinal}) {
        d->SetValidDateColor(QColor(0, 0, 255));
        corDeFundo(d, QPalette::ToolTipBase);
    }

    btpOperacao->SetAssociate(rbtListaOper);
    btpOperacao->SetHint(QStringLiteral("Pesquisar"));
    btpOperacao->SetDataSource(dtsOperacao);
    btpOperacao->setEnabled(false);

    medChaveAcesso->SetMaxLength(44);
    // Access keys carry upper-case letters where an alphanumeric CNPJ stands in them.
    medChaveAcesso->OnKeyPress = [](QString& key) { key = key.toUpper(); };

    // Tab order inside the criteria, as the clerk reads the form.
    const QList<QWidget*> ordem = {cbbReportNames,
                                   medCdEmpresa,
                                   btpEmpresa,
                                   medInscrJurid,
                                   btpInscrJurid,
                                   medIE,
                                   btpIE,
                                   medCdFiliOrig,
                                   btpFiliOrig,
                                   medCdSerie,
                                   btpSerie,
                                   cboEmitente,
                                   medCdCliente,
                                   btpCliente,
                                   medCdFornecedor,
                                   btpFornecedor,
                                   medCdFilial,
                                   btpFilial,
                                   depInicial,
                                   depFinal,
                                   cboOperacao,
                                   rbtTodosOper,
                                   rbtListaOper,
                                   btpOperacao,
                                   chkSemSituacao,
                                   chkAutorizada,
                                   chkDenegada,
                                   chkCancelada,
                                   chkSemManifestacao,
                                   chkConfirmadaOperacao,
                                   chkCienciaOperacao,
                                   chkOperacaoNRealizada,
                                   chkDesconhecida,
                                   medChaveAcesso};
    for (qsizetype i = 1; i < ordem.size(); ++i) {
        setTabOrder(ordem.at(i - 1), ordem.at(i));
    }
}

void TfrmRelatorio::bindHandlers() {
    bind(cbbReportNames, &QComboBox::currentIndexChanged, this, [this] { cbbReportNamesChange(); });
    bind(cboEmitente, &QComboBox::currentIndexChanged, this, [this] { cboEmitenteChange(); });
    bind(cboOperacao, &QComboBox::currentIndexChanged, this, [this] { cboOperacaoChange(); });
    bind(rbtTodosOper, &QRadioButton::clicked, this, [this] { rbtTodosOperClick(); });
    bind(rbtListaOper, &QRadioButton::clicked, this, [this] { rbtListaOperClick(); });
    btpOperacao->OnBeforePesq = [this](QObject* s, bool& allow) {
        btpOperacaoBeforePesq(s, allow);
    };
    btpOperacao->OnClick = [this] { btpOperacaoClick(); };
    rpddPadrao->BeforeGetQueryParams = [this](TReportParams& params, bool& doCancel) {
        rpddPadraoBeforeGetQueryParams(params, doCancel);
    };
}

void TfrmRelatorio::FormCreate() {
    TfrmDadosGerRel::FormCreate();

    AbreQryEmpresa(Orvanta::EmprProc(), QString());
    if (qryEmpresa->IsEmpty()) {
        medCdEmpresa->Clear();
        medNmEmpresa->Clear();
    } else {
        medCdEmpresa->SetText(qryEmpresa->FieldByName(QStringLiteral("CDEMPRESA")).AsString());
        medNmEmpresa->SetText(qryEmpresa->FieldByName(QStringLiteral("NMEMPRESA")).AsString());
    }

    stCdTipoOper = (frmFiltro && !frmFiltro->stFiltroCdTipoOper.isEmpty())
                       ? frmFiltro->stFiltroCdTipoOper
                       : kTodos;
    stCNPJ = kTodos;
    stIdEntrSaidOp = QStringLiteral("E");
    copiaDoFiltro();
}

void TfrmRelatorio::FormActivate() {
    TfrmDadosGerRel::FormActivate();
    cbbReportNamesChange();
    copiaNotas();
}

void TfrmRelatorio::FormClose(TCloseAction& action) {
    action = TCloseAction::caHide;
}

void TfrmRelatorio::cboEmitenteChange() {
    nbkEmitente->setCurrentIndex(cboEmitente->currentIndex());
}

void TfrmRelatorio::cboOperacaoChange() {
    stIdEntrSaidOp = cboOperacao->currentIndex() == 0 ? QStringLiteral("E") : QStringLiteral("S");
}

void TfrmRelatorio::rbtTodosOperClick() {
    stCdTipoOper = kTodos;
    btpOperacao->setEnabled(false);
}

void TfrmRelatorio::rbtListaOperClick() {
    stCdTipoOper.clear();
    btpOperacao->setEnabled(true);
}

void TfrmRelatorio::btpOperacaoBeforePesq(QObject*, bool&) {
    AbreQryTipoOper(stIdEntrSaidOp);
}

void TfrmRelatorio::btpOperacaoClick() {
    const QString titulo = msgPadrao->Msg(QStringLiteral("TipoOper")) + u'|' +
                           msgPadrao->Msg(QStringLiteral("TipoOper_N"));
    Pesqlista::PesquisaLista(dtsOperacao, QStringLiteral("CDTIPOOPER"), titulo, false,
                             stCdTipoOper);
}

void CriaRelatorio() {
    if (!frmRelatorio) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        struct CursorBack {
            ~CursorBack() { QApplication::restoreOverrideCursor(); }
        } cursorBack;
        // Owned by the application alone: it lives, hidden between showings, until the end.
        frmRelatorio = new TfrmRelatorio(nullptr);
        frmRelatorio->DoCreate();
    }
    frmRelatorio->ShowModal();
}
