#include "Cli_Dfe58100.h"
#include "Cli_Dfe58000Pesquisa.h"

#include "ui_Cli_Dfe58100.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QStackedWidget>
#include <QValidator>

#include "Cli_Dfe58000.h"
#include "Rdm_Dfe58000.h"
#include "core/clientdataset.h"
#include "core/hosterror.h"
#include "core/messages.h"
#include "core/orvanta.h"
#include "rdmmanifestacao.h"
#include "sql/adoibquery.h"
#include "ui/btnpesquisa.h"
#include "ui/consiste.h"
#include "ui/dateeditplus.h"
#include "ui/handler.h"
#include "ui/maskedit.h"
#include "ui/pesqlista.h"
#include "ui/showavi.h"

TfrmFiltro* frmFiltro = nullptr;
bool boConfirma = false;

using namespace host;

namespace {

const QString kTodos = QStringLiteral("T");
const QString kMaskFilial = QStringLiteral(">aaaa;0; ");
const QString kMaskNota = QStringLiteral("999999999;0; ");
const QString kNotaIni = QStringLiteral("000000000");
const QString kNotaFim = QStringLiteral("999999999");
const QString kFilialVazia = QStringLiteral("Não existe filial cadastrada.");

// The dialog's keyed messages. The double blank of CHAVE_DEV44 and the capital "I" of
// FIL_NCADEMPR are the texts users have always seen; they stay as they are.
const QStringList kMensagens = {
    QStringLiteral("TipoOper|Tipo de Operação"),
    QStringLiteral("TipoOper_N|Tipo de Operação não cadastrado."),
    QStringLiteral("CNPJ_DEV|CNPJ deve ser informado."),
    QStringLiteral("DATAINI_DEVE|Data inicial deve ser informada."),
    QStringLiteral("DATAFIN_DEVE|Data final deve ser informada."),
    QStringLiteral("NOTAINI_MENOR|Número da Nota Fiscal inicial deve ser menor ou igual ao "
                   "Número final."),
    QStringLiteral("CHAVE_DEV44|A Chave de  Acesso deve ser formada com 44 caracteres."),
    QStringLiteral("CLIENTE_DEV|Cliente deve ser informado."),
    QStringLiteral("FORN_DEV|Fornecedor deve ser informado."),
    QStringLiteral("CLI_NCAD|Cliente não cadastrado."),
    QStringLiteral("FOR_NCAD|Fornecedor não cadastrado."),
    QStringLiteral("FIL_NCAD|Filial não cadastrada."),
    QStringLiteral("FIL_DEV|Filial deve ser informada."),
    QStringLiteral("TIPOOPER_DEV|Tipo de Operação deve ser informado."),
    QStringLiteral("IE_DEV|Inscrição Estadual deve ser informada."),
    QStringLiteral("IE_NCAD|Inscrição Estadual não cadastrada."),
    QStringLiteral("NOTAINI_DEV|Número de Nota Fiscal inicial deve ser informado."),
    QStringLiteral("NOTAFIN_DEV|Número de Nota Fiscal final deve ser informado."),
    QStringLiteral("DATAEMISFIN_DEV|Data de emissão final deve ser maior ou igual à inicial."),
    QStringLiteral("FIL_NCADEMPR|FIlial não cadastrada para empresa informada."),
    QStringLiteral("SERIE_NCAD|Série não cadastrada."),
    QStringLiteral("SITU_DEV|Pelo menos um tipo de situação da manifestação deve ser marcada."),
    QStringLiteral("SITUNF_DEV|Pelo menos um tipo de situação de nota fiscal deve ser marcada."),
    QStringLiteral("AVISO_PRAZOLIMITE|Existem notas que estão chegando ao prazo limite para a "
                   "manifestação conclusiva. Deseja verificar somente elas?"),
    QStringLiteral("MENSAGEM_BLOQUEIO|Existem notas que devem ser manifestadas agora. Favor "
                   "realizar as devidas conclusões definitivas."),
    QStringLiteral("SITUSI_DEV|Pelo menos um tipo de situação de sincronização deve ser "
                   "selecionada."),
    QStringLiteral("INSCRJURID_DEVE|Inscrição jurídica deve ser informada."),
    QStringLiteral("INSCRJURID_N_CAD|Inscrição jurídica não cadastrada."),
};

// Required fields wear the tooltip's pale colour; name fields, which only show, wear the
// window's grey.
void paintBase(QWidget* w, QPalette::ColorRole from) {
    QPalette p = w->palette();
    const QColor c = QApplication::palette().color(from);
    p.setColor(QPalette::Active, QPalette::Base, c);
    p.setColor(QPalette::Inactive, QPalette::Base, c);
    p.setColor(QPalette::Disabled, QPalette::Base, c);
    w->setPalette(p);
}

void lookupButton(TBtnPesquisa* b, QWidget* associate, const QString& title,
                  const QString& fieldCodigo, bool pesqChave, const QString& emptyError) {
    b->SetAssociate(associate);
    b->SetTitle(title);
    b->SetFieldCodigo(fieldCodigo);
    b->SetPesqChave(pesqChave);
    b->SetEmptyError(emptyError);
    b->SetHint(QStringLiteral("Pesquisar"));
}

// Access keys carry upper-case letters where an alphanumeric CNPJ stands in them; letters
// typed or pasted in lower case are raised, anything else is left for the length check.
class ChaveAcessoValidator : public QValidator {
  public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        for (QChar& c : input) {
            if (c >= u'a' && c <= u'z') {
                c = c.toUpper();
            }
        }
        return Acceptable;
    }
};

}  // namespace

