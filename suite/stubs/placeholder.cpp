#include "placeholder.h"

#include <QLabel>
#include <QListWidget>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/orvanta.h"
#include "forms/mdihost.h"

namespace suite {

ModulePlaceholder::ModulePlaceholder(const QString& code, const QString& title,
                                     const QVariant& params, QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("frm") + code);
    setWindowTitle(code + QStringLiteral(" - ") + title);

    auto* layout = new QVBoxLayout(this);
    auto* heading =
        new QLabel(QStringLiteral("<b>%1</b><br>Módulo %2 em substituição: esta janela mostra os "
                                  "parâmetros recebidos na abertura.")
                       .arg(title.toHtmlEscaped(), code),
                   this);
    heading->setObjectName(QStringLiteral("lblTitulo"));
    heading->setWordWrap(true);
    layout->addWidget(heading);

    auto* list = new QListWidget(this);
    list->setObjectName(QStringLiteral("lstParametros"));
    const QStringList texts = host::Orvanta::paramTexts(params);
    for (qsizetype i = 0; i < texts.size(); ++i)
        list->addItem(QStringLiteral("Parâmetro %1: %2").arg(i + 1).arg(texts.at(i)));
    if (texts.isEmpty())
        list->addItem(QStringLiteral("(nenhum parâmetro)"));
    layout->addWidget(list);

    auto* login = new QLabel(
        QStringLiteral("Empresa %1, filial %2, operador %3")
            .arg(host::Orvanta::EmprProc(), host::Orvanta::FiliProc(), host::Orvanta::Operador()),
        this);
    login->setObjectName(QStringLiteral("lblLogin"));
    layout->addWidget(login);

    auto* close = new QPushButton(QStringLiteral("Fechar"), this);
    close->setObjectName(QStringLiteral("btnFechar"));
    layout->addWidget(close, 0, Qt::AlignRight);
    connect(close, &QPushButton::clicked, this, [this] {
        if (QWidget* sub = host::MdiHost::subWindowOf(this))
            sub->close();
        else
            this->close();
    });
    resize(480, 320);
}

void openPlaceholder(const QString& code, const QString& title, const QVariant& params) {
    host::MdiHost::addChild(new ModulePlaceholder(code, title, params));
}

}  // namespace suite
