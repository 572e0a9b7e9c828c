#include "ui/dbnavigator.h"

#include <QHBoxLayout>
#include <QStyle>
#include <QToolButton>

#include "core/clientdataset.h"
#include "ui/handler.h"

namespace host {

TDBNavigator::TDBNavigator(QWidget* parent) : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    struct Def {
        const char* name;
        const char* hint;
        QStyle::StandardPixmap icon;
    };
    const Def defs[4] = {
        {"btnPrimeiro", "Primeiro", QStyle::SP_MediaSkipBackward},
        {"btnAnterior", "Anterior", QStyle::SP_MediaSeekBackward},
        {"btnProximo", "Próximo", QStyle::SP_MediaSeekForward},
        {"btnUltimo", "Último", QStyle::SP_MediaSkipForward},
    };
    for (int i = 0; i < 4; ++i) {
        auto* b = new QToolButton(this);
        b->setObjectName(QString::fromLatin1(defs[i].name));
        b->setToolTip(QString::fromUtf8(defs[i].hint));
        b->setIcon(style()->standardIcon(defs[i].icon));
        b->setAutoRaise(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setFixedSize(25, 23);
        layout->addWidget(b);
        m_buttons[i] = b;
        connect(b, &QToolButton::clicked, this,
                [this, i] { runHandler(this, [&] { BtnClick(Button(i)); }); });
    }
    layout->addStretch();
    UpdateButtons();
}

TDBNavigator::~TDBNavigator() = default;

void TDBNavigator::SetDataSource(TDataSource* source) {
    if (m_link.attach(source) && source) {
        m_link.onShownChange(this, [this] { UpdateButtons(); });
    }
    UpdateButtons();
}

void TDBNavigator::BtnClick(Button b) {
    TClientDataSet* ds = m_link.dataSet();
    if (!ds || !ds->Active()) {
        return;
    }
    switch (b) {
        case First:
            ds->First();
            break;
        case Prior:
            ds->Prior();
            break;
        case Next:
            ds->Next();
            break;
        case Last:
            ds->Last();
            break;
    }
    UpdateButtons();
}

void TDBNavigator::UpdateButtons() {
    TClientDataSet* ds = m_link.dataSet();
    const bool open = ds && ds->Active() && !ds->IsEmpty();
    const int recNo = open ? ds->RecNo() : 0;
    const int count = open ? ds->RecordCount() : 0;
    m_buttons[First]->setEnabled(open && recNo > 1);
    m_buttons[Prior]->setEnabled(open && recNo > 1);
    m_buttons[Next]->setEnabled(open && recNo < count);
    m_buttons[Last]->setEnabled(open && recNo < count);
}

}  // namespace host