TfrmFiltro::TfrmFiltro(QWidget* parent) : TfrmFiltroPadrao(parent) {
    declareComponents();
    declareLookups();
    setDesignProperties();
    bindHandlers();
    bindLookups();
}

TfrmFiltro::~TfrmFiltro() {
    if (frmFiltro == this) {
        frmFiltro = nullptr;
    }
}

void TfrmFiltro::declareComponents() {
    Ui::TfrmFiltroCriterios ui;
    ui.setupUi(grbFiltroPadrao);

    panOrigem = ui.panOrigem;
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
    chkCienciaOperacao = ui.chkCienciaOperacao;
    chkDesconhecida = ui.chkDesconhecida;
    chkConfirmadaOperacao = ui.chkConfirmadaOperacao;
    chkOperacaoNRealizada = ui.chkOperacaoNRealizada;
    chkRejeitada = ui.chkRejeitada;
    grbSincronizacao = ui.grbSincronizacao;
    ckcInexistenteSefaz = ui.ckcInexistenteSefaz;
    ckcInexistenteSistema = ui.ckcInexistenteSistema;
    ckcSefazSistema = ui.ckcSefazSistema;
    ckcSefazXML = ui.ckcSefazXML;

    grbNrNotaFiscal = ui.grbNrNotaFiscal;
    medNotaInicial = ui.medNotaInicial;
    medNotaFinal = ui.medNotaFinal;
    panChaveAcesso = ui.panChaveAcesso;
    edtChaveAcesso = ui.edtChaveAcesso;

    // Operation types of one direction, for the list behind btpOperacao.
    qryOperacao = Pesquisa::ConsultaOperacao(this);
    dtsOperacao = Pesquisa::Fonte(this, "dtsOperacao", qryOperacao);

    // The company's legal registrations, as the server gives them.
    const auto declareInscr = [this](const QString& name) {
        auto* cds = new TClientDataSet(this);
        cds->setObjectName(name);
        cds->AddField({QStringLiteral("NRINSJURIEST"), FieldType::String, 20, false})
            .SetDisplayLabel(QStringLiteral("Inscrição Jurídica"));
        TField& tipo = cds->AddField({QStringLiteral("IDTPIJURIEST"), FieldType::String, 1, true});
        tipo.SetVisible(false);
        cds->CreateDataSet();
        return cds;
    };
    cdsPesqInscrJurid = declareInscr(QStringLiteral("cdsPesqInscrJurid"));
    cdsVdInscrJurid = declareInscr(QStringLiteral("cdsVdInscrJurid"));
    dtsPesqInscrJurid = new TDataSource(this);
    dtsPesqInscrJurid->setObjectName(QStringLiteral("dtsPesqInscrJurid"));
    dtsPesqInscrJurid->SetDataSet(cdsPesqInscrJurid);
}

