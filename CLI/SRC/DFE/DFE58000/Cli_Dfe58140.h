#pragma once

// The result popup of a manifestation: how many events were sent, how many the server
// registered and how many it refused, with "Ver Notas" opening the list of the refused notes.
//
// The workspace creates the popup once and keeps it, hidden between showings:
//
//   frmPopUp = new TfrmPopUp(dtsNotasErradas);     // once, without a parent
//   frmPopUp->DoCreate();
//   ...
//   frmPopUp->stPopEnviado = QString::number(cdsMarcados->RecordCount());
//   frmPopUp->stPopSucesso = <events registered, as the server gave it>;
//   frmPopUp->stPopErro = <errors, as the server gave it>;
//   frmPopUp->exec();                              // or ShowModal()
//
// The data source handed to the constructor is the workspace's dtsNotasErradas, over the
// rejected notes (cdsNotasErradas); the popup only passes it on to the list when asked, so
// the list always shows what that data set holds at the time.

#include <QPointer>
#include <QString>

#include "forms/dialogpadrao.h"

class QFrame;
class QLabel;

namespace host {
class TButtonFlat;
class TDataSource;
}  // namespace host

#ifndef DFE58000_EXPORT
#define DFE58000_EXPORT __attribute__((visibility("default")))
#endif

class DFE58000_EXPORT TfrmPopUp : public host::TDialogPadrao {
    Q_OBJECT

  public:
    explicit TfrmPopUp(host::TDataSource* dtsNotasErradas, QWidget* parent = nullptr);
    ~TfrmPopUp() override;

    // Set by the sender before each showing; shown as given, never parsed.
    QString stPopEnviado;  // events sent
    QString stPopSucesso;  // events registered
    QString stPopErro;     // errors; "Ver Notas" is offered unless this is the text "0"

    QFrame* panFundo = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* lblEnviado = nullptr;
    QLabel* lblSucesso = nullptr;
    QLabel* lblErro = nullptr;
    host::TButtonFlat* sbtNotas = nullptr;
    host::TButtonFlat* sbtOK = nullptr;

    void sbtOKClick();
    void sbtNotasClick();

  protected:
    void FormCreate() override;
    void FormShow() override;

  private:
    void acomodaTextos();

    QPointer<host::TDataSource> m_dtsNotasErradas;
};

// The workspace's popup, created by the workspace and kept until the application ends.
extern DFE58000_EXPORT TfrmPopUp* frmPopUp;
