#include "frmsincronizacao.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLocale>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QVBoxLayout>

#include "fiscaldocs.h"
#include "forms/mdihost.h"
#include "sincronizacao.h"

namespace dfe59000 {

namespace {

QString count(int n) {
    static const QLocale brazil(QLocale::Portuguese, QLocale::Brazil);
    return brazil.toString(n);
}

QString maskedRegistration(const QString& typed) {
    const QString plain = plainRegistration(typed);
    if (plain.size() == 14) {
        return fiscal::formatCnpj(plain);
    }
    if (plain.size() == 11) {
        return fiscal::formatCpf(plain);
    }
    return typed.trimmed();
}

}  // namespace

FrmSincronizacao::FrmSincronizacao(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("frmDFE59000"));
    setWindowTitle(QStringLiteral("DFE59000 - Sincronização de NF-e"));
    auto* layout = new QVBoxLayout(this);

    m_subject = new QLabel(this);
    m_subject->setObjectName(QStringLiteral("lblInscricao"));
    layout->addWidget(m_subject);

    m_result = new QLabel(this);
    m_result->setObjectName(QStringLiteral("lblResultado"));
    m_result->setWordWrap(true);
    m_result->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_result);

    auto* box = new QGroupBox(QStringLiteral("Notas destinadas"), this);
    box->setObjectName(QStringLiteral("grpContagem"));
    new QFormLayout(box);
    m_counts = box;
    m_synchronised = addCount(QStringLiteral("Passaram a sincronizadas:"), "lblSincronizadas");
    m_notInSystem =
        addCount(QStringLiteral("Passaram a inexistentes no sistema:"), "lblInexistentes");
    m_unchanged = addCount(QStringLiteral("Sem alteração:"), "lblInalteradas");
    m_examined = addCount(QStringLiteral("Notas verificadas:"), "lblVerificadas");
    box->hide();
    layout->addWidget(box);
    layout->addStretch(1);

    auto* close = new QPushButton(QStringLiteral("Fechar"), this);
    close->setObjectName(QStringLiteral("btnFechar"));
    layout->addWidget(close, 0, Qt::AlignRight);
    connect(close, &QPushButton::clicked, this, [this] {
        if (QWidget* sub = host::MdiHost::subWindowOf(this)) {
            sub->close();
        } else {
            this->close();
        }
    });
    resize(520, 320);
}

QLabel* FrmSincronizacao::addCount(const QString& label, const char* name) {
    auto* value = new QLabel(m_counts);
    value->setObjectName(QString::fromLatin1(name));
    static_cast<QFormLayout*>(m_counts->layout())->addRow(label, value);
    return value;
}

void FrmSincronizacao::setSubject(const QString& company, const QString& registration) {
    m_subject->setText(
        QStringLiteral("<b>Empresa %1, inscrição jurídica %2</b>")
            .arg(company.toHtmlEscaped(), maskedRegistration(registration).toHtmlEscaped()));
}

void FrmSincronizacao::showSummary(const SyncSummary& s, qint64 elapsedMs) {
    m_result->setText(
        s.examined == 0
            ? QStringLiteral("Nenhuma nota destinada a sincronizar para esta inscrição.")
            : QStringLiteral("Sincronização concluída em %1 s.")
                  .arg(QLocale(QLocale::Portuguese, QLocale::Brazil)
                           .toString(double(elapsedMs) / 1000.0, 'f', 1)));
    m_synchronised->setText(count(s.synchronised));
    m_notInSystem->setText(count(s.notInSystem));
    m_unchanged->setText(s.bookingUpdated > 0
                             ? QStringLiteral("%1 (%2 com o lançamento atualizado)")
                                   .arg(count(s.unchanged), count(s.bookingUpdated))
                             : count(s.unchanged));
    m_examined->setText(count(s.examined));
    m_counts->show();
}

void FrmSincronizacao::showFailure(const QString& text) {
    m_result->setText(text);
    m_result->setStyleSheet(QStringLiteral("color: rgb(192, 0, 0);"));
    m_counts->hide();
}

}  // namespace dfe59000