void TfrmFiltro::setDesignProperties() {
    setObjectName(QStringLiteral("frmFiltro"));
    setWindowTitle(QStringLiteral("Filtro Manifestação Destinatário"));
    lblCodTela->setText(QStringLiteral("DFE58100"));
    setFixedSize(664, 467);
    grbFiltroPadrao->setFixedWidth(609);
    grbFiltroPadrao->setStyleSheet(QStringLiteral("QGroupBox { font-weight: bold; }"));

    // Filter options are neither saved nor loaded here: the criteria live in the hidden
    // dialog until the application ends.
    btfSaveOpc->setVisible(false);
    panBotao->setVisible(false);
    btfLoadOpc->setVisible(false);

    msgPadrao->SetLines(kMensagens);

    // Origin.
    medInscrJurid->SetMaxLength(20);
    paintBase(medInscrJurid, QPalette::ToolTipBase);
    lookupButton(btpInscrJurid, medInscrJurid, QStringLiteral("Inscrição Jurídica"), QString(),
                 false, QStringLiteral("Não há inscrição jurídica cadastrada."));
    btpInscrJurid->SetDataSource(dtsPesqInscrJurid);
    medIE->SetMaxLength(16);
    lookupButton(btpIE, medIE, QStringLiteral("Inscrição Estadual"), QStringLiteral("CDINSCESTA"),
                 true,
                 QStringLiteral("Não há inscrição estadual cadastrada ou inscrição jurídica "
                                "cadastrada apenas para a filial, neste caso favor utilizar o "
                                "filtro de filial de origem."));
    medCdFiliOrig->SetEditMask(kMaskFilial);
    medCdFiliOrig->SetMaxLength(4);
    lookupButton(btpFiliOrig, medCdFiliOrig, QStringLiteral("Filial"), QStringLiteral("CDFILIAL"),
                 true, kFilialVazia);
    paintBase(medNmFiliOrig, QPalette::Window);
    medCdSerie->SetMaxLength(5);
    // The series button carries the branch button's title and text, as it always has.
    lookupButton(btpSerie, medCdSerie, QStringLiteral("Filial"), QStringLiteral("CDSERIEENTR"),
                 true, kFilialVazia);

    // Issuer pages.
    const QStringList pages = {QStringLiteral("Todos"), QStringLiteral("Cliente"),
                               QStringLiteral("Fornecedor"), QStringLiteral("Filial")};
    for (int i = 0; i < nbkEmitente->count() && i < pages.size(); ++i) {
        nbkEmitente->widget(i)->setWindowTitle(pages.at(i));
        nbkEmitente->widget(i)->setAccessibleName(pages.at(i));
    }
    medTodos->SetText(QStringLiteral("Todos"));
    for (TMaskEdit* name : {medNmTodos, medNmCliente, medNmFornecedor, medNmFilial, medTodos}) {
        paintBase(name, QPalette::Window);
    }
    BtnPesquisa5->SetHint(QStringLiteral("Pesquisar"));
    medCdCliente->SetMaxLength(20);
    lookupButton(btpCliente, medCdCliente, QStringLiteral("Cliente"),
                 QStringLiteral("NRINSJURCLIE"), false,
                 QStringLiteral("Não existe cliente cadastrado."));
    medCdFornecedor->SetMaxLength(20);
    lookupButton(btpFornecedor, medCdFornecedor, QStringLiteral("Fornecedor"),
                 QStringLiteral("NRINSJURFORN"), false,
                 QStringLiteral("Não existe fornecedor cadastrado."));
    medCdFilial->SetEditMask(kMaskFilial);
    medCdFilial->SetMaxLength(4);
    lookupButton(btpFilial, medCdFilial, QStringLiteral("Filial"), QStringLiteral("CDFILIAL"), true,
                 kFilialVazia);

    // Dates: required, so they wear the same colour as the registration.
    for (TDateEditPlus* d : {depInicial, depFinal}) {
        paintBase(d, QPalette::ToolTipBase);
        d->SetValidDateColor(QColor(0, 0, 255));
    }

    // Operation types.
    btpOperacao->SetAssociate(rbtListaOper);
    btpOperacao->SetHint(QStringLiteral("Pesquisar"));
    btpOperacao->setEnabled(false);

    // Note numbers.
    medNotaInicial->SetEditMask(kMaskNota);
    medNotaInicial->SetMaxLength(9);
    medNotaInicial->SetText(kNotaIni);
    medNotaFinal->SetEditMask(kMaskNota);
    medNotaFinal->SetMaxLength(9);
    medNotaFinal->SetText(kNotaFim);

    edtChaveAcesso->setValidator(new ChaveAcessoValidator(edtChaveAcesso));
}

