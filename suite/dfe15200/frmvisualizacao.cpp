#include "frmvisualizacao.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QVBoxLayout>

#include "fiscaldocs.h"
#include "forms/mdihost.h"
#include "lancamento.h"

namespace dfe15200 {

namespace {

const QLocale& brazil() {
    static const QLocale locale(QLocale::Portuguese, QLocale::Brazil);
    return locale;
}

// The issuer's registration with its mask: the person type decides, else the length does.
QString formattedRegistration(const QString& number, const QString& personType) {
    if (personType == u"F" || (personType.isEmpty() && number.size() == 11)) {
        return fiscal::formatCpf(number);
    }
    return fiscal::formatCnpj(number);
}

// dd/MM/yyyy, with the time when it is not midnight; " - " when there is no date.
QString dateText(const QDateTime& when) {
    if (!when.isValid()) {
        return QStringLiteral(" - ");
    }
    if (when.time() == QTime(0, 0)) {
        return when.date().toString(QStringLiteral("dd/MM/yyyy"));
    }
    return when.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"));
}

}  // namespace

FrmVisualizacao::FrmVisualizacao(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("frmDFE15200"));
    setWindowTitle(QStringLiteral("DFE15200 - Visualização de Documento"));
    auto* layout = new QVBoxLayout(this);

    m_heading = new QLabel(this);
    m_heading->setObjectName(QStringLiteral("lblTitulo"));
    layout->addWidget(m_heading);

    m_message = new QLabel(this);
    m_message->setObjectName(QStringLiteral("lblMensagem"));
    m_message->setWordWrap(true);
    m_message->hide();
    layout->addWidget(m_message);

    m_document = new QGroupBox(QStringLiteral("Documento lançado"), this);
    m_document->setObjectName(QStringLiteral("grpDocumento"));
    new QFormLayout(m_document);
    m_issuerRegistration =
        addValue(QStringLiteral("Inscrição do emitente:"), "lblInscricaoEmitente");
    m_issuerName = addValue(QStringLiteral("Razão social:"), "lblRazaoSocial");
    m_number = addValue(QStringLiteral("Número da nota:"), "lblNumero");
    m_series = addValue(QStringLiteral("Série:"), "lblSerie");
    m_issued = addValue(QStringLiteral("Data de emissão:"), "lblEmissao");
    m_entered = addValue(QStringLiteral("Data de entrada:"), "lblEntrada");
    m_value = addValue(QStringLiteral("Valor (R$):"), "lblValor");
    m_accessKey = new QLineEdit(m_document);
    m_accessKey->setObjectName(QStringLiteral("edtChave"));
    m_accessKey->setReadOnly(true);
    m_accessKey->setMinimumWidth(m_accessKey->fontMetrics().horizontalAdvance(QString(46, u'9')));
    static_cast<QFormLayout*>(m_document->layout())
        ->addRow(QStringLiteral("Chave de acesso:"), m_accessKey);
    layout->addWidget(m_document);
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
    resize(560, 360);
}

QLabel* FrmVisualizacao::addValue(const QString& label, const char* name) {
    auto* value = new QLabel(m_document);
    value->setObjectName(QString::fromLatin1(name));
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    static_cast<QFormLayout*>(m_document->layout())->addRow(label, value);
    return value;
}

void FrmVisualizacao::showEntry(const BookedEntry& e) {
    m_heading->setText(QStringLiteral("<b>Lançamento %1 da filial %2</b>")
                           .arg(e.entry.toHtmlEscaped(), e.branch.toHtmlEscaped()));
    m_issuerRegistration->setText(formattedRegistration(e.issuer, e.issuerPersonType));
    m_issuerName->setText(e.issuerName);
    m_number->setText(e.number);
    m_series->setText(e.series);
    m_issued->setText(dateText(e.issued));
    m_entered->setText(dateText(e.entered));
    m_value->setText(brazil().toString(e.value, 'f', 2));
    m_accessKey->setText(e.accessKey);
    m_message->hide();
    m_document->show();
}

void FrmVisualizacao::showMessage(const QString& text) {
    m_heading->setText(QStringLiteral("<b>Visualização de Documento</b>"));
    m_message->setText(text);
    m_message->show();
    m_document->hide();
}

}  // namespace dfe15200
