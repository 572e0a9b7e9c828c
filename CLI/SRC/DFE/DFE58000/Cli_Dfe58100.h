#pragma once

// The note filter dialog: the criteria by which the workspace asks the application server for
// the notes addressed to the selected company. Created once and afterwards only hidden, so
// the criteria of the last accepted query (Filtro) survive between openings.

#include <QDate>
#include <QString>

#include "forms/frmfiltropadrao.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class QStackedWidget;

namespace host {
class TADOIBQuery;
class TBtnPesquisa;
class TClientDataSet;
class TDataSource;
class TField;
class TDateEditPlus;
class TMaskEdit;
}  // namespace host

#ifndef DFE58000_EXPORT
#define DFE58000_EXPORT __attribute__((visibility("default")))
#endif

// The criteria of the last accepted query. "T" in a string criterion means any value.
struct DFE58000_EXPORT TRecordFilter {
    QString stCdInscEsta;        // state registration as typed
    QString stCdFiliOrig;        // origin branch, "T" = any
    QString stNmFiliOrig;        // origin branch name
    QString stCdSerie;           // series, "T" = any
    int inCbbIndex = 0;          // issuer kind: 0 Todos, 1 Cliente, 2 Fornecedor, 3 Filial
    QString stNrInsClie;         // client's legal registration as typed
    QString stCdCliente;         // client code, "T" = any
    QString stNmRazClie;         // client name
    QString stNrInsForn;         // supplier's legal registration as typed
    QString stCdFornec;          // supplier code, "T" = any
    QString stNmRazForn;         // supplier name
    QString stCdFilial;          // issuing branch as typed
    QString stCodFilial;         // issuing branch, "T" = any
    QString stNmFilial;          // issuing branch name
    QDate dtIniEmis;             // issue date from
    QDate dtFinEmis;             // issue date to
    int inCbbIdOper = 0;         // operation direction: 0 Entrada, 1 Saída
    QString stTipoOper;          // operation types, "T" = all
    bool boTipoOper = false;     // "Todos" rather than "Lista"
    bool boSemSituacao = false;  // NF-e situations
    bool boAceita = false;
    bool boDenegada = false;
    bool boCancelada = false;
    bool boSemManif = false;  // manifestation situations
    bool boCiencia = false;
    bool boDesconhecida = false;
    bool boConfirmada = false;
    bool boNaoRealizada = false;
    bool boRejeitada = false;
    QString stNrNotaIni;  // note-number range as typed
    QString stNrNotaFim;
    QString stChaveAcesso;            // access key, "T" = any
    bool boInexistenteSefaz = false;  // synchronisation situations
    bool boInexistenteSistema = false;
    bool boSefazSistema = false;
    bool boSefazXml = false;
    QString stInscrJurid;  // the company's legal registration
};

class DFE58000_EXPORT TfrmFiltro : public host::TfrmFiltroPadrao {
    Q_OBJECT

  public:
    explicit TfrmFiltro(QWidget* parent = nullptr);
    ~TfrmFiltro() override;

    TRecordFilter Filtro;

    // Request fields: computed by the confirmation and passed to the server.
    QString stSituacaoNF;
    QString stSituacaoManifesta;
    QString stSincronizacao;
    QString stNrNotaInicial;
    QString stNrNotaFinal;
    QString stChaveAcesso;
    QString stFiliOrig;
    QString stSerie;
    QString stInscEstadual;
    QString stIdEmitente;
    QString stEmitente;
    QString stFiltroIdEntrsaidOp;
    // The operation-type choice while the dialog is open: "T" for all, empty after switching
    // to "Lista" until a list is chosen, else the chosen codes.
    QString stFiltroCdTipoOper;

    // --- origin: registration, state registration, origin branch, series ---------------------
    QFrame* panOrigem = nullptr;
    QLabel* lblInscrJurid = nullptr;
    host::TMaskEdit* medInscrJurid = nullptr;
    host::TBtnPesquisa* btpInscrJurid = nullptr;
    QLabel* lblIE = nullptr;
    host::TMaskEdit* medIE = nullptr;
    host::TBtnPesquisa* btpIE = nullptr;
    QLabel* lblFiliOrig = nullptr;
    host::TMaskEdit* medCdFiliOrig = nullptr;
    host::TBtnPesquisa* btpFiliOrig = nullptr;
    host::TMaskEdit* medNmFiliOrig = nullptr;
    QLabel* lblSerie = nullptr;
    host::TMaskEdit* medCdSerie = nullptr;
    host::TBtnPesquisa* btpSerie = nullptr;