void TfrmFiltro::bindHandlers() {
    bind(cboEmitente, &QComboBox::currentIndexChanged, this, [this] { cboEmitenteChange(); });
    bind(rbtTodosOper, &QRadioButton::toggled, this, [this] {
        if (rbtTodosOper->isChecked()) {
            rbtTodosOperClick();
        }
    });
    bind(rbtListaOper, &QRadioButton::toggled, this, [this] {
        if (rbtListaOper->isChecked()) {
            rbtListaOperClick();
        }
    });
    btpOperacao->OnBeforePesq = [this](QObject* sender, bool& allow) {
        btpOperacaoBeforePesq(sender, allow);
    };
    btpOperacao->OnClick = [this] { btpOperacaoClick(); };
}

void TfrmFiltro::FormCreate() {
    TfrmFiltroPadrao::FormCreate();

    boConfirma = false;
    stFiltroIdEntrsaidOp = QStringLiteral("E");
    stFiltroCdTipoOper = kTodos;

    cboEmitente->setCurrentIndex(0);
    nbkEmitente->setCurrentIndex(0);
    cboOperacao->setCurrentIndex(0);

    const QDate dataProc = Orvanta::DataProc(Orvanta::FiliProc());
    depInicial->SetDate(Consiste::PriDiaMes(dataProc));
    depFinal->SetDate(dataProc);

    Filtro = TRecordFilter();
    Filtro.stCdInscEsta = medIE->Text();
    Filtro.inCbbIndex = 0;
    Filtro.dtIniEmis = depInicial->Date();
    Filtro.dtFinEmis = depFinal->Date();
    Filtro.inCbbIdOper = 0;
    Filtro.boTipoOper = true;
    Filtro.boSemSituacao = true;
    Filtro.boAceita = true;
    Filtro.boDenegada = true;
    Filtro.boCancelada = true;
    Filtro.boSemManif = true;
    Filtro.boCiencia = true;
    Filtro.boDesconhecida = true;
    Filtro.boConfirmada = true;
    Filtro.boNaoRealizada = true;
    Filtro.boRejeitada = true;
    Filtro.stNrNotaIni = medNotaInicial->Text();
    Filtro.stNrNotaFim = medNotaFinal->Text();
    Filtro.boInexistenteSefaz = true;
    Filtro.boInexistenteSistema = true;
    Filtro.boSefazSistema = true;
    Filtro.boSefazXml = true;
    Filtro.stInscrJurid = medInscrJurid->Text();
}

void TfrmFiltro::FormShow() {
    boConfirma = false;

    if (Filtro.stCdFiliOrig == kTodos) {
        medCdFiliOrig->Clear();
        medNmFiliOrig->Clear();
    } else {
        medCdFiliOrig->SetText(Filtro.stCdFiliOrig);
        medNmFiliOrig->SetText(Filtro.stNmFiliOrig);
    }
    medCdSerie->SetText(Filtro.stCdSerie == kTodos ? QString() : Filtro.stCdSerie);
    medIE->SetText(Filtro.stCdInscEsta);

    cboEmitente->setCurrentIndex(Filtro.inCbbIndex);
    nbkEmitente->setCurrentIndex(Filtro.inCbbIndex);

    medCdCliente->SetText(Filtro.stNrInsClie);
    medNmCliente->SetText(Filtro.stNmRazClie);
    medCdFornecedor->SetText(Filtro.stNrInsForn);
    medNmFornecedor->SetText(Filtro.stNmRazForn);
    medCdFilial->SetText(Filtro.stCdFilial);
    medNmFilial->SetText(Filtro.stNmFilial);

    depInicial->SetDate(Filtro.dtIniEmis);
    depFinal->SetDate(Filtro.dtFinEmis);
    cboOperacao->setCurrentIndex(Filtro.inCbbIdOper);

    // The radio buttons' own handlers enable btpOperacao for "Lista"; the restored list
    // replaces what the switch left in stFiltroCdTipoOper.
    rbtTodosOper->setChecked(Filtro.boTipoOper);
    rbtListaOper->setChecked(!Filtro.boTipoOper);
    stFiltroCdTipoOper = Filtro.stTipoOper;

    chkSemSituacao->setChecked(Filtro.boSemSituacao);
    chkAutorizada->setChecked(Filtro.boAceita);
    chkDenegada->setChecked(Filtro.boDenegada);
    chkCancelada->setChecked(Filtro.boCancelada);
    chkSemManifestacao->setChecked(Filtro.boSemManif);
    chkCienciaOperacao->setChecked(Filtro.boCiencia);
    chkDesconhecida->setChecked(Filtro.boDesconhecida);
    chkConfirmadaOperacao->setChecked(Filtro.boConfirmada);
    chkOperacaoNRealizada->setChecked(Filtro.boNaoRealizada);
    chkRejeitada->setChecked(Filtro.boRejeitada);

    medNotaInicial->SetText(Filtro.stNrNotaIni);
    medNotaFinal->SetText(Filtro.stNrNotaFim);
    ckcInexistenteSefaz->setChecked(Filtro.boInexistenteSefaz);
    ckcInexistenteSistema->setChecked(Filtro.boInexistenteSistema);
    ckcSefazSistema->setChecked(Filtro.boSefazSistema);
    ckcSefazXML->setChecked(Filtro.boSefazXml);

    // The change handler stays attached: a registration other than the one shown empties the
    // state registration, the origin branch and the series, which belong to it.
    medInscrJurid->SetText(Filtro.stInscrJurid);
    if (!Consiste::EmptyString(medInscrJurid->Text())) {
        medInscrJurid->SetEditMask(Consiste::PictPess(tipoDaInscricao(medInscrJurid->Text())));
    } else {
        medInscrJurid->SetEditMask(QString());
    }

    edtChaveAcesso->setText(Filtro.stChaveAcesso == kTodos ? QString() : Filtro.stChaveAcesso);

    if (Consiste::EmptyString(medInscrJurid->Text())) {
        medInscrJurid->setFocus();
    }

    if (!frmManifestacao || !frmManifestacao->medCdEmpresa) {
        throw EHostError(QStringLiteral(
            "A tela de manifestação não está aberta: não há empresa para o filtro."));
    }
    CarregaPesquisas(frmManifestacao->medCdEmpresa->Text());
}

