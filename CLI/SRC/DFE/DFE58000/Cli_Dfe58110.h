#pragma once

// The justification dialog of the event Operação não Realizada: the note it is about (when a
// single note is marked), the justification the recipient writes, and the sending of the event
// for every marked note of the workspace. Created once and afterwards only hidden, so the text
// written last is still there when it opens again.

#include "forms/frmrotigeral.h"

class QFrame;
class QLabel;
class QPlainTextEdit;

namespace host {
class TDateEditPlus;
class TMaskEdit;
class TNumberEdit;
}  // namespace host

#ifndef DFE58000_EXPORT
#define DFE58000_EXPORT __attribute__((visibility("default")))
#endif

class DFE58000_EXPORT TfrmOperacaoNRealizada : public host::TfrmRotiGeral {
    Q_OBJECT

  public:
    explicit TfrmOperacaoNRealizada(QWidget* parent = nullptr);
    ~TfrmOperacaoNRealizada() override;

    // The note, filled by the workspace and shown only when exactly one note is marked.
    QFrame* panNota = nullptr;
    host::TMaskEdit* medInscricao = nullptr;
    host::TMaskEdit* medRazaoSocial = nullptr;
    host::TDateEditPlus* depEmissao = nullptr;
    host::TMaskEdit* medNrNotaFisc = nullptr;
    host::TNumberEdit* nedValor = nullptr;
    host::TMaskEdit* medChaveAcesso = nullptr;

    QFrame* panJustificativa = nullptr;
    QFrame* panTitulo = nullptr;
    QPlainTextEdit* memJustificativa = nullptr;
    // How many characters are typed, against the 15 to 255 the national layout accepts. It only
    // informs: the server's answer stays the rule.
    QLabel* lblTamanho = nullptr;

    // The most characters the justification takes.
    static constexpr int kMaxJustificativa = 255;
    static constexpr int kMinJustificativa = 15;

  protected:
    void FormClose(host::TCloseAction& action) override;
    // Checks the legal registration and the justification, asks for confirmation and sends the
    // event for the marked notes; the result popup follows.
    void sbtConfirmaClick() override;

  private:
    void memJustificativaChange();
};

// The dialog, once the workspace has created it.
extern DFE58000_EXPORT TfrmOperacaoNRealizada* frmOperacaoNRealizada;