    // --- issuer ------------------------------------------------------------------------------
    QGroupBox* grbEmitente = nullptr;
    QComboBox* cboEmitente = nullptr;
    QStackedWidget* nbkEmitente = nullptr;
    host::TMaskEdit* medTodos = nullptr;
    host::TBtnPesquisa* BtnPesquisa5 = nullptr;
    host::TMaskEdit* medNmTodos = nullptr;
    host::TMaskEdit* medCdCliente = nullptr;
    host::TBtnPesquisa* btpCliente = nullptr;
    host::TMaskEdit* medNmCliente = nullptr;
    host::TMaskEdit* medCdFornecedor = nullptr;
    host::TBtnPesquisa* btpFornecedor = nullptr;
    host::TMaskEdit* medNmFornecedor = nullptr;
    host::TMaskEdit* medCdFilial = nullptr;
    host::TBtnPesquisa* btpFilial = nullptr;
    host::TMaskEdit* medNmFilial = nullptr;

    // --- issue dates and operation types -------------------------------------------------------
    QGroupBox* grbEmissao = nullptr;
    host::TDateEditPlus* depInicial = nullptr;
    host::TDateEditPlus* depFinal = nullptr;
    QGroupBox* grbOperacao = nullptr;
    QComboBox* cboOperacao = nullptr;
    QRadioButton* rbtTodosOper = nullptr;
    QRadioButton* rbtListaOper = nullptr;
    host::TBtnPesquisa* btpOperacao = nullptr;

    // --- situations ----------------------------------------------------------------------------
    QGroupBox* grbSituacaoNFe = nullptr;
    QCheckBox* chkSemSituacao = nullptr;
    QCheckBox* chkAutorizada = nullptr;
    QCheckBox* chkDenegada = nullptr;
    QCheckBox* chkCancelada = nullptr;
    QGroupBox* grbSituacaoManifestacao = nullptr;
    QCheckBox* chkSemManifestacao = nullptr;
    QCheckBox* chkCienciaOperacao = nullptr;
    QCheckBox* chkDesconhecida = nullptr;
    QCheckBox* chkConfirmadaOperacao = nullptr;
    QCheckBox* chkOperacaoNRealizada = nullptr;
    QCheckBox* chkRejeitada = nullptr;
    QGroupBox* grbSincronizacao = nullptr;
    QCheckBox* ckcInexistenteSefaz = nullptr;
    QCheckBox* ckcInexistenteSistema = nullptr;
    QCheckBox* ckcSefazSistema = nullptr;
    QCheckBox* ckcSefazXML = nullptr;

    // --- note numbers and access key -----------------------------------------------------------
    QGroupBox* grbNrNotaFiscal = nullptr;
    host::TMaskEdit* medNotaInicial = nullptr;
    host::TMaskEdit* medNotaFinal = nullptr;
    QFrame* panChaveAcesso = nullptr;
    QLineEdit* edtChaveAcesso = nullptr;

    // --- data ----------------------------------------------------------------------------------
    host::TADOIBQuery* qryOperacao = nullptr;
    host::TDataSource* dtsOperacao = nullptr;
    // The company's legal registrations, loaded from the server at every showing: the first
    // feeds the lookup list, the second the validation.
    host::TClientDataSet* cdsPesqInscrJurid = nullptr;
    host::TDataSource* dtsPesqInscrJurid = nullptr;
    host::TClientDataSet* cdsVdInscrJurid = nullptr;
    // Lookups in the company database: lists behind the lookup buttons and the checks.
    host::TADOIBQuery* qryPesqInscrEstad = nullptr;
    host::TDataSource* dtsIE = nullptr;
    host::TADOIBQuery* qryVdInscrEstad = nullptr;
    host::TADOIBQuery* qryPesqFilial = nullptr;
    host::TDataSource* dtsPesqFilial = nullptr;
    host::TADOIBQuery* qryFilial = nullptr;
    host::TADOIBQuery* qrySerie = nullptr;
    host::TDataSource* dtsSerie = nullptr;
    host::TADOIBQuery* qryCliente = nullptr;
    host::TDataSource* dtsCliente = nullptr;
    host::TADOIBQuery* qryFornecedor = nullptr;
    host::TDataSource* dtsFornecedor = nullptr;

