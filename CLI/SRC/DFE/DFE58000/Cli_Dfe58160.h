#pragma once

// The notice at the end of an XML generation or download: how many XMLs were generated or
// received and how many were not, or, when the hourly download limit had already been
// reached, only the notice about that limit.
//
// The workspace creates it once and keeps it, hidden between showings:
//
//   frmConcluiXML = new TfrmConcluiXML();          // once, without a parent
//   frmConcluiXML->DoCreate();
//   ...
//   frmConcluiXML->stIdMensagem = "G";             // "G" generation, "D" download, "L" limit
//   frmConcluiXML->stSucesso = <generated or received>;
//   frmConcluiXML->stErro = <not generated or not received>;
//   frmConcluiXML->exec();                         // or ShowModal()

#include <QString>

#include "forms/dialogpadrao.h"

class QFrame;
class QLabel;
class QPushButton;

#ifndef DFE58000_EXPORT
#define DFE58000_EXPORT __attribute__((visibility("default")))
#endif

class DFE58000_EXPORT TfrmConcluiXML : public host::TDialogPadrao {
    Q_OBJECT

  public:
    explicit TfrmConcluiXML(QWidget* parent = nullptr);
    ~TfrmConcluiXML() override;

    // Set by the workspace before each showing; the counts are shown as given.
    QString stIdMensagem;  // "G" generation, "D" download, "L" limit already reached
    QString stSucesso;
    QString stErro;

    QFrame* panFundo = nullptr;
    QLabel* lblTitulo = nullptr;
    QLabel* lblSucesso = nullptr;
    QLabel* lblErro = nullptr;
    QLabel* lblLimite = nullptr;
    QPushButton* btpOk = nullptr;

    // The limit notice alone in mode "L"; the title and the two counts otherwise.
    void MostraLabel(const QString& stIdMsg);
    void btpOkClick();

  protected:
    void FormShow() override;
    void FormActivate() override;

  private:
    void acomodaTextos();
};

// The workspace's completion dialog, created by the workspace and kept until the application
// ends.
extern DFE58000_EXPORT TfrmConcluiXML* frmConcluiXML;