void TfrmFiltro::FormActivate() {
    repaint();
}

void TfrmFiltro::FormClose(TCloseAction& action) {
    action = TCloseAction::caHide;
}

void TfrmFiltro::sbtCancelClick() {
    boConfirma = false;
    close();
}

void TfrmFiltro::cboEmitenteChange() {
    nbkEmitente->setCurrentIndex(cboEmitente->currentIndex());
}

void TfrmFiltro::rbtTodosOperClick() {
    btpOperacao->setEnabled(false);
    stFiltroCdTipoOper = kTodos;
}

void TfrmFiltro::rbtListaOperClick() {
    btpOperacao->setEnabled(true);
    stFiltroCdTipoOper.clear();
}

void TfrmFiltro::btpOperacaoBeforePesq(QObject*, bool&) {
    stFiltroIdEntrsaidOp =
        cboOperacao->currentIndex() == 0 ? QStringLiteral("E") : QStringLiteral("S");
    Pesquisa::Abre(qryOperacao, {{"P_IDENTRSAIDOP", stFiltroIdEntrsaidOp}});
}

void TfrmFiltro::btpOperacaoClick() {
    const QString titulo = msgPadrao->Msg(QStringLiteral("TipoOper")) + u'|' +
                           msgPadrao->Msg(QStringLiteral("TipoOper_N"));
    Pesqlista::PesquisaLista(dtsOperacao, QStringLiteral("CDTIPOOPER"), titulo, false,
                             stFiltroCdTipoOper);
}

void TfrmFiltro::CarregaPesquisas(const QString& stCdEmpresa) {
    QVariantList oleCarregaPesquisas;
    {
        ShowAviGuard avi(frmManifestacao, Showavi::kConsultando);
        oleCarregaPesquisas = Rdm_Dfe58000::getCarregaPesquisas(stCdEmpresa);
    }
    using namespace rdmManifestacao::getCarregaPesquisas;
    if (oleCarregaPesquisas.at(Status).toString() != QLatin1String(kOk)) {
        Consiste::MensErro(oleCarregaPesquisas.at(Inscricoes).toString(), true);
    }
    // Both lists have the same fields: the packet goes into both or into neither.
    Rdm_Dfe58000::CarregaPacote(*cdsPesqInscrJurid, oleCarregaPesquisas.at(Inscricoes), kName);
    Rdm_Dfe58000::CarregaPacote(*cdsVdInscrJurid, oleCarregaPesquisas.at(Inscricoes), kName);
}

bool CriaFiltro() {
    if (!frmFiltro) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        struct CursorBack {
            ~CursorBack() { QApplication::restoreOverrideCursor(); }
        } cursorBack;
        // Owned by the application alone: it lives, hidden between showings, until the end.
        frmFiltro = new TfrmFiltro(nullptr);
        frmFiltro->DoCreate();
    }
    frmFiltro->ShowModal();
    return boConfirma;
}