    // Loads the legal registrations of a company from the application server into
    // cdsPesqInscrJurid and cdsVdInscrJurid; a refusal of the server stops with its text.
    void CarregaPesquisas(const QString& stCdEmpresa);

    // Validators: on failure they put the focus into their edit, report and end the running
    // operation. With boTestaVazio an empty edit fails too; otherwise it passes.
    void Vd_InscrJurid(bool boTestaVazio);
    void Vd_InscrEstad(bool boTestaVazio);
    void Vd_Filial(host::TMaskEdit* edit, bool boTestaVazio);
    // Close the query, bind the code and its "T" companion, open it again. A code with an
    // empty companion looks that code up; an empty code with "T" lists every row.
    void AbreQryCliente(const QString& P_NRINSJURCLIE, const QString& P_TNRINSJURCLIE);
    void AbreQryFornecedor(const QString& P_NRINSJURFORN, const QString& P_TNRINSJURFORN);
    void AbreQrySerie(const QString& P_CDSERIE, const QString& P_TCDSERIE);

    // Event handlers.
    void cboEmitenteChange();
    void rbtTodosOperClick();
    void rbtListaOperClick();
    void btpOperacaoBeforePesq(QObject* sender, bool& allowPesq);
    void btpOperacaoClick();

    void btpInscrJuridAfterPesq(QObject* sender);
    void medInscrJuridEnter();
    void medInscrJuridKeyPress(QString& key);
    void medInscrJuridChange();
    void medInscrJuridExit();
    void btpIEBeforePesq(QObject* sender, bool& allowPesq);
    void btpIEAfterPesq(QObject* sender);
    void medIEExit();
    void btpFiliOrigBeforePesq(QObject* sender, bool& allowPesq);
    void btpFiliOrigAfterPesq(QObject* sender);
    void medCdFiliOrigChange();
    void medCdFiliOrigExit();
    void btpSerieBeforePesq(QObject* sender, bool& allowPesq);
    void btpSerieAfterPesq(QObject* sender);
    void medCdSerieExit();
    void btpClienteBeforePesq(QObject* sender, bool& allowPesq);
    void btpClienteAfterPesq(QObject* sender);
    void medCdClienteEnter();
    void medCdClienteChange();
    void medCdClienteExit();
    void btpFornecedorBeforePesq(QObject* sender, bool& allowPesq);
    void btpFornecedorAfterPesq(QObject* sender);
    void medCdFornecedorEnter();
    void medCdFornecedorChange();
    void medCdFornecedorExit();
    void btpFilialBeforePesq(QObject* sender, bool& allowPesq);
    void btpFilialAfterPesq(QObject* sender);
    void medCdFilialChange();
    void medCdFilialExit();
    void depInicialExit();
    void depFinalExit();
    void medNotaInicialExit();
    void medNotaFinalExit();
    void qryClienteNRINSJURCLIEGetText(host::TField& sender, QString& text, bool displayText);
    void cdsPesqInscrJuridNRINSJURIESTGetText(host::TField& sender, QString& text,
                                              bool displayText);

  protected:
    void FormCreate() override;
    void FormShow() override;
    void FormActivate() override;
    void FormClose(host::TCloseAction& action) override;
    void sbtCancelClick() override;
    // Checks the criteria, queries the notes, loads the workspace's list and keeps the
    // criteria in Filtro; the dialog closes only after all of that succeeded.
    void sbtConfirmaClick() override;

  private:
    void declareComponents();
    void declareLookups();
    void setDesignProperties();
    void bindHandlers();
    void bindLookups();
    // Person type of the company registration shown, from the loaded list.
    QString tipoDaInscricao(const QString& numero);
    void confereData(host::TDateEditPlus* date);
    // A lookup that found no row: the focus goes back to its edit and the message (by key)
    // ends the operation.
    void exigeLinha(QWidget* edit, host::TADOIBQuery* query, const char* chave);
    void guardaFiltro(const QString& stTipooper);
};

// The text without the characters registration masks put in it: "/", "-", ".", "(", ")" and
// ",".
DFE58000_EXPORT QString RetSemMascara(const QString& stCampo);

// The one filter dialog, empty until the first CriaFiltro; it lives until the application ends.
extern DFE58000_EXPORT TfrmFiltro* frmFiltro;
// Whether the last showing was confirmed.
extern DFE58000_EXPORT bool boConfirma;

// Shows the filter dialog modally, creating it on first use; true when the user confirmed it.
DFE58000_EXPORT bool CriaFiltro();
